// The chart window driven as the operator drives it, beside the main window,
// against simulated meters, with every box and dialog answered from a script.
#include "files/file_text.h"
#include "data/supply_limits_file.h"
#include "window_test_support.h"
#include "test_files.h"

#include "data/catalogue.h"
#include "window/charts_dlg.h"
#include "window/charts_text.h"
#include "data/csv_log.h"
#include "link/link_messages.h"
#include "data/list_file.h"
#include "window/spectrum_plot.h"
#include "window/trend_plot.h"

#include <qcustomplot.h>

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QTableWidget>
#include <QWheelEvent>

#include <cmath>
#include <csignal>
#include <sys/resource.h>

using namespace TestFiles;

namespace {

// The bars a plot shows, by order, whichever of the two bar sets holds them.
QMap<int, double> BarValues(const QCPBars *pBars)
{
    QMap<int, double> values;
    for (auto it = pBars->data()->constBegin(); it != pBars->data()->constEnd(); ++it)
        values.insert(int(it->key), it->value);
    return values;
}

struct SPoint {
    double dKey;
    double dValue;
};

QList<SPoint> Points(const QCPGraph *pGraph)
{
    QList<SPoint> points;
    for (auto it = pGraph->data()->constBegin(); it != pGraph->data()->constEnd(); ++it)
        points.append({it->key, it->value});
    return points;
}

int NanCount(const QList<SPoint> &points)
{
    return int(std::count_if(points.begin(), points.end(), [](const SPoint &p) { return std::isnan(p.dValue); }));
}

// A Секунда list whose dUA shows the given text, every other row empty.
CListRows SecondRowsWithDua(const QString &strValue)
{
    CListRows rows = SecondListRows();
    rows[1].strValue = strValue;
    return rows;
}

} // namespace

class CChartsTest : public CWindowTestBase {
    Q_OBJECT
private slots:
    void opensWithoutTakingFocus();
    void spectrumFollowsReadsPhaseAndSource();
    void limitsMarkTheListsAndTheSpectrum();
    void limitsFileMissingOrBroken();
    void continuousReadingFeedsTheTrend();
    void failedTicksLeaveGaps();
    void trendRowPicker();
    void visibleSpanStatsZoomAndDrag();
    void plotHoldsWhatTheTrendHolds();
    void trendTimeRunsOnWhenTheClockIsSetBack();
    void csvLogWritesEverySecondRead();
    void csvLogWriteErrorStopsIt();
    void csvDialogWaitsForRunningRead();

private:
    CChartsDlg &OpenCharts()
    {
        m_pWindow->OnCharts();
        if (!m_pWindow->Charts())
            qFatal("no chart window");
        return *m_pWindow->Charts();
    }
    template <typename T> T *InCharts(const char *pName) const
    {
        T *pWidget = m_pWindow->Charts()->findChild<T *>(QString::fromLatin1(pName));
        if (!pWidget)
            qFatal("no chart widget %s", pName);
        return pWidget;
    }
    QString ChartsLabel(const char *pName) const { return InCharts<QLabel>(pName)->text(); }
    // The shown value of each harmonic row of the phase, by order.
    QMap<int, double> ListHarmonics(const char *pList, const QString &strPhase) const
    {
        QMap<int, double> values;
        for (const QStringList &row : Shown(pList)) {
            for (int n = 2; n <= 40; ++n) {
                if (row[0] == u"Ku"_qs + QString::number(n) + strPhase)
                    values.insert(n, row[1].toDouble());
            }
        }
        return values;
    }
    QString ListValue(const char *pList, const QString &strName) const
    {
        for (const QStringList &row : Shown(pList)) {
            if (row[0] == strName)
                return row[1];
        }
        return QString();
    }
    void StartContinuous(const QString &strInterval = u"0"_qs)
    {
        Edit("m_editInterval")->setText(strInterval);
        Click("m_chkContinuous");
    }
    void StopContinuous()
    {
        if (Button("m_chkContinuous")->isChecked())
            Click("m_chkContinuous");
        QTRY_VERIFY_WITH_TIMEOUT(!m_pWindow->IsBusy(), 10000);
    }
};

void CChartsTest::opensWithoutTakingFocus()
{
    MakeWindow({});
    QCOMPARE(m_pWindow->Charts(), nullptr); // made on first open
    m_pWindow->show();
    QVERIFY(QTest::qWaitForWindowActive(m_pWindow.get()));
    Button("m_btnExit")->setFocus();

    QTest::keyClick(m_pWindow.get(), Qt::Key_G, Qt::ControlModifier);
    CChartsDlg *pCharts = m_pWindow->Charts();
    QVERIFY(pCharts);
    QVERIFY(pCharts->isVisible());
    QVERIFY(pCharts->isWindow());
    QVERIFY(pCharts->testAttribute(Qt::WA_ShowWithoutActivating));
    QCOMPARE(pCharts->parentWidget(), m_pWindow.get());
    QCOMPARE(pCharts->windowTitle(), u"Графики"_qs);
    QTest::qWait(50);
    QCOMPARE(QApplication::activeWindow(), m_pWindow.get());
    QCOMPARE(QApplication::focusWidget(), Button("m_btnExit"));

    // Closing hides it; the button shows the same window again.
    pCharts->close();
    QVERIFY(!pCharts->isVisible());
    Click("m_btnCharts");
    QCOMPARE(m_pWindow->Charts(), pCharts);
    QVERIFY(pCharts->isVisible());
    QTest::qWait(50);
    QCOMPARE(QApplication::activeWindow(), m_pWindow.get());
    QCOMPARE(Button("m_btnCharts")->text(), u"Графики…"_qs);

    // The main window's exit takes the chart window along.
    Click("m_btnExit");
    QVERIFY(!pCharts->isVisible());
}

