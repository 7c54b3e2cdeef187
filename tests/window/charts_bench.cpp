// What the chart window costs with a day of continuous reading: the trend
// plot filled with one-second readings up to what it holds (24 hours and a
// little more; now and then a failed read), of the default 8 series and then
// of all 259 rows, each in a process of its own; then the memory held, the
// time to append one reading and replot, a full replot after a zoom, and the
// spectrum update after a read.
// A benchmark, not a test: it prints figures and judges nothing.
//   build/tests/window/varik-bench            (offscreen unless told otherwise)
//   build/tests/window/varik-bench 8|all      (one of the two)
#include "data/catalogue.h"
#include "data/decoders.h"
#include "sim/meter_sim.h"
#include "sim/meter_values.h"
#include "window/spectrum_plot.h"
#include "data/supply_limits.h"
#include "window/trend_plot.h"

#include <qcustomplot.h>

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

using CClock = std::chrono::steady_clock;

constexpr int WIDTH = 1000;  // the plot as the chart window shows it
constexpr int HEIGHT = 420;
constexpr qint64 DAY_SECONDS = 24 * 3600;
constexpr int SAMPLES = 200;

// VmRSS from /proc/self/status, in KiB; -1 when it cannot be read.
long RssKib()
{
    std::ifstream status("/proc/self/status");
    std::string strLine;
    while (std::getline(status, strLine)) {
        if (strLine.rfind("VmRSS:", 0) == 0)
            return std::stol(strLine.substr(6));
    }
    return -1;
}

