// What the screenshot drivers share: the window against a demo meter in a
// directory of its own, the operator's "OK" in the access dialog, and a cut
// of the X screen.
#pragma once

#include "sim/meter_sim.h"
#include "window/access_dlg.h"
#include "window/varik_dlg.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

// A started demo meter and the window's setup for it. The current directory
// is a fresh one: no settings or limits file of the developer's is read or
// written.
class CScreenshotStage {
public:
    bool Start()
    {
        QDir::setCurrent(m_dir.path());
        QString strError;
        if (m_meter.Start(&strError))
            return true;
        std::fprintf(stderr, "the demo meter did not start: %s\n", qPrintable(strError));
        return false;
    }
    CMeterSim &Meter() { return m_meter; }
    SWindowSetup Setup() const
    {
        SWindowSetup setup;
        setup.strTitle = QStringLiteral("varik");
        setup.extraPorts = {m_meter.SlavePath()};
        setup.strPort = m_meter.SlavePath();
        setup.strDeviceNumber = QStringLiteral("1");
        setup.strLimitsPath = m_dir.filePath(QStringLiteral("limits.txt"));
        return setup;
    }

private:
    QTemporaryDir m_dir;
    CMeterSim m_meter;
};

// While it lives the operator confirms the access dialog with the first level.
class CAccessConfirm {
public:
    CAccessConfirm()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [] {
            if (auto *pAccess = qobject_cast<CAccessDlg *>(QApplication::activeModalWidget()))
                pAccess->accept();
        });
        m_timer.start(50);
    }

private:
    QTimer m_timer;
};

// The whole X screen, cut to area; finish: more of convert's options.
inline bool ShootScreen(const QRect &area, const QString &strOut, const QStringList &finish = {})
{
    const QString strGeometry =
        QStringLiteral("%1x%2+%3+%4").arg(area.width()).arg(area.height()).arg(area.x()).arg(area.y());
    if (QProcess::execute(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), strOut}) != 0
        || QProcess::execute(QStringLiteral("convert"),
                             QStringList{strOut, QStringLiteral("-crop"), strGeometry, QStringLiteral("+repage")}
                                 + finish + QStringList{strOut})
               != 0) {
        std::fprintf(stderr, "import or convert failed\n");
        return false;
    }
    return true;
}
