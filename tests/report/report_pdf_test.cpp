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

SReportDocument Document()
{
    SReportDocument document;
    document.strTitle = QStringLiteral("Счётчик 12, ТП-5 Лесная");
    document.strMeter = QStringLiteral("tp5-lesnaya");
    document.strLimitsFile = QStringLiteral("/etc/varik/limits.txt");
    document.logs = {QStringLiteral("/var/lib/varikd/tp5-lesnaya/2026-12-01.csv"),
                     QStringLiteral("/var/lib/varikd/tp5-lesnaya/2026-12-02.csv")};
    document.made = QDateTime(QDate(2026, 12, 11), QTime(9, 30), QTimeZone(SampleReport::OFFSET_SECONDS));
    document.strVersion = QStringLiteral("1.0");
    return document;
}

class ReportPdfTest : public testing::Test {
protected:
    QString Write(const SSupplyReport &report, const SReportDocument &document = Document())
    {
        const QString strPath = m_dir.filePath(QStringLiteral("report.pdf"));
        QString strError;
        EXPECT_TRUE(WriteSupplyReportPdf(report, document, strPath, strError)) << strError.toStdString();
        return strPath;
    }
    // The text as pdftotext lays it out, of every page or of pages nFirst to nLast.
    static QString Text(const QString &strPath, int nFirst = 0, int nLast = 0)
    {
        QStringList args{QStringLiteral("-layout")};
        if (nFirst > 0)
            args << QStringLiteral("-f") << QString::number(nFirst) << QStringLiteral("-l") << QString::number(nLast);
        return RunTool(QStringLiteral("pdftotext"), args << strPath << QStringLiteral("-"));
    }
    static QString Info(const QString &strPath) { return RunTool(QStringLiteral("pdfinfo"), {strPath}); }
    static int Pages(const QString &strPath)
    {
        const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("^Pages:\\s+(\\d+)$"),
                                                                 QRegularExpression::MultilineOption)
                                                  .match(Info(strPath));
        return match.hasMatch() ? match.captured(1).toInt() : -1;
    }
    // The first line (spaces squeezed) that matches the pattern, else empty.
    // pdftotext may drop the space after "≤": patterns allow for it.
    static QString LineMatching(const QString &strText, const QString &strPattern)
    {
        const QRegularExpression pattern(strPattern);
        for (const QString &strLine : strText.split(u'\n')) {
            const QString strSimple = strLine.simplified();
            if (pattern.match(strSimple).hasMatch())
                return strSimple;
        }
        return QString();
    }
    static bool HasLine(const QString &strText, const QString &strPattern)
    {
        return !LineMatching(strText, strPattern).isEmpty();
    }

    QTemporaryDir m_dir;
};

