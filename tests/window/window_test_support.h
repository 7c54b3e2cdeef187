// What the window's tests share: a window on a scripted set of dialogs, run in
// a directory of its own, with simulated meters on pseudo-terminals.
#pragma once

#include "link/frame.h"
#include "sim/meter_sim.h"
#include "scripted_dialogs.h"
#include "window/varik_dlg.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <functional>
#include <memory>

// A started simulated meter; the test fails at once when it cannot start.
inline std::unique_ptr<CMeterSim> StartMeter()
{
    auto pMeter = std::make_unique<CMeterSim>();
    QString strError;
    if (!pMeter->Start(&strError))
        qFatal("the simulated meter did not start: %s", qPrintable(strError));
    return pMeter;
}

// The command code of each request the meter received, in order.
inline QList<int> Commands(const CMeterSim &meter)
{
    QList<int> commands;
    for (const QByteArray &request : meter.Requests())
        commands.append(quint8(request.at(6)));
    return commands;
}

// Runs fn once, from inside the first command of the window that the timer
// finds running (timers run while the link waits for the meter).
inline std::unique_ptr<QTimer> OnceWhileBusy(const CVarikDlg &window, std::function<void()> fn)
{
    auto pTimer = std::make_unique<QTimer>();
    QTimer *pRaw = pTimer.get();
    QObject::connect(pRaw, &QTimer::timeout, [&window, pRaw, fn] {
        if (!window.IsBusy())
            return;
        pRaw->stop();
        fn();
    });
    pTimer->start(5);
    return pTimer;
}

// Input as the window system hands it to a shown window, which then picks the
// widget: the one under a click, the focus widget for a key. Input sent
// straight to a widget skips that step, as no operator's input does.
inline void ClickThroughWindow(QWidget *pWidget, Qt::MouseButton button = Qt::LeftButton)
{
    QWindow *pHandle = pWidget->window()->windowHandle();
    QTest::mouseClick(pHandle, button, {}, pHandle->mapFromGlobal(pWidget->mapToGlobal(pWidget->rect().center())));
}

inline void KeyThroughWindow(QWidget *pWindow, Qt::Key key, Qt::KeyboardModifiers modifiers = {})
{
    QTest::keyClick(pWindow->windowHandle(), key, modifiers);
}

inline void TypeThroughWindow(QWidget *pWindow, const char *pText)
{
    for (; *pText; ++pText)
        QTest::keyClick(pWindow->windowHandle(), *pText);
}

// Runs each test in a fresh current directory, so the window's settings
// file and its limits file land there; a window made otherwise finds its
// limits file in Qt's test folder, never in the user's configuration.
class CWindowTestBase : public QObject {
    Q_OBJECT
protected:
    std::unique_ptr<QTemporaryDir> m_pDir;
    QString m_strOldDir;
    CScriptedDialogs m_dialogs;
    std::unique_ptr<CVarikDlg> m_pWindow;

    QString Path(const QString &strName) const { return m_pDir->filePath(strName); }
    // In a folder of its own, out of the way of the files a test counts.
    QString LimitsPath() const { return Path(QStringLiteral("config/limits.txt")); }

    CVarikDlg &MakeWindow(const QStringList &ports, const QString &strDeviceNumber = QStringLiteral("1"))
    {
        SWindowSetup setup;
        setup.strTitle = QStringLiteral("varik");
        setup.extraPorts = ports;
        setup.fnSystemPorts = [] { return QStringList(); };
        setup.strLimitsPath = LimitsPath();
        m_pWindow = std::make_unique<CVarikDlg>(setup, &m_dialogs);
        if (!strDeviceNumber.isNull())
            Edit("m_editDeviceNumber")->setText(strDeviceNumber);
        return *m_pWindow;
    }

    template <typename T> T *Find(const char *pName) const
    {
        T *pWidget = m_pWindow->findChild<T *>(QString::fromLatin1(pName));
        if (!pWidget)
            qFatal("no widget %s", pName);
        return pWidget;
    }
    QLineEdit *Edit(const char *pName) const { return Find<QLineEdit>(pName); }
    QAbstractButton *Button(const char *pName) const { return Find<QAbstractButton>(pName); }
    QComboBox *Combo(const char *pName) const { return Find<QComboBox>(pName); }
    void Click(const char *pName) const { QTest::mouseClick(Button(pName), Qt::LeftButton); }

    // The texts a list view shows, row by row.
    QList<QStringList> Shown(const char *pList) const
    {
        const QAbstractItemModel *pModel = Find<QAbstractItemView>(pList)->model();
        QList<QStringList> rows;
        for (int r = 0; r < pModel->rowCount(); ++r)
            rows.append({pModel->index(r, 0).data().toString(), pModel->index(r, 1).data().toString()});
        return rows;
    }

protected slots:
    void init()
    {
        QStandardPaths::setTestModeEnabled(true);
        m_pDir = std::make_unique<QTemporaryDir>();
        m_strOldDir = QDir::currentPath();
        QDir::setCurrent(m_pDir->path());
        m_dialogs = CScriptedDialogs();
    }
    void cleanup()
    {
        m_pWindow.reset();
        QDir::setCurrent(m_strOldDir);
        m_pDir.reset();
    }
};
