// The printed report read back as a reader's tools see it: pdftotext finds
// its texts, pdfinfo its page size and count, pdfimages that its plots are
// vectors and no picture.
#include "report/report_pdf.h"
#include "report/sample_report.h"
#include "test_files.h"

#include <QApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// The tool's standard output, or "<tool failed>".
QString RunTool(const QString &strTool, const QStringList &args)
{
    QProcess process;
    process.start(strTool, args);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return QStringLiteral("<%1 failed>").arg(strTool);
    return QString::fromUtf8(process.readAllStandardOutput());
}

class ReportPdfTest : public testing::Test {
protected:
    // The document written to a file, and its text as pdftotext lays it out.
    QString Write(const SSupplyReport &report, const QString &strTitle = QStringLiteral("Счётчик 12, ТП-5 Лесная"))
    {
        const QString strPath = m_dir.filePath(QStringLiteral("report.pdf"));
        QString strError;
        EXPECT_TRUE(WriteSupplyReportPdf(report, SReportDocument{strTitle}, strPath, strError)) << strError.toStdString();
        return strPath;
    }
    static QString Text(const QString &strPath) { return RunTool(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), strPath, QStringLiteral("-")}); }
    static QString Info(const QString &strPath) { return RunTool(QStringLiteral("pdfinfo"), {strPath}); }
    static int Pages(const QString &strPath)
    {
        const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("^Pages:\\s+(\\d+)$"),
                                                                 QRegularExpression::MultilineOption)
                                                  .match(Info(strPath));
        return match.hasMatch() ? match.captured(1).toInt() : -1;
    }
    // The line of the verdict table that starts with the quantity and phase.
    static QString TableLine(const QString &strText, const QString &strQuantity, const QString &strPhase)
    {
        const QRegularExpression line(QStringLiteral("^\\s*%1\\s+%2\\s+\\S.*$")
                                          .arg(QRegularExpression::escape(strQuantity), QRegularExpression::escape(strPhase)),
                                      QRegularExpression::MultilineOption);
        return line.match(strText).captured(0);
    }

    QTemporaryDir m_dir;
};

TEST_F(ReportPdfTest, AWeekReadsBackWithItsTitlePeriodCountsAndVerdicts)
{
    const SSupplyReport report = SampleReport::Week();
    const QString strText = Text(Write(report));
    // Paragraphs wrap where the page ends.
    const QString strFlowing = strText.simplified();

    for (const QString &strExpected : {
             QStringLiteral("Качество электроэнергии по EN 50160"),
             QStringLiteral("Счётчик и место: Счётчик 12, ТП-5 Лесная"),
             QStringLiteral("Период: 01.12.2026 00:00 — 08.12.2026 00:00 (UTC+03:00), 7 сут."),
             QStringLiteral("По журналам списка «Минута»"),
             QStringLiteral("10-минутных интервалов: действительных 996, недействительных 12"),
             QStringLiteral("повторы одного времени учтены один раз: 60"),
             QStringLiteral("не измерены прибором класса A по IEC 61000-4-30"),
             QStringLiteral("Отклонение напряжения dU, %"),
             QStringLiteral("Отклонение частоты dF, Гц"),
             QStringLiteral("Несимметрия напряжений K2, %"),
             QStringLiteral("Гармоники напряжения Ku2 … Ku40, % от основной"),
             QStringLiteral("Суммарный коэффициент гармоник Ku, %"),
             QStringLiteral("Итог: не соответствует: 3 из 158 оценённых строк."),
         })
        EXPECT_TRUE(strFlowing.contains(strExpected)) << strExpected.toStdString();
    // A week is what EN 50160 judges: no remark, and no bad rows to name.
    EXPECT_FALSE(strText.contains(QStringLiteral("не равен неделе")));
    EXPECT_FALSE(strText.contains(QStringLiteral("не удалось прочитать")));

    struct SExpectedRow {
        const char *pName;
        QString strQuantity, strPhase, strCells;
    };
    const SExpectedRow rows[] = {
        // 60 intervals of 996 beyond +10 %, the bound of both bands: 93.98 % within.
        {"dUB fails its share", "dU", "B", QStringLiteral("-10 … 10 95 996 60 60 93.98")},
        {"one dUC interval breaks the 100 % band", "dU", "C", QStringLiteral("-10 … 10 95 996 1 1 99.90")},
        {"dUA passes", "dU", "A", QStringLiteral("-10 … 10 95 996 0 0 100.00")},
        // 40 intervals at 7 %: 4 % of the week, within the 5 % allowed.
        {"Ku5A passes at 96 %", "Ku5", "A", QStringLiteral("≤6 95 996 40 — 95.98")},
        {"dF has its own share", "dF", "—", QStringLiteral("-0.5 … 0.5 99.5 996 0 0 100.00")},
    };
    const SReportRow *pKu11B = nullptr;
    for (const SReportRow &row : report.rows)
        pKu11B = row.strColumn == QLatin1String("Ku11B") ? &row : pKu11B;
    ASSERT_TRUE(pKu11B && pKu11B->eVerdict == EVerdict::Fail);
    for (const SExpectedRow &row : rows) {
        const QString strLine = TableLine(strText, row.strQuantity, row.strPhase).simplified();
        EXPECT_TRUE(strLine.contains(row.strCells)) << row.pName << ": " << strLine.toStdString();
        const bool bFails = QLatin1String(row.pName).contains(QLatin1String("fails")) ||
                            QLatin1String(row.pName).contains(QLatin1String("breaks"));
        EXPECT_EQ(strLine.endsWith(QStringLiteral("не соответствует")), bFails) << row.pName;
        EXPECT_TRUE(strLine.endsWith(QStringLiteral("соответствует"))) << row.pName;
    }
    EXPECT_TRUE(TableLine(strText, QStringLiteral("Ku11"), QStringLiteral("B")).endsWith(QStringLiteral("не соответствует")));
}