void CChartsTest::spectrumFollowsReadsPhaseAndSource()
{
    auto pMeter = StartMeter();
    MakeWindow({pMeter->SlavePath()});
    CChartsDlg &charts = OpenCharts();
    const CSpectrumPlot &plot = charts.Spectrum();

    // Nothing read: the chart says so.
    QVERIFY(plot.Note()->visible());
    QCOMPARE(plot.Note()->text(), ChartsText::NoValues());
    QVERIFY(BarValues(plot.Bars()).isEmpty() && BarValues(plot.BeyondBars()).isEmpty());
    QCOMPARE(ChartsLabel("m_labelSourceTime"), u"Секунда: не считано"_qs);
    QCOMPARE(ChartsLabel("m_labelTotal"), u"Ku: нет значения (предел 8 %)"_qs);

    Click("m_btnReadSecond");
    QVERIFY(!plot.Note()->visible());
    QVERIFY(ChartsLabel("m_labelSourceTime").startsWith(u"Секунда, считано "_qs));
    const QStringList phases = {u"A"_qs, u"B"_qs, u"C"_qs, u"AB"_qs, u"BC"_qs, u"CA"_qs};
    auto *pPhase = InCharts<QComboBox>("m_comboPhase");
    QCOMPARE(pPhase->count(), 6);
    for (int p = 0; p < phases.size(); ++p) {
        pPhase->setCurrentIndex(p);
        QMap<int, double> bars = BarValues(plot.Bars());
        bars.insert(BarValues(plot.BeyondBars()));
        QCOMPARE(bars, ListHarmonics("m_listSecond", phases[p]));
        QCOMPARE(bars.size(), 39);
        QCOMPARE(ChartsLabel("m_labelTotal"),
                 u"Ku = "_qs + ListValue("m_listSecond", u"Ku"_qs + phases[p]) + u" % (предел 8 %)"_qs);
    }

    // The minute source has nothing until a minute read.
    InCharts<QComboBox>("m_comboSource")->setCurrentIndex(1);
    QVERIFY(plot.Note()->visible());
    QCOMPARE(ChartsLabel("m_labelSourceTime"), u"Минута: не считано"_qs);
    Click("m_btnReadMinute");
    QVERIFY(!plot.Note()->visible());
    QVERIFY(ChartsLabel("m_labelSourceTime").startsWith(u"Минута, считано "_qs));
    QMap<int, double> bars = BarValues(plot.Bars());
    bars.insert(BarValues(plot.BeyondBars()));
    QCOMPARE(bars, ListHarmonics("m_listMinute", u"CA"_qs));

    // A read of the other list leaves the chart as it is.
    const qint64 nMinuteTime = m_pWindow->MinuteReadTime();
    Click("m_btnReadSecond");
    QCOMPARE(m_pWindow->MinuteReadTime(), nMinuteTime);
    bars = BarValues(plot.Bars());
    bars.insert(BarValues(plot.BeyondBars()));
    QCOMPARE(bars, ListHarmonics("m_listMinute", u"CA"_qs));
    QCOMPARE(m_dialogs.shown, QList<SShownBox>());
}

