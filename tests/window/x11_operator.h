// Drives real windows on an X server as an operator does: the pointer and the
// keyboard through xdotool, openbox as the window manager (it activates a
// window on a click and gives new windows the focus, as a desktop does), and
// pictures of the screen through ImageMagick's import. For tests that run
// under xvfb-run on the xcb platform; Missing() tells a test when to skip.
#pragma once

#include "window/access_dlg.h"
#include "window_test_support.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

namespace X11 {

// Empty when the display and the tools are there; otherwise what is missing.
inline QString Missing()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return QStringLiteral("no X display: run under xvfb-run");
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return QStringLiteral("not on the xcb platform");
    for (const char *pTool : {"xdotool", "openbox", "import"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(pTool)).isEmpty())
            return QString::fromLatin1(pTool) + QStringLiteral(" is missing");
    }
    return QString();
}

// openbox, for as long as this object lives.
class CWindowManager {
public:
    ~CWindowManager()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(3000);
    }

    // True once it manages the screen (it then reports the current desktop).
    bool Start()
    {
        m_process.setProgram(QStringLiteral("openbox"));
        m_process.setArguments({QStringLiteral("--sm-disable")});
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.start();
        if (!m_process.waitForStarted(5000))
            return false;
        return QTest::qWaitFor(
            [] {
                QProcess query;
                query.start(QStringLiteral("xdotool"), {QStringLiteral("get_desktop")});
                query.setStandardErrorFile(QProcess::nullDevice());
                return query.waitForFinished(2000) && query.exitStatus() == QProcess::NormalExit
                       && query.exitCode() == 0;
            },
            10000);
    }

private:
    QProcess m_process;
};

// Where on the screen a point of a widget is (its centre by default).
inline QPoint ScreenPoint(const QWidget *pWidget, QPoint local = QPoint(-1, -1))
{
    return pWidget->mapToGlobal(local == QPoint(-1, -1) ? pWidget->rect().center() : local);
}

// What the operator does, in order: xdotool commands, each followed by a
// pause. One process each: xdotool's own chaining lets "type" swallow the
// rest of the line. Keys go to whatever window has the focus, as a keyboard's
// do: never to a window the test picks.
class CScript {
public:
    struct SStep {
        QStringList args; // empty: only the pause, or the wait for fnReady
        int nPauseMs = 0;
        std::function<bool()> fnReady;
    };

    CScript &Click(QPoint screen)
    {
        m_steps.push_back({{QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(screen.x()),
                            QString::number(screen.y()), QStringLiteral("click"), QStringLiteral("1")},
                           150,
                           {}});
        return *this;
    }
    CScript &Click(const QWidget *pWidget) { return Click(ScreenPoint(pWidget)); }
    // Key names as xdotool knows them: "End", "Tab", "Escape", "ctrl+g".
    CScript &Key(const QString &strKeys)
    {
        m_steps.push_back({{QStringLiteral("key"), strKeys}, 60, {}});
        return *this;
    }
    CScript &Type(const QString &strText)
    {
        m_steps.push_back({{QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("60"), strText}, 60, {}});
        return *this;
    }
    CScript &Pause(int nMs)
    {
        m_steps.push_back({{}, nMs, {}});
        return *this;
    }
    // Waits until fnReady holds (as the operator waits for a box to show);
    // the script fails when it does not within 30 s.
    CScript &Until(std::function<bool()> fnReady)
    {
        m_steps.push_back({{}, 0, std::move(fnReady)});
        return *this;
    }
    const std::vector<SStep> &Steps() const { return m_steps; }

private:
    std::vector<SStep> m_steps;
};

// Plays a script while the caller keeps Qt's event loop running (the window
// may well be inside a command of its own while the acts arrive).
class CPlayer {
public:
    CPlayer()
    {
        m_process.setProgram(QStringLiteral("xdotool"));
        m_process.setProcessChannelMode(QProcess::ForwardedChannels);
        QObject::connect(&m_process, &QProcess::finished, [this](int nExitCode, QProcess::ExitStatus status) {
            if (status != QProcess::NormalExit || nExitCode != 0)
                m_bFailed = true;
            QTimer::singleShot(m_steps[m_nNext - 1].nPauseMs, &m_process, [this] { Next(); });
        });
    }
    ~CPlayer()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
    void Play(const CScript &script)
    {
        m_steps = script.Steps();
        m_nNext = 0;
        m_bFinished = false;
        m_bFailed = false;
        Next();
    }
    bool Finished() const { return m_bFinished; }
    bool Succeeded() const { return m_bFinished && !m_bFailed; }

private:
    void Next()
    {
        if (m_bFailed || m_nNext == m_steps.size()) {
            m_bFinished = true;
            return;
        }
        const CScript::SStep &step = m_steps[m_nNext++];
        if (step.fnReady) {
            m_waited.start();
            WaitUntilReady(step.fnReady);
            return;
        }
        if (step.args.isEmpty()) {
            QTimer::singleShot(step.nPauseMs, &m_process, [this] { Next(); });
            return;
        }
        m_process.setArguments(step.args);
        m_process.start();
    }

