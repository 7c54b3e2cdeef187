// Writes the sample report (a week and a short week) to the PDF named on the
// command line, or one of the tests' other cases to look at:
//   QT_QPA_PLATFORM=offscreen report_sample_pdf OUT.pdf [raised-ku5 | clock-change]
#include "report/report_pdf.h"
#include "report/sample_report.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString strCase = argc == 3 ? QString::fromLocal8Bit(argv[2]) : QString();
    if (argc < 2 || argc > 3 || !(strCase.isEmpty() || strCase == u"raised-ku5" || strCase == u"clock-change")) {
        std::fprintf(stderr, "Usage: report_sample_pdf OUT.pdf [raised-ku5 | clock-change]\n");
        return 2;
    }
    const SSupplyReport report = strCase == u"raised-ku5"     ? SampleReport::Weeks(SampleReport::RaisedKu5())
                                 : strCase == u"clock-change" ? SampleReport::ClockChangeWeek()
                                                              : SampleReport::Weeks();
    SReportDocument document;
    document.strTitle = QStringLiteral("Счётчик 12, ТП-5 Лесная");
    document.strMeter = QStringLiteral("tp5-lesnaya");
    document.logs = {QStringLiteral("/var/lib/varikd/tp5-lesnaya/2026-12-01.csv"),
                     QStringLiteral("/var/lib/varikd/tp5-lesnaya/2026-12-02.csv")};
    document.made = QDateTime(QDate(2026, 12, 11), QTime(9, 30), QTimeZone(SampleReport::OFFSET_SECONDS));
    document.strVersion = QStringLiteral("1.0");
    if (strCase == u"raised-ku5")
        document.strLimitsFile = QStringLiteral("/etc/varik/limits.txt");
    QString strError;
    if (!WriteSupplyReportPdf(report, document, QString::fromLocal8Bit(argv[1]), strError)) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(strError));
        return 1;
    }
    return 0;
}