void CChartsTest::limitsMarkTheListsAndTheSpectrum()
{
    auto pMeter = StartMeter();
    // The simulated network has about 1 % of the 3rd harmonic and 1.5 % in all.
    CLimits limits = CLimits::Defaults();
    limits.SetHarmonic(3, SLimitBand{-INFINITY, 0.5});
    limits.SetHarmonic(4, std::nullopt);
    limits.SetTotalDistortion(SLimitBand{-INFINITY, 0.25});
    QVERIFY(QDir().mkpath(QFileInfo(LimitsPath()).path()));
    QVERIFY(PutFile(LimitsPath(), LimitsFileBytes(limits)));
    MakeWindow({pMeter->SlavePath()});
    QCOMPARE(m_pWindow->Limits(), limits);
    CChartsDlg &charts = OpenCharts();
    const CSpectrumPlot &plot = charts.Spectrum();

    // Every order with a limit has its mark; order 4 has none now.
    QMap<int, double> marks;
    for (auto it = plot.LimitMarks()->data()->constBegin(); it != plot.LimitMarks()->data()->constEnd(); ++it)
        marks.insert(int(it->key), it->value);
    QCOMPARE(marks.value(3), 0.5);
    QVERIFY(!marks.contains(4));
    for (int n = 2; n <= 40; ++n) {
        const std::optional<SLimitBand> band = limits.Harmonic(n);
        QCOMPARE(marks.contains(n), band.has_value());
    }

    auto *pList = Find<QTableView>("m_listSecond");
    QVERIFY(!pList->model()->index(10, 1).data(Qt::BackgroundRole).isValid()); // nothing read, nothing beyond
    Click("m_btnReadSecond");
    QVERIFY(!plot.Note()->visible());
    QCOMPARE(BarValues(plot.BeyondBars()).keys(), QList<int>{3});
    QCOMPARE(BarValues(plot.BeyondBars()).value(3), ListHarmonics("m_listSecond", u"A"_qs).value(3));
    QVERIFY(!BarValues(plot.Bars()).contains(3));
    QCOMPARE(plot.BeyondBars()->brush().color(), CSpectrumPlot::WarningColour());
    QVERIFY(plot.Bars()->brush().color() != CSpectrumPlot::WarningColour());
    QCOMPARE(ChartsLabel("m_labelTotal"),
             u"Ku = "_qs + ListValue("m_listSecond", u"KuA"_qs) + u" % (предел 0.25 %)"_qs);
    QVERIFY(InCharts<QLabel>("m_labelTotal")->styleSheet().contains(CSpectrumPlot::WarningColour().name()));

    // The lists: a warning background exactly on the rows beyond, texts and
    // the saved file as they always were.
    for (const char *pName : {"m_listSecond", "m_listMinute"}) {
        if (QByteArray(pName) == "m_listMinute")
            Click("m_btnReadMinute");
        const QAbstractItemModel *pModel = Find<QTableView>(pName)->model();
        const QList<QStringList> shown = Shown(pName);
        int nMarked = 0;
        for (int r = 0; r < pModel->rowCount(); ++r) {
            const QString &strName = shown[r][0];
            const QStringList phases = {u"A"_qs, u"B"_qs, u"C"_qs, u"AB"_qs, u"BC"_qs, u"CA"_qs};
            const bool bExpected = (strName.startsWith(u"Ku3"_qs) && phases.contains(strName.mid(3))
                                    && shown[r][1].toDouble() > 0.5)
                                   || (strName.startsWith(u"Ku"_qs) && phases.contains(strName.mid(2))
                                       && shown[r][1].toDouble() > 0.25);
            for (int c = 0; c < 2; ++c) {
                const QVariant background = pModel->index(r, c).data(Qt::BackgroundRole);
                QVERIFY2(background.isValid() == bExpected, qPrintable(strName + u' ' + shown[r][1]));
                if (bExpected)
                    QCOMPARE(background.value<QBrush>().color(), CListModel::WarningBackground());
            }
            nMarked += bExpected;
        }
        QCOMPARE(nMarked, 12); // Ku3 and Ku of all six phases
    }
    m_dialogs.strSavePath = Path(u"second.txt"_qs);
    Click("m_btnSaveSecond");
    QString text;
    for (const QStringList &row : Shown("m_listSecond"))
        text += row[0] + u'\t' + row[1] + u'\n';
    QCOMPARE(FileBytes(m_dialogs.strSavePath), ToCp1251(text));
    // The day list has no limits.
    Click("m_btnReadDay");
    const QAbstractItemModel *pDay = Find<QTableView>("m_listDay")->model();
    for (int r = 0; r < pDay->rowCount(); ++r)
        QVERIFY(!pDay->index(r, 1).data(Qt::BackgroundRole).isValid());
    QCOMPARE(m_dialogs.shown, QList<SShownBox>());
}

void CChartsTest::limitsFileMissingOrBroken()
{
    // Missing: written with the defaults, which are in force; no box.
    const QString strLimits = LimitsPath();
    MakeWindow({});
    QCOMPARE(m_pWindow->LimitsPath(), strLimits);
    QCOMPARE(FileBytes(strLimits), LimitsFileBytes(CLimits::Defaults()));
    QCOMPARE(m_pWindow->Limits(), CLimits::Defaults());
    QCOMPARE(m_dialogs.shown, QList<SShownBox>());
    m_pWindow.reset();

    // Broken in two places: one box names the file and both lines; the rest
    // of the file is read and the program goes on.
    CLimits expected = CLimits::Defaults();
    expected.SetHarmonic(5, SLimitBand{-INFINITY, 1.5});
    QList<QByteArray> lines = LimitsFileBytes(expected).split('\n');
    const int nKu7 = int(lines.indexOf(QByteArray("Ku7 = 5")));
    QVERIFY(nKu7 > 0);
    lines[nKu7] = "Ku7 = lots";
    lines.insert(nKu7 + 1, "no limit here");
    const QByteArray bytes = lines.join('\n');
    QVERIFY(PutFile(strLimits, bytes));
    MakeWindow({});
    QCOMPARE(m_dialogs.shown.size(), 1);
    const SShownBox box = m_dialogs.shown.value(0);
    QCOMPARE(box.icon, EMsgIcon::Exclamation);
    for (int nLine : {nKu7 + 1, nKu7 + 2})
        QVERIFY2(box.strText.contains(strLimits + u", строка "_qs + QString::number(nLine) + u':'), qPrintable(box.strText));
    QCOMPARE(m_pWindow->Limits(), expected);
    QCOMPARE(FileBytes(strLimits), bytes); // the operator's file is left as it is
    m_pWindow.reset();

    // Over a megabyte: the whole lines within it are read, the line the
    // megabyte ends in and all after it are one problem, and their limits
    // keep the defaults. Ku7 = 12 cut at the megabyte must not read as 1.
    CLimits kept = CLimits::Defaults();
    kept.SetHarmonic(3, SLimitBand{-INFINITY, 4.5});
    QByteArray huge = "Ku3 = 4.5\n";
    const QByteArray filler = "# " + QByteArray(60, '-') + '\n';
    while (huge.size() + filler.size() < (1 << 20) - 8)
        huge += filler;
    huge += QByteArray((1 << 20) - 8 - huge.size(), '#') + '\n'; // the last whole line
    const int nCutLine = int(huge.count('\n')) + 1;
    huge += "Ku7 = 12\nKu5 = 1\n";
    QCOMPARE(huge.indexOf("Ku7 = 1"), qsizetype(1 << 20) - 7); // its "2" lies beyond
    QVERIFY(PutFile(strLimits, huge));
    m_dialogs.shown.clear();
    MakeWindow({});
    QCOMPARE(m_dialogs.shown.size(), 1);
    QCOMPARE(m_dialogs.shown[0].strText,
             ChartsText::LimitsProblems({FileText::LimitsTooLong(strLimits, nCutLine, 1 << 20)}));
    QCOMPARE(m_pWindow->Limits(), kept);
    m_pWindow.reset();

    // Unreadable as a whole (a folder by that name): defaults and one box.
    QFile::remove(strLimits);
    QVERIFY(QDir().mkdir(strLimits));
    m_dialogs.shown.clear();
    MakeWindow({});
    QCOMPARE(m_dialogs.shown.size(), 1);
    QVERIFY(m_dialogs.shown[0].strText.contains(strLimits));
    QCOMPARE(m_pWindow->Limits(), CLimits::Defaults());
    m_pWindow.reset();

    // Without a path from the start-up: limits.txt in the configuration
    // folder, here Qt's test folder.
    SWindowSetup setup;
    setup.strTitle = u"varik"_qs;
    setup.fnSystemPorts = [] { return QStringList(); };
    m_pWindow = std::make_unique<CVarikDlg>(setup, &m_dialogs);
    const QString strConfig = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QVERIFY(strConfig.contains(u".qttest"_qs));
    QCOMPARE(m_pWindow->LimitsPath(), strConfig + u"/limits.txt"_qs);
    QVERIFY(QFile::exists(m_pWindow->LimitsPath()));
}