TEST_F(ReportPdfTest, TheFirstPageIsTheVerdictByCharacteristic)
{
    const QString strPath = Write(SampleReport::Weeks());
    const QString strFirst = Text(strPath, 1, 1);
    const QString strFlowing = strFirst.simplified();
    for (const QString &strExpected : {
             QStringLiteral("Качество электроэнергии по EN 50160"),
             QStringLiteral("Счётчик 12, ТП-5 Лесная"),
             QStringLiteral("Счётчик: tp5-lesnaya"),
             QStringLiteral("Период: 01.12.2026 00:00 (UTC+03:00) — 11.12.2026 00:00 (UTC+03:00), 10 сут."),
             QStringLiteral("Часовой пояс: Europe/Moscow. По журналам списка «Секунда»; частота оценена по "
                            "10-секундным средним."),
             QStringLiteral("Пределы: файл /etc/varik/limits.txt."),
             // Characteristics, not rows: dU and the harmonics fail; the
             // rest are short of data in the short week.
             QStringLiteral("Итог: не соответствует: 2 из 5 оценённых характеристик."),
             QStringLiteral("Недель: 2."),
             QStringLiteral("не измерены прибором класса A по IEC 61000-4-30"),
         })
        EXPECT_TRUE(strFlowing.contains(strExpected)) << strExpected.toStdString() << "\n" << strFirst.toStdString();
    EXPECT_FALSE(strFlowing.contains(QStringLiteral("заданным пределам")));

    const struct {
        const char *pName;
        QString strPattern; // a whole line
    } rows[] = {
        // dUB's 60 intervals at +11 % put its P95 beyond the bound.
        {"dU's worst is phase B in the first week",
         QStringLiteral("^Отклонение напряжения dU, % B, с 01\\.12\\.2026 P95 10\\.\\d{3} ≤ ?10 не соответствует$")},
        {"the harmonics' worst is Ku11 B",
         QStringLiteral("^Гармоники Ku2 … Ku40, % Ku11 B, с 01\\.12\\.2026 P95 3\\.\\d{3} ≤ ?3\\.5 не соответствует$")},
        {"dF's lower side is the nearer one, short of data in the short week",
         QStringLiteral("^Отклонение частоты dF, Гц неделя с 08\\.12\\.2026 P05 -0\\.0\\d\\d ≥ ?-0\\.5 "
                        "недостаточно данных$")},
        {"THD short of data", QStringLiteral("^Суммарные гармоники Ku, % .* недостаточно данных$")},
        {"K2 short of data", QStringLiteral("^Несимметрия K2, % .* недостаточно данных$")},
        {"events counted", QStringLiteral("^Прерывания, провалы, перенапряжения прерываний 1, провалов 2, "
                                          "перенапряжений 0 не нормируются подсчитаны$")},
        {"Plt not judged", QStringLiteral("^Доза фликера Plt — — — не оценивается$")},
        {"rapid changes not judged", QStringLiteral("^Быстрые изменения напряжения — — — не оценивается$")},
        {"signalling not judged", QStringLiteral("^Напряжения сигналов в сети — — — не оценивается$")},
        {"a full week with its flagged intervals",
         QStringLiteral("^1 01\\.12\\.2026 — 07\\.12\\.2026 1008 993 3 98\\.80 % не соответствует$")},
        {"the short week under the coverage rule",
         QStringLiteral("^2 08\\.12\\.2026 — 10\\.12\\.2026 \\(3 сут\\.\\) 432 384 0 88\\.88 % недостаточно данных$")},
    };
    for (const auto &row : rows)
        EXPECT_TRUE(HasLine(strFirst, row.strPattern)) << row.pName;
    // Dips and swells are seen in per-second logs: not among the unjudged.
    EXPECT_FALSE(strFlowing.contains(QStringLiteral("их не показывают")));
    EXPECT_TRUE(strFlowing.contains(QStringLiteral("Стр. 1 из %1").arg(Pages(strPath))));
}

TEST_F(ReportPdfTest, WeeksTablesEventsAndPlotsFollowInThatOrder)
{
    const QString strPath = Write(SampleReport::Weeks());
    const QString strText = Text(strPath);
    const QString strFlowing = strText.simplified();
    const QStringList inOrder = {
        QStringLiteral("По неделям"),
        QStringLiteral("Неделя 1: 01.12.2026 — 07.12.2026 — не соответствует"),
        QStringLiteral("помечено событиями и исключено 3"),
        QStringLiteral("не соответствует: dUB, dUC, Ku11B."),
        QStringLiteral("Неделя 2: 08.12.2026 — 10.12.2026 (короче недели: 3 сут.) — недостаточно данных"),
        QStringLiteral("Величины недели 1 (01.12.2026 — 07.12.2026)"),
        QStringLiteral("Величины недели 2 (08.12.2026 — 10.12.2026)"),
        QStringLiteral("События"),
        QStringLiteral("Провалы по таблице EN 50160"),
        QStringLiteral("Значения за весь период"),
        QStringLiteral("Исходные данные"),
    };
    qsizetype nAt = 0;
    for (const QString &strExpected : inOrder) {
        const qsizetype nFound = strFlowing.indexOf(strExpected, nAt);
        EXPECT_GE(nFound, 0) << strExpected.toStdString();
        nAt = std::max(nAt, nFound);
    }

    const struct {
        const char *pName;
        QString strPattern;
    } lines[] = {
        // Shares rounded down: 60 of 993 beyond is 93.957 %.
        {"dUB's share rounded down", QStringLiteral("^dU B -10 … 10 95 993 60 60 93\\.95 .* не соответствует$")},
        {"the harmonics one line per order",
         QStringLiteral("^Ku11 ≤ ?3\\.5 (\\d\\.\\d{3} ){6}\\d\\d\\.\\d\\d не соответствует$")},
        {"an interruption listed in local time",
         QStringLiteral("^03\\.12\\.2026 13:21 \\(UTC\\+03:00\\) 3 мин 6 ?с прерывание ABC -100\\.0$")},
        {"a dip listed", QStringLiteral("^05\\.12\\.2026 08:15 \\(UTC\\+03:00\\) 2 ?с провал A -35\\.2$")},
    };
    for (const auto &line : lines)
        EXPECT_TRUE(HasLine(strText, line.strPattern)) << line.pName;
    // No per-phase line of a harmonic order: the compact table only.
    EXPECT_FALSE(HasLine(strText, QStringLiteral("^Ku11 B ")));
    EXPECT_TRUE(strFlowing.contains(QStringLiteral("Показания раз в секунду не различают провалы и перенапряжения "
                                                   "короче секунды")));

    // The last page: where the report came from, and how it was made.
    const int nPages = Pages(strPath);
    const QString strLast = Text(strPath, nPages, nPages).simplified();
    for (const QString &strExpected :
         {QStringLiteral("Пределы: файл /etc/varik/limits.txt."), QStringLiteral("Прочитаны журналы:"),
          QStringLiteral("/var/lib/varikd/tp5-lesnaya/2026-12-01.csv"),
          QStringLiteral("/var/lib/varikd/tp5-lesnaya/2026-12-02.csv"),
          QStringLiteral("повторы одного времени учтены один раз: 60"),
          QStringLiteral("Составлен 11.12.2026 09:30, Varik 1.0")})
        EXPECT_TRUE(strLast.contains(strExpected)) << strExpected.toStdString();
}