TEST_F(ReportPdfTest, PagesAreA4AndNumbered)
{
    const QString strPath = Write(SampleReport::Week());
    const QString strInfo = Info(strPath);
    EXPECT_TRUE(strInfo.contains(QRegularExpression(QStringLiteral("Page size:\\s+595 x 842 pts \\(A4\\)"))))
        << strInfo.toStdString();
    EXPECT_TRUE(strInfo.contains(
        QRegularExpression(QStringLiteral("Title:\\s+Качество электроэнергии по EN 50160: Счётчик 12, ТП-5 Лесная"))))
        << strInfo.toStdString();
    // 158 rows take the first page's foot and two more; the five plots two a page.
    const int nPages = Pages(strPath);
    EXPECT_EQ(nPages, 6);
    const QString strText = Text(strPath);
    EXPECT_EQ(strText.count(u'\f'), nPages);
    for (int n = 1; n <= nPages; ++n)
        EXPECT_TRUE(strText.contains(QStringLiteral("Стр. %1").arg(n))) << n;
}

TEST_F(ReportPdfTest, PlotsAreVectorsWithTheirTexts)
{
    const QString strPath = Write(SampleReport::Week());
    const QStringList images =
        RunTool(QStringLiteral("pdfimages"), {QStringLiteral("-list"), strPath}).split(u'\n', Qt::SkipEmptyParts);
    // Only the two lines of the list's heading: no picture anywhere.
    EXPECT_EQ(images.size(), 2) << images.join(u'\n').toStdString();
    // Legends and axes are text in the page, as only a vector plot has them.
    const QString strText = Text(strPath);
    for (const QString &strExpected : {QStringLiteral("dUCA"), QStringLiteral("предельная полоса (100 %)"),
                                       QStringLiteral("Время (UTC+03:00)"), QStringLiteral("Порядок гармоники"),
                                       QStringLiteral("P95 выше допуска")})
        EXPECT_TRUE(strText.contains(strExpected)) << strExpected.toStdString();
}

TEST_F(ReportPdfTest, APeriodNotAWeekAndBadRowsAreSaid)
{
    SSupplyReport report;
    report.nFromMsecs = SampleReport::WeekStart();
    report.nToMsecs = report.nFromMsecs + (2 * 24 + 5) * 3600 * qint64(1000);
    report.nOffsetSeconds = SampleReport::OFFSET_SECONDS;
    report.eSet = EDataSet::Second;
    report.nInvalidIntervals = 318;
    report.nBadRows = 14;
    report.firstBadRows = {{QStringLiteral("/logs/a.csv"), 7}, {QStringLiteral("/logs/b.csv"), 1200}};
    SReportRow df = SampleReport::Row(QStringLiteral("dF"), QString(), EQuantityGroup::Frequency, {-0.5, 0.5});
    SampleReport::Judge(df, 318);
    report.rows.push_back(df);

    const QString strPath = Write(report, QString());
    const QString strText = Text(strPath);
    const QString strFlowing = strText.simplified();
    for (const QString &strExpected : {
             QStringLiteral("Период: 01.12.2026 00:00 — 03.12.2026 05:00 (UTC+03:00), 2 сут. 5 ч"),
             QStringLiteral("Период не равен неделе"),
             QStringLiteral("По журналам списка «Секунда»"),
             QStringLiteral("Строк, которые не удалось прочитать: 14; первые: /logs/a.csv:7, /logs/b.csv:1200"),
             QStringLiteral("Нет ни одного действительного интервала."),
             // Rows without data pass nothing.
             QStringLiteral("Итог: нет данных: нет ни одного действительного интервала."),
         })
        EXPECT_TRUE(strFlowing.contains(strExpected)) << strExpected.toStdString();
    EXPECT_FALSE(strText.contains(QStringLiteral("Счётчик и место")));
    EXPECT_TRUE(TableLine(strText, QStringLiteral("dF"), QStringLiteral("—")).endsWith(QStringLiteral("нет данных")));
    // One group: the summary with its table, and a page for the plot.
    EXPECT_EQ(Pages(strPath), 2);
}

TEST_F(ReportPdfTest, AFailedWriteKeepsTheEarlierFileAndSaysWhy)
{
    const QString strPath = m_dir.filePath(QStringLiteral("report.pdf"));
    ASSERT_TRUE(TestFiles::PutFile(strPath, "earlier"));
    QString strError;
    {
        TestFiles::CFileSizeLimit full(1000);
        EXPECT_FALSE(WriteSupplyReportPdf(SampleReport::Week(), SReportDocument{}, strPath, strError));
    }
    EXPECT_EQ(TestFiles::FileBytes(strPath), "earlier");
    EXPECT_TRUE(strError.startsWith(QStringLiteral("Не удалось записать отчёт в ") + strPath + QStringLiteral(": ")))
        << strError.toStdString();

    const QString strMissing = m_dir.filePath(QStringLiteral("no/such/folder/report.pdf"));
    EXPECT_FALSE(WriteSupplyReportPdf(SampleReport::Week(), SReportDocument{}, strMissing, strError));
    EXPECT_TRUE(strError.contains(strMissing)) << strError.toStdString();
}

} // namespace

int main(int argc, char **argv)
{
    // The plots are widgets; no display is needed to paint them into a page.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
