// varik-bench-report: what a supply-quality report costs. Not a test;
// prints figures for docs/benchmarks.md. Writes, into a temporary folder removed after,
// a week of Секунда rows at one a second (604,800 rows, about a gigabyte),
// a week of Минута rows at one a minute and a year of them (52 weeks,
// 524,160 rows), and makes the report over each
// in a process of its own, so that its peak resident memory (VmHWM) is the
// report's alone. The logs are read back from the page cache: the figures
// are the report's work, not the disk's.
//   varik-bench-report [--keep DIR]
#include "data/csv_log.h"
#include "data/value_text.h"
#include "files/report_logs.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimeZone>

#include <cstdio>
#include <random>
#include <vector>

namespace {

constexpr qint64 DAY_SECONDS = 86400;
// 2026-10-19T00:00:00+03:00
constexpr qint64 T0 = 1792357200;
constexpr int OFFSET = 3 * 3600;

// The peak resident memory of this process so far, KiB.
qint64 PeakResidentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// The values of a row as a meter might send them: a few kinds of rows
// taken in turn, so writing a gigabyte costs no more than the disk.
std::vector<QByteArray> RowTails(EDataSet set)
{
    const int nValues = int(CsvHeader(set).count(',')); // after "time"
    std::mt19937 random(16);
    std::uniform_int_distribution<int> small(-2500, 9000); // milli-units: -2.500 ... 9.000
    std::vector<QByteArray> tails;
    for (int nKind = 0; nKind < 97; ++nKind) {
        QByteArray tail;
        for (int i = 0; i < nValues; ++i)
            tail += ',' + (set == EDataSet::Second ? ExactMilli(small(random)) : ExactMilli(small(random) / 10 * 10).chopped(1));
        tails.push_back(tail + '\n');
    }
    return tails;
}

bool WriteLog(const QString &strPath, EDataSet set, qint64 nStepSeconds, int nDays)
{
    QFile file(strPath);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const std::vector<QByteArray> tails = RowTails(set);
    QByteArray block = CsvHeader(set);
    std::size_t nRow = 0;
    for (qint64 t = T0; t < T0 + nDays * DAY_SECONDS; t += nStepSeconds, ++nRow) {
        block += CsvTime(t * 1000, OFFSET) + tails[nRow % tails.size()];
        if (block.size() > (4 << 20)) {
            if (file.write(block) != block.size())
                return false;
            block.clear();
        }
    }
    return file.write(block) == block.size() && file.flush();
}

// In the child: one report over the log, its figures on one line.
int MeasureOne(const QString &strLog)
{
    const qint64 nBaseKiB = PeakResidentKiB();
    SReportRequest request;
    request.logs = {strLog};
    request.zone = QTimeZone(OFFSET); // the logs' days, so their weeks are whole
    QElapsedTimer timer;
    timer.start();
    const SReportOutcome outcome = MakeReport(request);
    const double dSeconds = double(timer.nsecsElapsed()) / 1e9;
    if (outcome.eFailure != EReportFailure::None) {
        std::fprintf(stderr, "%s\n", outcome.strError.toUtf8().constData());
        return 1;
    }
    const double dMegabytes = double(QFileInfo(strLog).size()) / 1e6;
    std::printf("%8.1f MB %9lld rows %3d weeks %6d valid intervals %7.2f s %8.1f MB/s peak %6.1f MiB (%.1f MiB "
                "before the report)\n",
                dMegabytes, static_cast<long long>(outcome.report.nRowsRead), int(outcome.report.weeks.size()),
                outcome.report.nValidIntervals,
                dSeconds, dMegabytes / dSeconds, double(PeakResidentKiB()) / 1024, double(nBaseKiB) / 1024);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == QStringLiteral("--measure"))
        return MeasureOne(args[2]);

    QTemporaryDir temporary;
    const QString strDir = args.size() == 3 && args[1] == QStringLiteral("--keep") ? args[2] : temporary.path();
    QDir().mkpath(strDir);
    const struct {
        const char *pName;
        EDataSet set;
        qint64 nStep;
        int nDays;
    } logs[] = {{"a week of Минута rows, one a minute", EDataSet::Minute, 60, 7},
                {"a week of Секунда rows, one a second", EDataSet::Second, 1, 7},
                {"a year of Минута rows (52 weeks), one a minute", EDataSet::Minute, 60, 52 * 7}};
    for (const auto &log : logs) {
        const QString strLog = QDir(strDir).filePath(QString::fromLatin1(DataSetName(log.set)) + u'-'
                                                     + QString::number(log.nDays) + QStringLiteral(".csv"));
        std::printf("%s:\n", log.pName);
        std::fflush(stdout);
        if (!QFileInfo::exists(strLog) && !WriteLog(strLog, log.set, log.nStep, log.nDays)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(strLog));
            return 1;
        }
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(app.applicationFilePath(), {QStringLiteral("--measure"), strLog});
        if (!child.waitForFinished(-1) || child.exitCode() != 0)
            return 1;
    }
    return 0;
}