    void WaitUntilReady(const std::function<bool()> &fnReady)
    {
        if (fnReady()) {
            Next();
            return;
        }
        if (m_waited.hasExpired(30000)) {
            m_bFailed = true;
            Next();
            return;
        }
        QTimer::singleShot(20, &m_process, [this, fnReady] { WaitUntilReady(fnReady); });
    }

    QProcess m_process;
    QElapsedTimer m_waited;
    std::vector<CScript::SStep> m_steps;
    std::size_t m_nNext = 0;
    bool m_bFinished = true;
    bool m_bFailed = false;
};

// The whole screen into a PNG file.
inline bool Screenshot(const QString &strPath)
{
    return QProcess::execute(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), strPath})
           == 0;
}

// The main window as the operator has it after start, on the real boxes and
// dialogs, in a folder of its own, with a simulated meter on the selected
// port, under openbox. A box would wait for an answer no one gives: each one
// is noted and closed, and the access dialog is confirmed unless the test
// answers it itself (m_bConfirmAccess false).
class CWindowFixture : public QObject {
protected:
    CWindowManager m_windowManager;
    std::unique_ptr<QTemporaryDir> m_pDir;
    QString m_strOldDir;
    std::unique_ptr<CMeterSim> m_pMeter;
    std::unique_ptr<CVarikDlg> m_pWindow;
    QStringList m_boxes; // the texts of the boxes and dialogs that came up
    QTimer m_boxWatch;
    bool m_bConfirmAccess = true;

    template <typename T> T *Find(const char *pName) const
    {
        T *pWidget = m_pWindow->findChild<T *>(QString::fromLatin1(pName));
        if (!pWidget)
            qFatal("no widget %s", pName);
        return pWidget;
    }
    QPoint At(const char *pName) const { return ScreenPoint(Find<QWidget>(pName)); }

    // Once per test program, after Missing() came back empty.
    bool StartScreen()
    {
        connect(&m_boxWatch, &QTimer::timeout, [this] {
            auto *pModal = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (!pModal)
                return;
            if (qobject_cast<CAccessDlg *>(pModal)) {
                if (m_bConfirmAccess)
                    pModal->accept();
                return;
            }
            const auto *pBox = qobject_cast<QMessageBox *>(pModal);
            m_boxes.append(pBox ? pBox->text() : QString::fromLatin1(pModal->metaObject()->className()));
            pModal->done(QDialog::Rejected);
        });
        m_boxWatch.start(100);
        return m_windowManager.Start();
    }

    // True once it is shown and active.
    bool OpenWindow()
    {
        m_pDir = std::make_unique<QTemporaryDir>();
        m_strOldDir = QDir::currentPath();
        QDir::setCurrent(m_pDir->path());
        m_boxes.clear();
        m_pMeter = StartMeter();
        SWindowSetup setup;
        setup.strTitle = QStringLiteral("varik");
        setup.extraPorts = {m_pMeter->SlavePath()};
        setup.fnSystemPorts = [] { return QStringList(); };
        setup.strPort = m_pMeter->SlavePath();
        setup.strDeviceNumber = QStringLiteral("1");
        setup.strLimitsPath = m_pDir->filePath(QStringLiteral("limits.txt"));
        m_pWindow = std::make_unique<CVarikDlg>(setup);
        m_pWindow->show();
        return QTest::qWaitForWindowActive(m_pWindow.get());
    }

    void CloseWindow()
    {
        m_pWindow.reset();
        m_pMeter.reset();
        QDir::setCurrent(m_strOldDir);
        m_pDir.reset();
    }
};

// The main of an X11 test: without a display the test only skips, since the
// xcb platform would not start.
template <class TTest>
int RunTest(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TTest test;
    return QTest::qExec(&test, argc, argv);
}

} // namespace X11
