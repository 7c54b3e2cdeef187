// Takes docs/screenshot.png: the real window with the demo meter, after the
// three reads, on an X server; with --save-dialog, docs/save-dialog.png: the
// same window with the save dialog of the per-second list open over it.
// Qt's own texts are loaded in Russian, as varik loads them. Not a test; run
// it under Xvfb:
//   xvfb-run -a -s "-screen 0 1280x900x24" build/tests/window/window_screenshot docs/screenshot.png
//   xvfb-run -a -s "-screen 0 1280x900x24" build/tests/window/window_screenshot --save-dialog docs/save-dialog.png
#include "screenshot_support.h"
#include "window/qt_translations.h"

#include <QFileDialog>
#include <QPushButton>
#include <QTest>

namespace {

// The window's frame with a small margin.
bool TakeScreen(const QRect &frame, const QString &strOut)
{
    return ShootScreen(frame.adjusted(-8, -8, 8, 8), strOut);
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
    CScreenshotStage stage;
    if (!stage.Start())
        return 1;
    CVarikDlg window(stage.Setup());
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;

    {
        const CAccessConfirm confirm;
        for (const char *pButton : {"m_btnReadSecond", "m_btnReadMinute", "m_btnReadDay"})
            QTest::mouseClick(window.findChild<QPushButton *>(QString::fromLatin1(pButton)), Qt::LeftButton);
    }
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