void CChartsTest::continuousReadingFeedsTheTrend()
{
    auto pMeter = StartMeter();
    MakeWindow({pMeter->SlavePath()});
    CChartsDlg &charts = OpenCharts();
    CTrendPlot &trend = charts.Trend();
    QStringList names;
    for (std::size_t i = 0; i < trend.SeriesCount(); ++i)
        names.append(trend.Name(i));
    QCOMPARE(names, (QStringList{u"dUA"_qs, u"dUB"_qs, u"dUC"_qs, u"dUAB"_qs, u"dUBC"_qs, u"dUCA"_qs, u"K2"_qs, u"F"_qs}));
    QVERIFY(trend.Note()->visible());

    // A read by the button is no point of the trend.
    Click("m_btnReadSecond");
    QCOMPARE(trend.Graph(0)->data()->size(), 0);

    StartContinuous();
    QTRY_VERIFY_WITH_TIMEOUT(trend.Graph(0)->data()->size() >= 3, 20000);
    StopContinuous();
    trend.Graph(0)->parentPlot()->replot();
    QVERIFY(!trend.Note()->visible());
    for (std::size_t i = 0; i < trend.SeriesCount(); ++i) {
        const QList<SPoint> points = Points(trend.Graph(i));
        QCOMPARE(std::size_t(points.size()), trend.Trend().Series(i).size());
        QCOMPARE(NanCount(points), 0);
        for (qsizetype p = 1; p < points.size(); ++p)
            QVERIFY(points[p].dKey >= points[p - 1].dKey);
        // The newest point is what the list shows now.
        QCOMPARE(points.last().dValue, ListValue("m_listSecond", trend.Name(i)).toDouble());
        // Its time runs on from the first reading's by a clock of its own;
        // the two agree but for the milliseconds each rounds off and the
        // moments between reading the wall clock and the monotonic one, which
        // a loaded machine (the sanitizer build beside other jobs) stretches.
        QVERIFY(std::abs(points.last().dKey * 1000.0 - double(m_pWindow->SecondReadTime())) < 50.0);
    }
    QVERIFY(trend.IsFollowing());
    const QCPRange range = trend.Graph(0)->keyAxis()->range();
    QCOMPARE(range.lower, Points(trend.Graph(0)).first().dKey);
    QCOMPARE(trend.Graph(7)->valueAxis(), trend.Graph(0)->keyAxis()->axisRect()->axis(QCPAxis::atRight));
    QCOMPARE(m_dialogs.shown, QList<SShownBox>());
}

void CChartsTest::failedTicksLeaveGaps()
{
    auto pMeter = StartMeter();
    MakeWindow({pMeter->SlavePath()});
    CTrendPlot &trend = OpenCharts().Trend();
    StartContinuous();
    QTRY_VERIFY_WITH_TIMEOUT(trend.Graph(0)->data()->size() >= 2, 20000);

    // The meter answers busy: each tick fails, its point has no value.
    pMeter->ChangeBehaviour([](SMeterBehaviour &behaviour) { behaviour.nForcedStatus = STATUS_BUSY; });
    QTRY_VERIFY_WITH_TIMEOUT(NanCount(Points(trend.Graph(0))) >= 2, 20000);
    pMeter->ChangeBehaviour([](SMeterBehaviour &behaviour) { behaviour.nForcedStatus = -1; });
    const int nBefore = int(trend.Graph(0)->data()->size());
    QTRY_VERIFY_WITH_TIMEOUT(trend.Graph(0)->data()->size() >= nBefore + 2, 20000);
    StopContinuous();
    trend.Graph(0)->parentPlot()->replot(); // the graphs take what they draw before it

    // values, then a gap for every failed tick, then values again
    const QList<SPoint> points = Points(trend.Graph(0));
    int nRuns = 0;
    for (qsizetype p = 0; p < points.size(); ++p) {
        if (p == 0 || std::isnan(points[p].dValue) != std::isnan(points[p - 1].dValue))
            ++nRuns;
    }
    QCOMPARE(nRuns, 3);
    QVERIFY(!std::isnan(points.first().dValue) && !std::isnan(points.last().dValue));
    const int nBusyBoxes = int(std::count(m_dialogs.shown.begin(), m_dialogs.shown.end(),
                                          SShownBox{LinkText::Busy(), EMsgIcon::Exclamation, EMsgButtons::Ok}));
    QCOMPARE(nBusyBoxes, m_dialogs.shown.size());
    QCOMPARE(NanCount(points), nBusyBoxes);
    for (std::size_t i = 1; i < trend.SeriesCount(); ++i)
        QCOMPARE(NanCount(Points(trend.Graph(i))), nBusyBoxes);
    // The statistics see the values only.
    const SSpanStats stats = trend.VisibleStats(0);
    QCOMPARE(int(stats.nCount), int(points.size()) - nBusyBoxes);
}