TEST_F(ReportPdfTest, PagesAreA4AndNumberedOfTheirTotal)
{
    const QString strPath = Write(SampleReport::Weeks());
    const QString strInfo = Info(strPath);
    EXPECT_TRUE(strInfo.contains(QRegularExpression(QStringLiteral("Page size:\\s+595 x 842 pts \\(A4\\)"))))
        << strInfo.toStdString();
    EXPECT_TRUE(strInfo.contains(
        QRegularExpression(QStringLiteral("Title:\\s+Качество электроэнергии по EN 50160: Счётчик 12, ТП-5 Лесная"))))
        << strInfo.toStdString();
    // The verdict and the weeks; a page of rows a week; events; the five
    // plots two a page; the sources.
    const int nPages = Pages(strPath);
    EXPECT_EQ(nPages, 8);
    const QString strText = Text(strPath);
    EXPECT_EQ(strText.count(u'\f'), nPages);
    const QStringList pages = strText.split(u'\f');
    for (int n = 1; n <= nPages; ++n)
        EXPECT_TRUE(pages[n - 1].contains(QStringLiteral("Стр. %1 из %2").arg(n).arg(nPages))) << n;
}

TEST_F(ReportPdfTest, TheTitleSaysWhetherTheBandsAreEN50160s)
{
    const struct {
        const char *pName;
        SSupplyReport report;
        QString strHeading;
        QStringList marked; // texts that must be on the first page
    } cases[] = {
        {"EN 50160's bands", SampleReport::Weeks(), QStringLiteral("Качество электроэнергии по EN 50160"), {}},
        {"Ku5 raised to 8 %", SampleReport::Weeks(SampleReport::RaisedKu5()),
         QStringLiteral("Качество электроэнергии по заданным пределам, на основе EN 50160"),
         {QStringLiteral("* Пределы, отличные от EN 50160: Ku5 ≤ 8 (EN 50160: ≤ 6).")}},
        {"THD switched off", SampleReport::ClockChangeWeek(),
         QStringLiteral("Качество электроэнергии по заданным пределам, на основе EN 50160"),
         {QStringLiteral("* Пределы, отличные от EN 50160: Ku нет (EN 50160: ≤ 8).")}},
    };
    for (const auto &c : cases) {
        const QString strPath = Write(c.report);
        const QString strFirst = Text(strPath, 1, 1);
        EXPECT_TRUE(strFirst.simplified().startsWith(c.strHeading)) << c.pName << "\n" << strFirst.toStdString();
        EXPECT_EQ(strFirst.contains(QStringLiteral("Пределы, отличные от EN 50160")), !c.marked.isEmpty()) << c.pName;
        for (const QString &strMarked : c.marked)
            EXPECT_TRUE(strFirst.simplified().contains(strMarked)) << c.pName << ": " << strMarked.toStdString();
        EXPECT_TRUE(Info(strPath).contains(c.strHeading)) << c.pName;
    }
    // The band marked where the harmonics are tabled.
    const QString strText = Text(Write(SampleReport::Weeks(SampleReport::RaisedKu5())));
    EXPECT_TRUE(HasLine(strText, QStringLiteral("^Ku5 ≤ ?8 ?\\* ")))
        << LineMatching(strText, QStringLiteral("^Ku5 ")).toStdString();
    EXPECT_TRUE(HasLine(strText, QStringLiteral("^Ku7 ≤ ?5 \\d")));
}

