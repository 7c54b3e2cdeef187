// varik-report: `varik-cli report` with the PDF, which needs Qt's widgets
// for its plots while varik-cli links none. varik-cli runs it with its own
// arguments when --pdf is given; it takes the same ones.
#include "app/report_command.h"
#include "report/report_pdf.h"

#include <QApplication>

int main(int argc, char **argv)
{
    // The document is painted off screen: no window is ever shown, so no
    // display is needed, and a display that is set but gone is no failure.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("varik-report"));
    QApplication::setApplicationVersion(QStringLiteral(VARIK_VERSION));
    return RunReportCommand(QApplication::arguments(), WriteSupplyReportPdf);
}
