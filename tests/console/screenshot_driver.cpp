// Takes docs/screenshot.png: the real window with the demo meter, after the
// three reads, on an X server. Not a test; run it under Xvfb:
//   xvfb-run -a -s "-screen 0 1280x900x24" build/tests/console/console_screenshot docs/screenshot.png
#include "access_dlg.h"
#include "meter_sim.h"
#include "varik_dlg.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString strOut = QFileInfo(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshot.png"))
                               .absoluteFilePath();
    QTemporaryDir dir; // no settings file of the developer's is read or written
    QDir::setCurrent(dir.path());

    CMeterSim meter;
    QString strError;
    if (!meter.Start(&strError)) {
        std::fprintf(stderr, "the demo meter did not start: %s\n", qPrintable(strError));
        return 1;
    }
    SConsoleSetup setup;
    setup.strTitle = QStringLiteral("varik");
    setup.extraPorts = {meter.SlavePath()};
    setup.strPort = meter.SlavePath();
    setup.strDeviceNumber = QStringLiteral("1");
    CVarikDlg window(setup);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;

    // The operator confirms the access dialog with the first level.
    QTimer confirm;
    QObject::connect(&confirm, &QTimer::timeout, [] {
        if (auto *pAccess = qobject_cast<CAccessDlg *>(QApplication::activeModalWidget()))
            pAccess->accept();
    });
    confirm.start(50);
    for (const char *pButton : {"m_btnReadSecond", "m_btnReadMinute", "m_btnReadDay"})
        QTest::mouseClick(window.findChild<QPushButton *>(QString::fromLatin1(pButton)), Qt::LeftButton);
    confirm.stop();
    window.findChild<QPushButton *>(QStringLiteral("m_btnExit"))->setFocus();
    QTest::qWait(500);

    // The whole screen, then cut to the window with a small margin.
    const QRect frame = window.frameGeometry().adjusted(-8, -8, 8, 8);
    const QString strGeometry = QStringLiteral("%1x%2+%3+%4").arg(frame.width()).arg(frame.height()).arg(frame.x()).arg(frame.y());
    if (QProcess::execute(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), strOut}) != 0
        || QProcess::execute(QStringLiteral("convert"), {strOut, QStringLiteral("-crop"), strGeometry,
                                                         QStringLiteral("+repage"), strOut}) != 0) {
        std::fprintf(stderr, "import or convert failed\n");
        return 1;
    }
    return 0;
}