TEST_F(ReportPdfTest, APeriodAcrossTheClockChangeEndsInItsOwnOffset)
{
    SReportDocument document;
    document.strMeter = QStringLiteral("feeder-7");
    const QString strPath = Write(SampleReport::ClockChangeWeek(), document);
    const QString strFirst = Text(strPath, 1, 1);
    const QString strFlowing = strFirst.simplified();
    for (const QString &strExpected : {
             QStringLiteral("Период: 19.10.2026 00:00 (UTC+02:00) — 26.10.2026 00:00 (UTC+01:00), 7 сут. 1 ч"),
             QStringLiteral("Часовой пояс: Europe/Berlin."),
             QStringLiteral("частота оценена по минутным значениям"),
             QStringLiteral("Пределы: заданные (файл пределов не назван)."),
         })
        EXPECT_TRUE(strFlowing.contains(strExpected)) << strExpected.toStdString() << "\n" << strFirst.toStdString();
    // Seven calendar days are a week, however long the clock made them.
    EXPECT_TRUE(HasLine(strFirst, QStringLiteral("^1 19\\.10\\.2026 — 25\\.10\\.2026 1014 1014 0 100\\.00 % соответствует$")))
        << strFirst.toStdString();
    // No title: the meter stands for it.
    EXPECT_TRUE(strFlowing.contains(QStringLiteral("на основе EN 50160 feeder-7")));
    EXPECT_TRUE(HasLine(strFirst, QStringLiteral("^Суммарные гармоники Ku, % — — нет \\* не оценивается по выбору$")));
    EXPECT_TRUE(HasLine(strFirst, QStringLiteral("^Провалы и перенапряжения журналы «Минута» их не показывают — не оценивается$")))
        << strFirst.toStdString();
    EXPECT_TRUE(Text(strPath).contains(QStringLiteral("Время (Europe/Berlin)")));
}

TEST_F(ReportPdfTest, BadRowsAreSaidOnTheLastPage)
{
    SSupplyReport report = SampleReport::ClockChangeWeek();
    report.nBadRows = 14;
    report.firstBadRows = {{QStringLiteral("/logs/a.csv"), 7}, {QStringLiteral("/logs/b.csv"), 1200}};
    const QString strPath = Write(report);
    const int nPages = Pages(strPath);
    EXPECT_TRUE(Text(strPath, nPages, nPages)
                    .simplified()
                    .contains(QStringLiteral("Строк, которые не удалось прочитать: 14; первые: /logs/a.csv:7, "
                                             "/logs/b.csv:1200")));
}

TEST_F(ReportPdfTest, PlotsAreVectorsWithTheirTexts)
{
    const QString strPath = Write(SampleReport::Weeks());
    const QStringList images =
        RunTool(QStringLiteral("pdfimages"), {QStringLiteral("-list"), strPath}).split(u'\n', Qt::SkipEmptyParts);
    // Only the two lines of the list's heading: no picture anywhere.
    EXPECT_EQ(images.size(), 2) << images.join(u'\n').toStdString();
    // Legends and axes are text in the page, as only a vector plot has them.
    const QString strText = Text(strPath);
    for (const QString &strExpected : {QStringLiteral("dUCA"), QStringLiteral("предельная полоса (100 %)"),
                                       QStringLiteral("Время (Europe/Moscow)"), QStringLiteral("Порядок гармоники"),
                                       QStringLiteral("P95 выше допуска")})
        EXPECT_TRUE(strText.contains(strExpected)) << strExpected.toStdString();
}

TEST_F(ReportPdfTest, AFailedWriteKeepsTheEarlierFileAndSaysWhy)
{
    const QString strPath = m_dir.filePath(QStringLiteral("report.pdf"));
    ASSERT_TRUE(TestFiles::PutFile(strPath, "earlier"));
    QString strError;
    {
        TestFiles::CFileSizeLimit full(1000);
        EXPECT_FALSE(WriteSupplyReportPdf(SampleReport::ClockChangeWeek(), SReportDocument{}, strPath, strError));
    }
    EXPECT_EQ(TestFiles::FileBytes(strPath), "earlier");
    EXPECT_TRUE(strError.startsWith(QStringLiteral("Не удалось записать отчёт в ") + strPath + QStringLiteral(": ")))
        << strError.toStdString();

    const QString strMissing = m_dir.filePath(QStringLiteral("no/such/folder/report.pdf"));
    EXPECT_FALSE(WriteSupplyReportPdf(SampleReport::ClockChangeWeek(), SReportDocument{}, strMissing, strError));
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
