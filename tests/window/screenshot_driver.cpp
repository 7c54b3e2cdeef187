// Takes docs/screenshot.png: the real window with the demo meter, after the
// three reads, on an X server; with --save-dialog, docs/save-dialog.png: the
// same window with the save dialog of the per-second list open over it.
// Qt's own texts are loaded in Russian, as varik loads them. Not a test; run
// it under Xvfb:
//   xvfb-run -a -s "-screen 0 1280x900x24" build/tests/window/window_screenshot docs/screenshot.png
//   xvfb-run -a -s "-screen 0 1280x900x24" build/tests/window/window_screenshot --save-dialog docs/save-dialog.png
#include "window/access_dlg.h"
#include "sim/meter_sim.h"
#include "window/qt_translations.h"
#include "window/varik_dlg.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>

namespace {

// The whole screen, then cut to the frame with a small margin.
bool TakeScreen(QRect frame, const QString &strOut)
{
    frame.adjust(-8, -8, 8, 8);
    const QString strGeometry = QStringLiteral("%1x%2+%3+%4").arg(frame.width()).arg(frame.height()).arg(frame.x()).arg(frame.y());
    if (QProcess::execute(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), strOut}) != 0
        || QProcess::execute(QStringLiteral("convert"), {strOut, QStringLiteral("-crop"), strGeometry,
                                                         QStringLiteral("+repage"), strOut}) != 0) {
        std::fprintf(stderr, "import or convert failed\n");
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QStringList args = QApplication::arguments().mid(1);
    const bool bSaveDialog = args.removeAll(QStringLiteral("--save-dialog")) > 0;
    const QString strOut =
        QFileInfo(args.isEmpty() ? QStringLiteral("screenshot.png") : args.constFirst()).absoluteFilePath();
    InstallQtTranslations(app);
    QTemporaryDir dir; // no settings or limits file of the developer's is read or written
    QDir::setCurrent(dir.path());

    CMeterSim meter;
    QString strError;
    if (!meter.Start(&strError)) {
        std::fprintf(stderr, "the demo meter did not start: %s\n", qPrintable(strError));
        return 1;
    }
    SWindowSetup setup;
    setup.strTitle = QStringLiteral("varik");
    setup.extraPorts = {meter.SlavePath()};
    setup.strPort = meter.SlavePath();
    setup.strDeviceNumber = QStringLiteral("1");
    setup.strLimitsPath = dir.filePath(QStringLiteral("limits.txt"));
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
    if (!bSaveDialog)
        return TakeScreen(window.frameGeometry(), strOut) ? 0 : 1;

    // The operator clicks "Сохранить" under the per-second list; once the
    // file dialog has settled it is taken together with the window and
    // cancelled.
    bool bTaken = false;
    QTimer take;
    QObject::connect(&take, &QTimer::timeout, [&] {
        auto *pDialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!pDialog)
            return;
        take.stop();
        // Beside the per-second list, so that its values stay in sight.
        pDialog->move(window.frameGeometry().topLeft() + QPoint(290, 120));
        QTest::qWait(500);
        bTaken = TakeScreen(window.frameGeometry().united(pDialog->frameGeometry()), strOut);
        pDialog->reject();
    });
    take.start(50);
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("m_btnSaveSecond")), Qt::LeftButton);
    return bTaken ? 0 : 1;
}
