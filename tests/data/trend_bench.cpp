// How much a day of continuous reading costs the trend: fills 24 hours of
// one-second readings of the default series the way the window does (one
// AppendReading per reply, now and then a failed read), then prints the
// memory held, the time per append and the time of the span statistics.
// A benchmark, not a test: it prints figures and judges nothing.
#include "data/catalogue.h"
#include "data/decoders.h"
#include "data/value_text.h"
#include "data/trend.h"

#include <QString>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <time.h>

namespace {

using CClock = std::chrono::steady_clock;

// VmRSS from /proc/self/status, in KiB; -1 when it cannot be read.
long RssKib()
{
    std::ifstream status("/proc/self/status");
    std::string strLine;
    while (std::getline(status, strLine))
        if (strLine.rfind("VmRSS:", 0) == 0)
            return std::stol(strLine.substr(6));
    return -1;
}

double Micros(CClock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

// The CPU time of this thread: a call that the scheduler interrupts looks
// long on the wall clock but not here.
double ThreadCpuMicros()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e6 + double(ts.tv_nsec) / 1e3;
}

// A plausible reading: each followed row moves a little every second.
void FillReading(CListRows &rows, const std::vector<int> &followed, std::size_t nSecond)
{
    for (std::size_t i = 0; i < followed.size(); ++i) {
        const double dPhase = 0.001 * double(nSecond) + double(i);
        const int nRaw = int(1000.0 * (double(i) + 2.0 * std::sin(dPhase)));
        rows[std::size_t(followed[i])].strValue = FormatMilli(nRaw);
    }
}

struct STimes {
    std::vector<double> micros;
    double dMaxCpu = 0;
    double dCpuStart = 0;
    CClock::time_point start;

    void Start()
    {
        dCpuStart = ThreadCpuMicros();
        start = CClock::now();
    }
    void Stop()
    {
        const CClock::time_point end = CClock::now();
        micros.push_back(Micros(end - start));
        dMaxCpu = std::max(dMaxCpu, ThreadCpuMicros() - dCpuStart);
    }
    void Print(const char *pWhat)
    {
        if (micros.empty())
            return;
        double dSum = 0;
        for (double d : micros)
            dSum += d;
        std::vector<double> sorted = micros;
        std::sort(sorted.begin(), sorted.end());
        auto at = [&](double dShare) { return sorted[std::size_t(dShare * double(sorted.size() - 1))]; };
        std::printf("%s: %zu calls, wall clock mean %.3f us, median %.3f us, 99.9%% %.3f us, max %.3f us; "
                    "max thread CPU time %.3f us\n",
                    pWhat, sorted.size(), dSum / double(sorted.size()), at(0.5), at(0.999), sorted.back(),
                    dMaxCpu);
    }
};

} // namespace

int main()
{
    constexpr std::size_t DAY_SECONDS = 24 * 3600;
    constexpr std::size_t GAP_EVERY = 1000; // a failed read now and then
    const qint64 nStart = 1'700'000'000'000;

    CListRows rows = SecondListRows();
    STimes fill;
    fill.micros.assign(DAY_SECONDS, 0.0); // touched now, so that the RSS growth is the trend's
    fill.micros.clear();
    const long nRssBefore = RssKib();
    CTrend trend;
    const std::vector<int> followed = trend.Rows();

    for (std::size_t s = 0; s < DAY_SECONDS; ++s) {
        const qint64 nMsecs = nStart + qint64(s) * 1000;
        FillReading(rows, followed, s);
        fill.Start();
        if (s % GAP_EVERY == GAP_EVERY - 1)
            trend.AppendGap(nMsecs);
        else
            trend.AppendReading(nMsecs, rows);
        fill.Stop();
    }
    const long nRssAfter = RssKib();

    std::printf("series: %zu, points per series: %zu (capacity %zu)\n", trend.SeriesCount(),
                trend.Series(0).size(), CTrend::DEFAULT_CAPACITY);
    std::printf("BytesHeld: %zu bytes (%.2f MiB)\n", trend.BytesHeld(),
                double(trend.BytesHeld()) / (1024.0 * 1024.0));
    std::printf("RSS growth over the fill: %ld KiB (%.2f MiB; before %ld KiB, after %ld KiB)\n",
                nRssAfter - nRssBefore, double(nRssAfter - nRssBefore) / 1024.0, nRssBefore, nRssAfter);
    fill.Print("AppendReading/AppendGap over the 24-hour fill");

    // At capacity every append also drops the oldest point.
    STimes full;
    const std::size_t nBeyond = CTrend::DEFAULT_CAPACITY - DAY_SECONDS + 3600;
    for (std::size_t s = DAY_SECONDS; s < DAY_SECONDS + nBeyond; ++s) {
        FillReading(rows, followed, s);
        full.Start();
        trend.AppendReading(nStart + qint64(s) * 1000, rows);
        full.Stop();
    }
    full.Print("AppendReading going past capacity (drops the oldest)");
    std::printf("RSS after an hour past capacity: %ld KiB\n", RssKib());

    const qint64 nFrom = trend.FirstTime();
    const qint64 nTo = trend.LastTime();
    STimes stats;
    volatile double dSink = 0; // keeps the calls from being optimised away
    for (int nRound = 0; nRound < 10; ++nRound) {
        for (std::size_t i = 0; i < trend.SeriesCount(); ++i) {
            stats.Start();
            const SSpanStats s = trend.Stats(i, nFrom, nTo);
            stats.Stop();
            dSink = dSink + s.dMean;
        }
    }
    stats.Print("Stats over the full span of one series");
    const SSpanStats s0 = trend.Stats(0, nFrom, nTo);
    std::printf("series 0 over the full span: %zu values, min %.2f, max %.2f, mean %.4f\n", s0.nCount,
                s0.dMin, s0.dMax, s0.dMean);

    STimes hour;
    for (std::size_t i = 0; i < trend.SeriesCount(); ++i) {
        hour.Start();
        dSink = dSink + trend.Stats(i, nTo - 3600 * 1000, nTo).dMean;
        hour.Stop();
    }
    hour.Print("Stats over the last hour of one series");
    return 0;
}
