// "Отчёт…" in the chart window as the operator goes through it: the logs,
// the period, the progress bar while a worker reads, the PDF's name, the
// PDF written and opened; every box answered from a script.
#include "window_test_support.h"
#include "test_files.h"
#include "report/sample_report.h"

#include "data/csv_log.h"
#include "window/charts_dlg.h"
#include "window/charts_text.h"
#include "window/report_period_dlg.h"
#include "window/report_task.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QProcess>
#include <QRegularExpression>

#include <atomic>
#include <thread>

using namespace TestFiles;

namespace {

// A log of the Минута list: nRows rows a minute apart from nFromMsecs,
// every value 0.
QByteArray MinuteLog(qint64 nFromMsecs, int nRows, int nOffsetSeconds)
{
    const qsizetype nValues = CsvHeader(EDataSet::Minute).count(',');
    const std::vector<QByteArray> values(std::size_t(nValues), QByteArray("0.00"));
    QByteArray bytes = CsvHeader(EDataSet::Minute);
    for (int i = 0; i < nRows; ++i)
        bytes += CsvRow(nFromMsecs + qint64(i) * 60000, nOffsetSeconds, values);
    return bytes;
}

qint64 LocalMsecs(QDate date, QTime time, int nOffsetSeconds)
{
    return QDateTime(date, time, QTimeZone(nOffsetSeconds)).toMSecsSinceEpoch();
}

QString PdfText(const QString &strPath)
{
    QProcess process;
    process.start(QStringLiteral("pdftotext"), {strPath, QStringLiteral("-")});
    process.waitForFinished(60000);
    return QString::fromUtf8(process.readAllStandardOutput()).simplified();
}

// MakeReport's stand-in: notes what it was asked, reports progress until
// released or cancelled, and returns what the test put in.
struct SFakeMaker {
    QList<SReportRequest> requests;
    std::atomic<bool> bRelease{true};
    std::atomic<bool> bCancelled{false};
    SReportOutcome outcome;