void CChartsTest::trendRowPicker()
{
    auto pMeter = StartMeter();
    MakeWindow({pMeter->SlavePath()});
    CTrendPlot &trend = OpenCharts().Trend();
    auto *pRows = InCharts<QListWidget>("m_listTrendRows");
    QCOMPARE(pRows->count(), 259); // every named row of the Секунда list
    const auto Item = [pRows](const QString &strName) {
        const QList<QListWidgetItem *> found = pRows->findItems(strName, Qt::MatchExactly);
        return found.value(0);
    };
    StartContinuous();
    QTRY_VERIFY_WITH_TIMEOUT(trend.Graph(0)->data()->size() >= 2, 20000);
    StopContinuous();
    const int nHeld = int(trend.Graph(0)->data()->size());

    // Dropping dUB and adding U1: the other series keep their points, U1
    // starts empty on the volts axis.
    Item(u"dUB"_qs)->setCheckState(Qt::Unchecked);
    Item(u"U1"_qs)->setCheckState(Qt::Checked);
    QStringList names;
    for (std::size_t i = 0; i < trend.SeriesCount(); ++i)
        names.append(trend.Name(i));
    QCOMPARE(names, (QStringList{u"dUA"_qs, u"dUC"_qs, u"dUAB"_qs, u"dUBC"_qs, u"dUCA"_qs, u"K2"_qs, u"U1"_qs, u"F"_qs}));
    QCOMPARE(int(trend.Graph(0)->data()->size()), nHeld);
    QCOMPARE(trend.Graph(6)->data()->size(), 0);
    QCOMPARE(trend.Graph(6)->name(), u"U1, В"_qs);
    QTRY_COMPARE(InCharts<QTableWidget>("m_tableStats")->item(6, 0)->text(), u"U1, В"_qs);
    QCOMPARE(InCharts<QTableWidget>("m_tableStats")->rowCount(), 8);

    StartContinuous();
    QTRY_VERIFY_WITH_TIMEOUT(trend.Graph(6)->data()->size() >= 1, 20000);
    StopContinuous();
    QCOMPARE(Points(trend.Graph(6)).last().dValue, ListValue("m_listSecond", u"U1"_qs).toDouble());
    trend.Graph(6)->parentPlot()->replot();
    QVERIFY(trend.Graph(6)->valueAxis()->visible());
    QVERIFY(std::abs(trend.Graph(6)->valueAxis()->range().center() - 230.0) < 30.0);

    InCharts<QPushButton>("m_btnTrendDefaultRows")->click();
    names.clear();
    for (std::size_t i = 0; i < trend.SeriesCount(); ++i)
        names.append(trend.Name(i));
    QCOMPARE(names, (QStringList{u"dUA"_qs, u"dUB"_qs, u"dUC"_qs, u"dUAB"_qs, u"dUBC"_qs, u"dUCA"_qs, u"K2"_qs, u"F"_qs}));
    QCOMPARE(Item(u"U1"_qs)->checkState(), Qt::Unchecked);
    QCOMPARE(Item(u"dUB"_qs)->checkState(), Qt::Checked);
    QVERIFY(int(trend.Graph(0)->data()->size()) > nHeld);
    QCOMPARE(trend.Graph(1)->data()->size(), 0); // dUB begins anew
    QVERIFY(!trend.Graph(0)->valueAxis()->axisRect()->axis(QCPAxis::atRight, 1)->visible()); // no volts now
}