double Millis(CClock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

struct STimes {
    std::vector<double> ms;
    void Print(const char *pWhat, double dGoal) const // no goal: 0
    {
        const double dMean = std::accumulate(ms.begin(), ms.end(), 0.0) / double(ms.size());
        const double dMax = *std::max_element(ms.begin(), ms.end());
        std::printf("%-44s mean %7.2f ms, max %7.2f ms over %zu", pWhat, dMean, dMax, ms.size());
        if (dGoal > 0)
            std::printf(" (goal <= %.0f ms)", dGoal);
        std::printf("\n");
    }
};

// The Секунда list as a simulated meter's reply at second t shows it.
void ReadSecond(CListRows &rows, double t)
{
    const QByteArray data = SimSecondData(t);
    DecodeSecond(reinterpret_cast<const std::uint8_t *>(data.constData()), std::size_t(data.size()), rows);
}

// The trend of the given rows through a day and more: fill, append, zoom.
void BenchTrend(const std::vector<int> &followed, double dMemoryGoalMib, double dAppendGoalMs, double dZoomGoalMs)
{
    QCustomPlot trendPlot;
    trendPlot.resize(WIDTH, HEIGHT);
    trendPlot.show();
    CTrendPlot trend(&trendPlot);
    CListRows rows = SecondListRows();
    trend.SetRows(followed, rows);

    // A day of readings one second apart, and the few minutes more the trend
    // holds, so that each further reading drops the oldest; one in 500 fails.
    const qint64 nFill = qint64(CTrend::DEFAULT_CAPACITY);
    const long nRssBefore = RssKib();
    const qint64 nStart = QDateTime::currentMSecsSinceEpoch() - nFill * 1000;
    const auto fillStart = CClock::now();
    for (qint64 s = 0; s < nFill; ++s) {
        if (s % 500 == 499) {
            trend.AppendGap(nStart + s * 1000);
            continue;
        }
        ReadSecond(rows, double(s));
        trend.AppendReading(nStart + s * 1000, rows);
    }
    trendPlot.replot(QCustomPlot::rpImmediateRefresh);
    const double dFillMs = Millis(CClock::now() - fillStart);
    const long nRssAfter = RssKib();

    std::size_t nPoints = 0;
    for (std::size_t i = 0; i < trend.SeriesCount(); ++i)
        nPoints += trend.Trend().Series(i).size();
    std::printf("trend: %zu series, %zu points in all (%lld s of readings each)\n", trend.SeriesCount(), nPoints,
                static_cast<long long>(nFill));
    std::printf("filled and plotted in %.0f ms\n", dFillMs);
    const std::size_t nTrendBytes = trend.Trend().BytesHeld();
    std::printf("memory: trend %.1f MiB + plot %.1f MiB = %.1f MiB held by points; RSS grew %.1f MiB "
                "(goal <= %.0f MiB)\n",
                double(nTrendBytes) / 1048576.0, double(trend.BytesHeld() - nTrendBytes) / 1048576.0,
                double(trend.BytesHeld()) / 1048576.0, double(nRssAfter - nRssBefore) / 1024.0, dMemoryGoalMib);

    // One more reading at a time, the whole day in sight, as each tick does.
    STimes append;
    for (int i = 0; i < SAMPLES; ++i) {
        const qint64 s = nFill + i;
        ReadSecond(rows, double(s));
        const auto start = CClock::now();
        trend.AppendReading(nStart + s * 1000, rows);
        trendPlot.replot(QCustomPlot::rpImmediateRefresh);
        append.ms.push_back(Millis(CClock::now() - start));
    }
    append.Print("append one reading and replot (day shown):", dAppendGoalMs);

    // The operator zooms: spans from a minute to the whole day, anywhere.
    STimes zoom;
    const double dFirst = double(nStart + SAMPLES * 1000) / 1000.0;
    const double aSpans[] = {60.0, 600.0, 3600.0, 6 * 3600.0, double(DAY_SECONDS)};
    for (int i = 0; i < SAMPLES; ++i) {
        const double dSpan = aSpans[i % std::size(aSpans)];
        const double dFrom = dFirst + std::fmod(i * 7919.0, double(DAY_SECONDS) - dSpan + 1.0);
        const auto start = CClock::now();
        trendPlot.xAxis->setRange(dFrom, dFrom + dSpan);
        trendPlot.replot(QCustomPlot::rpImmediateRefresh);
        zoom.ms.push_back(Millis(CClock::now() - start));
    }
    zoom.Print("full replot after a zoom:", dZoomGoalMs);
    std::printf("RSS at the end: %.1f MiB\n", double(RssKib()) / 1024.0);
}

// A read of the Секунда list: the spectrum of one phase, shown.
void BenchSpectrum()
{
    QCustomPlot spectrumPlot;
    spectrumPlot.resize(WIDTH, HEIGHT);
    spectrumPlot.show();
    CSpectrumPlot spectrum(&spectrumPlot);
    spectrum.SetLimits(CLimits::Defaults());
    CListRows rows = SecondListRows();
    STimes update;
    for (int i = 0; i < SAMPLES; ++i) {
        ReadSecond(rows, double(i));
        const auto start = CClock::now();
        spectrum.Show(SpectrumOf(rows, ESpectrumSource::Second, EPhase(i % PHASE_SET_SIZE)));
        spectrumPlot.replot(QCustomPlot::rpImmediateRefresh);
        update.ms.push_back(Millis(CClock::now() - start));
    }
    update.Print("spectrum update after a read:", 10);
}

std::vector<int> AllRows()
{
    const CListRows rows = SecondListRows();
    std::vector<int> named;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (!rows[i].strName.isEmpty())
            named.push_back(int(i));
    }
    return named;
}

int Run(int argc, char **argv, const std::string &strWhich)
{
    QApplication app(argc, argv);
    if (strWhich == "8") {
        std::printf("== the default 8 series ==\n");
        BenchTrend(CTrend::DefaultRows(), 64, 20, 100);
        BenchSpectrum();
    } else {
        std::printf("== all 259 rows followed ==\n");
        BenchTrend(AllRows(), 128, 0, 0);
    }
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc > 1)
        return Run(argc, argv, argv[1]);
    // Each in a fresh process, so that neither reuses the other's memory.
    for (const char *pWhich : {"8", "all"}) {
        const pid_t pid = fork();
        if (pid == 0)
            _exit(Run(argc, argv, pWhich));
        int nStatus = 0;
        if (pid < 0 || waitpid(pid, &nStatus, 0) != pid || !WIFEXITED(nStatus) || WEXITSTATUS(nStatus) != 0)
            return 1;
    }
    return 0;
}