    ReportMaker Maker()
    {
        return [this](const SReportRequest &request, const ReportProgress &progress) {
            requests.append(request);
            const qint64 nTotal = 1000;
            for (qint64 nRead = 0; !bRelease || nRead < nTotal; nRead = std::min(nRead + 50, nTotal)) {
                if (!progress(nRead, nTotal)) {
                    bCancelled = true;
                    SReportOutcome cancelled;
                    cancelled.eFailure = EReportFailure::Cancelled;
                    return cancelled;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            progress(nTotal, nTotal);
            return outcome;
        };
    }
};

} // namespace

class CChartsReportTest : public CWindowTestBase {
    Q_OBJECT
private slots:
    void reportIsWrittenAndOpened();
    void periodAsTheOperatorSetsIt();
    void windowGoesOnWhileLogsAreReadAndCancels();
    void failuresAreShownWithTheirText();
    void cancelledDialogsMakeNoReport();
    void realLogsMakeARealReport();
    void logsWithoutAReadableRowMakeNoReport();
    void periodDialogRefusesAnEndBeforeTheStart();
    void logsSpanAndTitle();

private:
    CChartsDlg &OpenCharts()
    {
        m_pWindow->OnCharts();
        return *m_pWindow->Charts();
    }
    QPushButton *ReportButton() const { return m_pWindow->Charts()->findChild<QPushButton *>(u"m_btnReport"_qs); }
    // Two logs of the week's first and last day in a folder named as a site.
    QStringList WriteLogs()
    {
        QDir(m_pDir->path()).mkpath(u"ТП-5 Лесная"_qs);
        const QString strFirst = Path(u"ТП-5 Лесная/2026-12-01.csv"_qs);
        const QString strLast = Path(u"ТП-5 Лесная/2026-12-07.csv"_qs);
        const int nOffset = SampleReport::OFFSET_SECONDS;
        if (!PutFile(strFirst, MinuteLog(LocalMsecs({2026, 12, 1}, {0, 0}, nOffset), 30, nOffset)) ||
            !PutFile(strLast, MinuteLog(LocalMsecs({2026, 12, 7}, {23, 0}, nOffset), 60, nOffset)))
            qFatal("logs not written");
        return {strLast, strFirst};
    }
};

void CChartsReportTest::reportIsWrittenAndOpened()
{
    MakeWindow({});
    CChartsDlg &charts = OpenCharts();
    SFakeMaker maker;
    maker.outcome.report = SampleReport::Weeks();
    charts.SetReportMaker(maker.Maker());
    m_dialogs.openPaths = WriteLogs();
    m_dialogs.strSavePath = Path(u"отчёт.pdf"_qs);

    ReportButton()->click();
    QTRY_VERIFY(!charts.ReportUnderWay());
    QCOMPARE(m_dialogs.fileDialogs.size(), 2);
    QCOMPARE(m_dialogs.fileDialogs[0].strFilter, ChartsText::ReportLogsFilter());
    QCOMPARE(m_dialogs.fileDialogs[1].strDefaultSuffix, u"pdf"_qs);
    QCOMPARE(m_dialogs.fileDialogs[1].strInitialName, ChartsText::ReportNewName());
    QCOMPARE(m_dialogs.fileDialogs[1].strFilter, ChartsText::ReportPdfFilter());
    // The period dialog shows the logs' own dates, the whole span ticked.
    QCOMPARE(m_dialogs.periodsShown, (QList<SReportPeriod>{{true, QDate(2026, 12, 1), QDate(2026, 12, 7)}}));
    QCOMPARE(maker.requests.size(), 1);
    QCOMPARE(maker.requests[0].logs, m_dialogs.openPaths);
    QVERIFY(!maker.requests[0].from && !maker.requests[0].to);
    QCOMPARE(m_dialogs.nReportProgressShown, 1);
    QVERIFY(!m_dialogs.bReportProgressVisible);
    QVERIFY(m_dialogs.shown.isEmpty());
    QCOMPARE(m_dialogs.documentsOpened, QStringList{Path(u"отчёт.pdf"_qs)});
    // Named after the logs' folder.
    const QString strText = PdfText(Path(u"отчёт.pdf"_qs));
    QVERIFY2(strText.contains(u"Счётчик: ТП-5 Лесная"_qs), qPrintable(strText.left(300)));
    QVERIFY(strText.contains(u"Итог: не соответствует"_qs));
    // The window's limits file and the logs it read are named; a path may
    // break where the page ends, and pdftotext gives "fi" as one ligature.
    const auto squeezed = [](const QString &str) {
        return str.normalized(QString::NormalizationForm_KC).remove(QRegularExpression(u"\\s"_qs));
    };
    QVERIFY2(squeezed(strText).contains(squeezed(u"Пределы: файл "_qs + QDir::toNativeSeparators(m_pWindow->LimitsPath()))),
             qPrintable(strText));
    for (const QString &strLog : m_dialogs.openPaths)
        QVERIFY(squeezed(strText).contains(squeezed(QDir::toNativeSeparators(strLog))));
    QVERIFY(strText.contains(u"Составлен "_qs + QDate::currentDate().toString(u"dd.MM.yyyy"_qs)));
    QVERIFY(ReportButton()->isEnabled());
}

void CChartsReportTest::periodAsTheOperatorSetsIt()
{
    MakeWindow({});
    CChartsDlg &charts = OpenCharts();
    SFakeMaker maker;
    charts.SetReportMaker(maker.Maker());
    m_dialogs.openPaths = WriteLogs();
    m_dialogs.periodAnswer = SReportPeriod{false, QDate(2026, 12, 2), QDate(2026, 12, 4)};

    ReportButton()->click();
    QTRY_VERIFY(!charts.ReportUnderWay());
    QCOMPARE(maker.requests.size(), 1);
    QCOMPARE(maker.requests[0].from, std::optional<QDate>(QDate(2026, 12, 2)));
    QCOMPARE(maker.requests[0].to, std::optional<QDate>(QDate(2026, 12, 4)));
    // The window's limits are the report's.
    QVERIFY(maker.requests[0].limits == CLimits::Defaults());
}

void CChartsReportTest::windowGoesOnWhileLogsAreReadAndCancels()
{
    MakeWindow({});
    CChartsDlg &charts = OpenCharts();
    SFakeMaker maker;
    maker.bRelease = false; // reads until cancelled
    charts.SetReportMaker(maker.Maker());
    m_dialogs.openPaths = WriteLogs();
    m_dialogs.strSavePath = Path(u"never.pdf"_qs);

    ReportButton()->click();
    QVERIFY(charts.ReportUnderWay());
    QVERIFY(!ReportButton()->isEnabled());
    QVERIFY(m_dialogs.bReportProgressVisible);
    // The bar moves while the worker reads: the window's own loop runs on.
    QTRY_VERIFY(m_dialogs.reportProgress.size() >= 3 && m_dialogs.reportProgress.last() > 0);
    ReportButton()->click(); // nothing more while one is under way
    QCOMPARE(m_dialogs.nReportProgressShown, 1);

    m_dialogs.cancelReport = [](int) { return true; };
    QTRY_VERIFY(!charts.ReportUnderWay());
    QVERIFY(maker.bCancelled);
    QVERIFY(!m_dialogs.bReportProgressVisible);
    QCOMPARE(m_dialogs.fileDialogs.size(), 1); // the logs only: no PDF asked for
    QVERIFY(m_dialogs.shown.isEmpty());
    QVERIFY(!QFile::exists(Path(u"never.pdf"_qs)));
    QVERIFY(ReportButton()->isEnabled());

    // Closing the window under a report cancels it and waits for the worker.
    m_dialogs.cancelReport = nullptr;
    maker.bCancelled = false;
    ReportButton()->click();
    QTRY_VERIFY(!m_dialogs.reportProgress.isEmpty());
    m_pWindow.reset();
    QVERIFY(maker.bCancelled);
}

void CChartsReportTest::failuresAreShownWithTheirText()
{
    MakeWindow({});
    CChartsDlg &charts = OpenCharts();
    SFakeMaker maker;
    maker.outcome.eFailure = EReportFailure::NotALog;
    maker.outcome.strError = u"/logs/day.csv: не журнал списка «Секунда» или «Минута»"_qs;
    charts.SetReportMaker(maker.Maker());
    m_dialogs.openPaths = WriteLogs();
    ReportButton()->click();
    QTRY_VERIFY(!charts.ReportUnderWay());
    QCOMPARE(m_dialogs.shown, (QList<SShownBox>{{maker.outcome.strError, EMsgIcon::Exclamation, EMsgButtons::Ok}}));
    QCOMPARE(m_dialogs.fileDialogs.size(), 1);

    // A PDF that cannot be written: the reason, and no viewer.
    maker.outcome = SReportOutcome();
    maker.outcome.report = SampleReport::Weeks();
    m_dialogs.shown.clear();
    m_dialogs.strSavePath = Path(u"no/such/folder/отчёт.pdf"_qs);
    ReportButton()->click();
    QTRY_VERIFY(!charts.ReportUnderWay());
    QCOMPARE(m_dialogs.shown.size(), 1);
    QVERIFY2(m_dialogs.shown[0].strText.startsWith(u"Не удалось записать отчёт в "_qs + m_dialogs.strSavePath),
             qPrintable(m_dialogs.shown[0].strText));
    QVERIFY(m_dialogs.documentsOpened.isEmpty());

    // Written, but nothing on the desktop opens a PDF: said, not hidden.
    m_dialogs.shown.clear();
    m_dialogs.strSavePath = Path(u"отчёт.pdf"_qs);
    m_dialogs.bDocumentOpens = false;
    ReportButton()->click();
    QTRY_VERIFY(!charts.ReportUnderWay());
    QCOMPARE(m_dialogs.shown,
             (QList<SShownBox>{{ChartsText::ReportOpenFailed(m_dialogs.strSavePath), EMsgIcon::Information, EMsgButtons::Ok}}));
    QVERIFY(FileBytes(m_dialogs.strSavePath).startsWith("%PDF"));
}

void CChartsReportTest::cancelledDialogsMakeNoReport()
{
    MakeWindow({});
    CChartsDlg &charts = OpenCharts();
    SFakeMaker maker;
    maker.outcome.report = SampleReport::Weeks();
    charts.SetReportMaker(maker.Maker());

    struct SCase {
        const char *pName;
        bool bLogs, bPeriod;
    };
    for (const SCase &c : {SCase{"no logs chosen", false, true}, SCase{"period cancelled", true, false}}) {
        m_dialogs.openPaths = c.bLogs ? WriteLogs() : QStringList();
        m_dialogs.periodAnswer = c.bPeriod ? std::optional<SReportPeriod>(SReportPeriod{}) : std::nullopt;
        ReportButton()->click();
        QVERIFY2(!charts.ReportUnderWay(), c.pName);
        QVERIFY2(maker.requests.isEmpty(), c.pName);
        QVERIFY2(m_dialogs.shown.isEmpty(), c.pName);
        QVERIFY2(ReportButton()->isEnabled(), c.pName);
    }
    // Read, then no name for the PDF: nothing written, nothing opened.
    m_dialogs.periodAnswer = SReportPeriod{};
    m_dialogs.strSavePath.clear();
    ReportButton()->click();
    QTRY_VERIFY(!charts.ReportUnderWay());
    QCOMPARE(maker.requests.size(), 1);
    QVERIFY(m_dialogs.documentsOpened.isEmpty());
    QVERIFY(m_dialogs.shown.isEmpty());
}

void CChartsReportTest::realLogsMakeARealReport()
{
    MakeWindow({});
    CChartsDlg &charts = OpenCharts();
    m_dialogs.openPaths = WriteLogs();
    m_dialogs.strSavePath = Path(u"отчёт.pdf"_qs);
    ReportButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(!charts.ReportUnderWay(), 20000);
    QVERIFY2(m_dialogs.shown.isEmpty(), qPrintable(m_dialogs.shown.value(0).strText));
    const QString strText = PdfText(m_dialogs.strSavePath);
    // 30 minutes of the first day and an hour of the last, all zero: three
    // and six valid intervals.
    // The weeks begin at local midnight of the machine's zone: the nine may
    // fall in one week or two.
    int nValid = 0;
    for (const QRegularExpressionMatch &match : QRegularExpression(u"; действительных (\\d+),"_qs).globalMatch(strText))
        nValid += match.captured(1).toInt();
    QVERIFY2(nValid == 9, qPrintable(strText.mid(strText.indexOf(u"По неделям"_qs), 800)));
    QVERIFY(strText.contains(u"По журналам списка «Минута»"_qs));
    QCOMPARE(m_dialogs.documentsOpened, QStringList{m_dialogs.strSavePath});
}

void CChartsReportTest::logsWithoutAReadableRowMakeNoReport()
{
    MakeWindow({});
    CChartsDlg &charts = OpenCharts();
    // The times as a spreadsheet rewrites them.
    const QString strLog = Path(u"rewritten.csv"_qs);
    const qsizetype nValues = CsvHeader(EDataSet::Minute).count(',');
    QVERIFY(PutFile(strLog, CsvHeader(EDataSet::Minute) + "03.12.2026 10:00" + QByteArray(",0.00").repeated(nValues) + '\n'));
    m_dialogs.openPaths = {strLog};
    m_dialogs.strSavePath = Path(u"отчёт.pdf"_qs);
    ReportButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(!charts.ReportUnderWay(), 20000);
    QCOMPARE(m_dialogs.shown.size(), 1);
    const QString strText = m_dialogs.shown[0].strText;
    QVERIFY2(strText.startsWith(u"Ни одна строка журналов не читается"_qs), qPrintable(strText));
    QVERIFY2(strText.contains(QDir::toNativeSeparators(strLog) + u", строка 2: «03.12.2026 10:00,0.00,"_qs), qPrintable(strText));
    QCOMPARE(m_dialogs.shown[0].icon, EMsgIcon::Exclamation);
    QCOMPARE(m_dialogs.fileDialogs.size(), 1);
    QVERIFY(!QFile::exists(m_dialogs.strSavePath));
}

void CChartsReportTest::periodDialogRefusesAnEndBeforeTheStart()
{
    CReportPeriodDlg dialog(nullptr, {true, QDate(2026, 12, 1), QDate(2026, 12, 7)});
    auto *pWhole = dialog.findChild<QCheckBox *>();
    const QList<QDateEdit *> dates = dialog.findChildren<QDateEdit *>();
    QPushButton *pOk = dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
    QCOMPARE(dates.size(), 2);
    QVERIFY(!dates[0]->isEnabled() && !dates[1]->isEnabled());
    pWhole->setChecked(false);
    QVERIFY(dates[0]->isEnabled() && pOk->isEnabled());
    dates[1]->setDate(QDate(2026, 11, 30));
    QVERIFY(!pOk->isEnabled());
    dates[1]->setDate(QDate(2026, 12, 1)); // one day is a period
    QVERIFY(pOk->isEnabled());
    QCOMPARE(dialog.Period(), (SReportPeriod{false, QDate(2026, 12, 1), QDate(2026, 12, 1)}));
}

void CChartsReportTest::logsSpanAndTitle()
{
    const int nOffset = SampleReport::OFFSET_SECONDS;
    const QString strA = Path(u"a.csv"_qs), strB = Path(u"b.csv"_qs), strTorn = Path(u"torn.csv"_qs);
    QVERIFY(PutFile(strA, MinuteLog(LocalMsecs({2026, 12, 3}, {23, 50}, nOffset), 20, nOffset))); // to 04.12
    QVERIFY(PutFile(strB, MinuteLog(LocalMsecs({2026, 12, 1}, {12, 0}, nOffset), 2, nOffset)));
    // A last row torn by a power cut names no date of its own.
    QVERIFY(PutFile(strTorn, MinuteLog(LocalMsecs({2026, 12, 9}, {10, 0}, nOffset), 2, nOffset) + "2026-12-10T0"));
    QVERIFY(PutFile(Path(u"header.csv"_qs), CsvHeader(EDataSet::Minute)));

    using SSpan = std::optional<std::pair<QDate, QDate>>;
    QCOMPARE(LogsDateSpan({strA}), SSpan({QDate(2026, 12, 3), QDate(2026, 12, 4)}));
    QCOMPARE(LogsDateSpan({strA, strB}), SSpan({QDate(2026, 12, 1), QDate(2026, 12, 4)}));
    QCOMPARE(LogsDateSpan({strTorn}), SSpan({QDate(2026, 12, 9), QDate(2026, 12, 9)}));
    QCOMPARE(LogsDateSpan({Path(u"header.csv"_qs), Path(u"missing.csv"_qs)}), SSpan());

    QCOMPARE(ReportTitleOf({u"/var/lib/varik/feeder-a/minute/2026-12-01.csv"_qs}), u"feeder-a"_qs);
    QCOMPARE(ReportTitleOf({u"/home/op/ТП-5/second.csv"_qs, u"/elsewhere/x.csv"_qs}), u"ТП-5"_qs);
}

QTEST_MAIN(CChartsReportTest)
#include "charts_report_test.moc"