void CChartsTest::visibleSpanStatsZoomAndDrag()
{
    MakeWindow({});
    CChartsDlg &charts = OpenCharts();
    charts.resize(900, 560);
    charts.show();
    InCharts<QTabWidget>("m_tabs")->setCurrentIndex(1);
    QVERIFY(QTest::qWaitForWindowExposed(&charts));
    CTrendPlot &trend = charts.Trend();
    trend.SetRows({1}, SecondListRows()); // dUA alone

    // One reading a second: 1, 2, 3, a failed one, 5, 6.
    const qint64 nStart = 1'700'000'000'000;
    const char *values[] = {"1.00", "2.00", "3.00", nullptr, "5.00", "6.00"};
    for (int i = 0; i < 6; ++i) {
        if (values[i])
            trend.AppendReading(nStart + 1000 * i, SecondRowsWithDua(QString::fromLatin1(values[i])));
        else
            trend.AppendGap(nStart + 1000 * i);
    }
    QVERIFY(trend.IsFollowing());
    auto *pTable = InCharts<QTableWidget>("m_tableStats");
    QCustomPlot *pPlot = InCharts<QCustomPlot>("m_plotTrend");
    const auto Row = [pTable, pPlot] {
        pPlot->replot(); // the statistics are worked out for it
        QStringList texts;
        for (int c = 0; c < pTable->columnCount(); ++c)
            texts.append(pTable->item(0, c)->text());
        return texts;
    };
    QCOMPARE(Row(), (QStringList{u"dUA, %"_qs, u"1.00"_qs, u"6.00"_qs, u"3.40"_qs, u"5"_qs}));

    // The operator narrows the span to the 3rd ... 5th second.
    pPlot->xAxis->setRange(double(nStart + 2000) / 1000.0, double(nStart + 4000) / 1000.0);
    QVERIFY(!trend.IsFollowing());
    QCOMPARE(Row(), (QStringList{u"dUA, %"_qs, u"3.00"_qs, u"5.00"_qs, u"4.00"_qs, u"2"_qs}));
    QVERIFY(pPlot->yAxis->range().lower < 3.0 && pPlot->yAxis->range().upper > 5.0);
    QVERIFY(pPlot->yAxis->range().lower > 2.0 && pPlot->yAxis->range().upper < 6.0);
    // A span with nothing in it.
    pPlot->xAxis->setRange(double(nStart + 3100) / 1000.0, double(nStart + 3900) / 1000.0);
    QCOMPARE(Row(), (QStringList{u"dUA, %"_qs, u"—"_qs, u"—"_qs, u"—"_qs, u"0"_qs}));

    // A new reading outside the span leaves the span where it was put.
    trend.AppendReading(nStart + 6000, SecondRowsWithDua(u"7.00"_qs));
    QCOMPARE(pPlot->xAxis->range().upper, double(nStart + 3900) / 1000.0);

    // The wheel zooms the time axis, a drag moves it; the value axis follows.
    InCharts<QPushButton>("m_btnTrendShowAll")->click();
    QVERIFY(trend.IsFollowing());
    QCOMPARE(pPlot->xAxis->range().lower, double(nStart) / 1000.0);
    QVERIFY(pPlot->xAxis->range().upper >= double(nStart + 6000) / 1000.0);
    const QCPRange all = pPlot->xAxis->range();
    pPlot->replot();
    const QPoint centre = pPlot->axisRect()->rect().center();
    QWheelEvent wheel(centre, pPlot->mapToGlobal(centre), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(pPlot, &wheel);
    const QCPRange zoomed = pPlot->xAxis->range();
    QVERIFY(zoomed.size() < all.size());
    QVERIFY(!trend.IsFollowing());
    QTest::mousePress(pPlot, Qt::LeftButton, {}, centre);
    QTest::mouseMove(pPlot, centre + QPoint(100, 0));
    QTest::mouseRelease(pPlot, Qt::LeftButton, {}, centre + QPoint(100, 0));
    QVERIFY(pPlot->xAxis->range().lower < zoomed.lower);
    QCOMPARE(pPlot->xAxis->range().size(), zoomed.size());
    InCharts<QPushButton>("m_btnTrendShowAll")->click();
    QCOMPARE(Row(), (QStringList{u"dUA, %"_qs, u"1.00"_qs, u"7.00"_qs, u"4.00"_qs, u"6"_qs}));
}

// Once the trend is full, each reading drops its oldest point, in the plot as
// well; readings of the same time (a clock set back) are counted one by one.
void CChartsTest::plotHoldsWhatTheTrendHolds()
{
    QCustomPlot plot;
    CTrendPlot trend(&plot, 4);
    trend.SetRows({1, 262}, SecondListRows()); // dUA and F
    const qint64 nStart = 1'700'000'000'000;
    const qint64 times[] = {0, 1000, 2000, 2000, 2000, 3000, 1500, 4000, 5000};
    for (int i = 0; i < int(std::size(times)); ++i) {
        if (i == 3)
            trend.AppendGap(nStart + times[i]);
        else
            trend.AppendReading(nStart + times[i], SecondRowsWithDua(QString::number(i) + u".00"_qs));
        plot.replot(); // the graphs take what they draw before it
        for (std::size_t s = 0; s < trend.SeriesCount(); ++s) {
            const CTrendSeries held = trend.Trend().Series(s);
            const QList<SPoint> shown = Points(trend.Graph(s));
            QCOMPARE(std::size_t(shown.size()), held.size());
            for (qsizetype p = 0; p < shown.size(); ++p) {
                QCOMPARE(shown[p].dKey, double(held[std::size_t(p)].nMsecs) / 1000.0);
                QCOMPARE(std::isnan(shown[p].dValue), std::isnan(held[std::size_t(p)].dValue));
                if (!std::isnan(shown[p].dValue))
                    QCOMPARE(shown[p].dValue, held[std::size_t(p)].dValue);
            }
        }
    }
    QCOMPARE(Points(trend.Graph(0)).last().dValue, 8.0);
    QCOMPARE(trend.Graph(0)->data()->size(), 4);
}

// The wall clock is set back a minute between two readings: the trend's
// times run on a second a reading, the CSV log keeps the wall-clock times.
void CChartsTest::trendTimeRunsOnWhenTheClockIsSetBack()
{
    MakeWindow({});
    CChartsDlg &charts = OpenCharts();
    qint64 nMonotonic = 0;
    charts.SetMonotonicClock([&nMonotonic] { return nMonotonic; });
    const QString strLog = Path(u"clock.csv"_qs);
    m_dialogs.strSavePath = strLog;
    InCharts<QPushButton>("m_btnCsvLog")->click();
    QCOMPARE(charts.CsvLogPath(), strLog);

    const qint64 nWall = QDateTime(QDate(2026, 3, 1), QTime(12, 0, 0)).toMSecsSinceEpoch();
    const qint64 walls[] = {nWall, nWall + 1000, nWall - 60'000, nWall - 59'000};
    const std::vector<std::int32_t> raw(259, 1500); // a value for each named row
    QByteArray expectedLog = CsvHeader();
    for (const qint64 nTime : walls) {
        emit m_pWindow->SecondRead(nTime, raw, true);
        expectedLog += CsvRow(nTime, QDateTime::fromMSecsSinceEpoch(nTime).offsetFromUtc(), raw);
        nMonotonic += 1000;
    }
    charts.Trend().Graph(0)->parentPlot()->replot();
    const CTrendSeries held = charts.Trend().Trend().Series(0);
    const QList<SPoint> shown = Points(charts.Trend().Graph(0));
    QCOMPARE(held.size(), std::size(walls));
    QCOMPARE(shown.size(), qsizetype(std::size(walls)));
    for (std::size_t i = 0; i < std::size(walls); ++i) {
        QCOMPARE(held[i].nMsecs, nWall + qint64(i) * 1000);
        QCOMPARE(shown[qsizetype(i)].dKey, double(nWall + qint64(i) * 1000) / 1000.0);
    }
    QCOMPARE(FileBytes(strLog), expectedLog);
}

void CChartsTest::csvLogWritesEverySecondRead()
{
    auto pMeter = StartMeter();
    MakeWindow({pMeter->SlavePath()});
    OpenCharts();
    const QString strLog = Path(u"журнал.csv"_qs);
    m_dialogs.strSavePath = strLog;
    QCOMPARE(ChartsLabel("m_labelCsvLog"), ChartsText::CsvOff());
    QVERIFY(!InCharts<QPushButton>("m_btnCsvStop")->isEnabled());

    Click("m_btnReadSecond"); // before the log: no row
    InCharts<QPushButton>("m_btnCsvLog")->click();
    QCOMPARE(m_dialogs.fileDialogs.value(0).strDefaultSuffix, u"csv"_qs);
    QCOMPARE(m_dialogs.fileDialogs.value(0).strFilter, ChartsText::CsvFilter());
    QCOMPARE(m_pWindow->Charts()->CsvLogPath(), strLog);
    QCOMPARE(ChartsLabel("m_labelCsvLog"), ChartsText::CsvOn(strLog));
    QCOMPARE(m_pWindow->CsvLogState(), ChartsText::CsvOn(strLog));
    QVERIFY(!InCharts<QPushButton>("m_btnCsvLog")->isEnabled());
    QCOMPARE(FileBytes(strLog), CsvHeader());
    // The chart window closed, the log goes on, and the main window says so.
    InCharts<QPushButton>("m_btnClose")->click();
    QVERIFY(m_pWindow->Charts()->isHidden());
    QCOMPARE(m_pWindow->CsvLogState(), ChartsText::CsvOn(strLog));
    OpenCharts();

    // A read by the button, continuous ticks, a failed tick: a row per read.
    Click("m_btnReadSecond");
    QCOMPARE(FileBytes(strLog).count('\n'), 2);
    StartContinuous();
    QTRY_VERIFY_WITH_TIMEOUT(FileBytes(strLog).count('\n') >= 4, 20000);
    pMeter->ChangeBehaviour([](SMeterBehaviour &behaviour) { behaviour.nForcedStatus = STATUS_BUSY; });
    QTRY_VERIFY_WITH_TIMEOUT(m_dialogs.shown.size() >= 2, 20000);
    StopContinuous();
    const QByteArray afterFailures = FileBytes(strLog);
    pMeter->ChangeBehaviour([](SMeterBehaviour &behaviour) { behaviour.nForcedStatus = -1; });
    Click("m_btnReadSecond");
    QCOMPARE(FileBytes(strLog).count('\n'), afterFailures.count('\n') + 1);

    // Each row: the time and the values the meter sent; the last is the list now.
    const QList<QByteArray> lines = FileBytes(strLog).trimmed().split('\n');
    const int nSuccessful = int(lines.size()) - 1;
    QCOMPARE(nSuccessful, int(Commands(*pMeter).count(CMD_READ_SECOND)) - int(m_dialogs.shown.size()) - 1);
    const QList<QByteArray> last = lines.last().split(',');
    const QList<QByteArray> names = CsvHeader().trimmed().split(',');
    QCOMPARE(last.size(), names.size());
    QVERIFY(QDateTime::fromString(QString::fromLatin1(last[0]), Qt::ISODate).isValid());
    for (qsizetype i = 1; i < names.size(); ++i) {
        const double dShown = ListValue("m_listSecond", QString::fromUtf8(names[i])).toDouble();
        QVERIFY2(std::abs(last[i].toDouble() - dShown) <= 0.0051, names[i].constData());
    }

    InCharts<QPushButton>("m_btnCsvStop")->click();
    QCOMPARE(ChartsLabel("m_labelCsvLog"), ChartsText::CsvOff());
    QCOMPARE(m_pWindow->CsvLogState(), QString());
    const QByteArray stopped = FileBytes(strLog);
    Click("m_btnReadSecond");
    QCOMPARE(FileBytes(strLog), stopped);

    // Again into the same file: appended, no second header.
    InCharts<QPushButton>("m_btnCsvLog")->click();
    Click("m_btnReadSecond");
    QCOMPARE(FileBytes(strLog).count("time,"), 1);
    QCOMPARE(FileBytes(strLog).count('\n'), stopped.count('\n') + 1);

    // A row torn by a power cut: cut off before the first new row, and both
    // windows say so while the log runs.
    InCharts<QPushButton>("m_btnCsvStop")->click();
    QFile torn(strLog);
    QVERIFY(torn.open(QIODevice::Append));
    torn.write("2026-12-10T14:03:08+03:00,1.0");
    torn.close();
    InCharts<QPushButton>("m_btnCsvLog")->click();
    const QString strState = ChartsText::CsvState(strLog, 29);
    QCOMPARE(strState, ChartsText::CsvOn(strLog) + u"; оборванная последняя строка файла убрана (байт: 29)"_qs);
    QCOMPARE(ChartsLabel("m_labelCsvLog"), strState);
    QCOMPARE(m_pWindow->CsvLogState(), strState);
    Click("m_btnReadSecond");
    const QList<QByteArray> rows = FileBytes(strLog).split('\n');
    QCOMPARE(rows.size(), stopped.count('\n') + 3); // one more row, and nothing after the last line feed
    QCOMPARE(rows[rows.size() - 2].count(','), CsvHeader().count(','));

    // A file that cannot be opened: said with the system's reason, no log.
    InCharts<QPushButton>("m_btnCsvStop")->click();
    m_dialogs.shown.clear();
    m_dialogs.strSavePath = Path(u"no/such/folder/x.csv"_qs);
    InCharts<QPushButton>("m_btnCsvLog")->click();
    QCOMPARE(m_dialogs.shown, (QList<SShownBox>{{ChartsText::CsvOpenFailed(m_dialogs.strSavePath, qt_error_string(ENOENT)),
                                                 EMsgIcon::Exclamation, EMsgButtons::Ok}}));
    QVERIFY(m_dialogs.shown[0].strText.endsWith(m_dialogs.strSavePath + u": "_qs + qt_error_string(ENOENT)));
    QCOMPARE(m_pWindow->Charts()->CsvLogPath(), QString());
    QCOMPARE(m_pWindow->CsvLogState(), QString());
}

void CChartsTest::csvLogWriteErrorStopsIt()
{
    auto pMeter = StartMeter();
    MakeWindow({pMeter->SlavePath()});
    OpenCharts();
    const QString strLog = Path(u"full.csv"_qs);
    m_dialogs.strSavePath = strLog;
    InCharts<QPushButton>("m_btnCsvLog")->click();
    Click("m_btnReadSecond");
    const QByteArray written = FileBytes(strLog);
    QCOMPARE(written.count('\n'), 2);

    // The disk is full after a few more bytes, as the file size limit makes it.
    CFileSizeLimit diskFull(rlim_t(written.size() + 100));
    Click("m_btnReadSecond");
    diskFull.Lift();

    QCOMPARE(m_dialogs.shown, (QList<SShownBox>{{ChartsText::CsvWriteFailed(strLog, qt_error_string(EFBIG)),
                                                 EMsgIcon::Exclamation, EMsgButtons::Ok}}));
    QVERIFY(m_dialogs.shown[0].strText.contains(strLog + u": "_qs + qt_error_string(EFBIG) + u'\n'));
    QCOMPARE(m_pWindow->Charts()->CsvLogPath(), QString());
    QCOMPARE(ChartsLabel("m_labelCsvLog"), ChartsText::CsvOff());
    QVERIFY(InCharts<QPushButton>("m_btnCsvLog")->isEnabled());
    QCOMPARE(FileBytes(strLog), written); // whole rows only
    Click("m_btnReadSecond");
    QCOMPARE(FileBytes(strLog), written);
    QCOMPARE(m_dialogs.shown.size(), 1);
}

void CChartsTest::csvDialogWaitsForRunningRead()
{
    auto pMeter = StartMeter();
    MakeWindow({pMeter->SlavePath()});
    OpenCharts();
    Click("m_btnReadSecond"); // unlocked
    pMeter->ChangeBehaviour([](SMeterBehaviour &behaviour) { behaviour.bPaced = true; });
    m_dialogs.strSavePath = Path(u"log.csv"_qs);

    bool bPortOpenAtDialog = true;
    qsizetype nRequestsAtDialog = -1;
    m_dialogs.onFileDialog = [&] {
        bPortOpenAtDialog = m_pWindow->Link().Port().IsOpen();
        nRequestsAtDialog = pMeter->Requests().size();
    };
    int nDialogsRightAfterClick = -1;
    auto pAct = OnceWhileBusy(*m_pWindow, [&] {
        InCharts<QPushButton>("m_btnCsvLog")->click();
        InCharts<QPushButton>("m_btnCsvLog")->click(); // a second click asks nothing more
        nDialogsRightAfterClick = int(m_dialogs.fileDialogs.size());
    });
    Click("m_btnReadSecond");
    QCOMPARE(nDialogsRightAfterClick, 0);
    QTRY_COMPARE(m_dialogs.fileDialogs.size(), 1);
    QVERIFY(!bPortOpenAtDialog);
    QCOMPARE(nRequestsAtDialog, 3); // unlock, the first read, the held-up read
    QCOMPARE(m_pWindow->Charts()->CsvLogPath(), Path(u"log.csv"_qs));
    QTest::qWait(50);
    QCOMPARE(m_dialogs.fileDialogs.size(), 1);
    // The read that held it back is no row: the log began after it.
    QCOMPARE(FileBytes(Path(u"log.csv"_qs)), CsvHeader());
}

QTEST_MAIN(CChartsTest)
#include "charts_test.moc"
