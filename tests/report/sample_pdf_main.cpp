// Writes the sample week's report to the PDF named on the command line:
//   QT_QPA_PLATFORM=offscreen report_sample_pdf OUT.pdf
#include "report/report_pdf.h"
#include "report/sample_report.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "Usage: report_sample_pdf OUT.pdf\n");
        return 2;
    }
    QString strError;
    if (!WriteSupplyReportPdf(SampleReport::Week(), SReportDocument{QStringLiteral("Счётчик 12, ТП-5 Лесная")},
                              QString::fromLocal8Bit(argv[1]), strError)) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(strError));
        return 1;
    }
    return 0;
}
