// varik-bench-poll: how close varikd comes to what a serial line can carry.
// Not a test; prints figures for docs/benchmarks.md. Runs the built varikd against
// varik-meter processes that send every reply at 10 bits a byte:
//   1. reads per minute of N = 1, 4, 16 meters on one line at 9600 bit/s,
//      against the floor of the bytes on the wire and the protocol's pause;
//   2. the rate of 7 meters on a line with an 8th that is silent, against
//      the same 7 alone;
//   3. varikd's peak resident memory with 32 meters on 4 lines.
//   varik-bench-poll [--seconds S] [--silent-minutes M] [--only rate|memory|silent]
#include "data/decoders.h"
#include "link/frame.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int BAUD = 9600;
// What one per-second read puts on the wire: the request (header and
// checksum) and the reply (header, data, checksum), and the pause the link
// leaves the meter before it reads.
constexpr int REQUEST_BYTES = HEADER_SIZE + 1;
constexpr int REPLY_BYTES = HEADER_SIZE + SECOND_DATA_SIZE + 1;
constexpr double REPLY_DELAY_S = 0.1;

double FloorReadsPerMinute()
{
    const double nSecondsPerRead = double(REQUEST_BYTES + REPLY_BYTES) * 10.0 / BAUD + REPLY_DELAY_S;
    return 60.0 / nSecondsPerRead;
}

// A simulated bus: one varik-meter answering the device numbers given.
class CBus {
public:
    CBus(int nDevices, const QStringList &extra)
    {
        QStringList devices;
        for (int i = 1; i <= nDevices; ++i)
            devices << QString::number(i);
        m_process.start(QStringLiteral(VARIK_METER_PATH),
                        QStringList{QStringLiteral("--paced"), QStringLiteral("--devices"), devices.join(u',')}
                            + extra);
        m_process.waitForReadyRead(10000);
        m_strPath = QString::fromLocal8Bit(m_process.readLine()).trimmed();
    }
    ~CBus()
    {
        m_process.terminate();
        m_process.waitForFinished(5000);
    }
    const QString &Path() const { return m_strPath; }

private:
    QProcess m_process;
    QString m_strPath;
};

struct SLine {
    QString strPort;
    std::vector<int> devices;
};

QByteArray Config(const QString &strDataDir, const std::vector<SLine> &lines)
{
    QByteArray text = "data_dir = \"" + strDataDir.toUtf8() + "\"\n";
    for (const SLine &line : lines) {
        text += "\n[[line]]\nport = \"" + line.strPort.toUtf8() + "\"\nbaud = " + QByteArray::number(BAUD) + "\n";
        for (const int nDevice : line.devices)
            text += "  [[line.meter]]\n  name = \"" + line.strPort.section(u'/', -1).toUtf8() + "-"
                    + QByteArray::number(nDevice) + "\"\n  device = " + QByteArray::number(nDevice)
                    + "\n  second = 1\n  minute = 0\n  day = \"\"\n";
    }
    return text;
}

// varikd with a configuration, stopped with SIGTERM when it goes.
class CService {
public:
    CService(const QString &strDir, const std::vector<SLine> &lines) : m_strDataDir(strDir + "/data")
    {
        const QString strConfig = strDir + "/varikd.toml";
        QFile file(strConfig);
        if (!file.open(QIODevice::WriteOnly) || file.write(Config(m_strDataDir, lines)) < 0)
            std::fprintf(stderr, "cannot write %s\n", qPrintable(strConfig));
        file.close();
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(VARIKD_PATH), {QStringLiteral("--config"), strConfig});
        m_process.waitForStarted();
    }
    ~CService()
    {
        ::kill(pid_t(m_process.processId()), SIGTERM);
        m_process.waitForFinished(10000);
    }
    const QString &DataDir() const { return m_strDataDir; }
    // Peak resident memory so far, in KiB.
    long PeakKiB() const
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(m_process.processId()));
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').value(0).toLong();
        return -1;
    }

private:
    QString m_strDataDir;
    QProcess m_process;
};

// Rows of a meter's per-second logs whose time lies in [from, to).
int RowsBetween(const QString &strDataDir, const QString &strMeter, qint64 nFromMs, qint64 nToMs)
{
    int nRows = 0;
    const QDir folder(strDataDir + u'/' + strMeter + QStringLiteral("/second"));
    for (const QString &strName : folder.entryList({QStringLiteral("*.csv")}, QDir::Files)) {
        QFile file(folder.filePath(strName));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        file.readLine(); // the header
        while (!file.atEnd()) {
            const QByteArray row = file.readLine();
            const qint64 nMs = QDateTime::fromString(QString::fromLatin1(row.left(row.indexOf(','))), Qt::ISODate)
                                   .toMSecsSinceEpoch();
            nRows += nMs >= nFromMs && nMs < nToMs;
        }
    }
    return nRows;
}

// Starts the service, lets it settle (every meter unlocked once), then
// counts each meter's reads over nSeconds.
std::vector<int> Measure(const std::vector<SLine> &lines, int nSeconds, long *pPeakKiB = nullptr)
{
    QTemporaryDir dir;
    CService service(dir.path(), lines);
    const qint64 nSettleMs = 15000;
    const qint64 nFrom = QDateTime::currentMSecsSinceEpoch() + nSettleMs;
    const qint64 nTo = nFrom + qint64(nSeconds) * 1000;
    QThread::msleep(ulong(nTo - QDateTime::currentMSecsSinceEpoch() + 2000));
    if (pPeakKiB)
        *pPeakKiB = service.PeakKiB();
    std::vector<int> reads;
    for (const SLine &line : lines)
        for (const int nDevice : line.devices)
            reads.push_back(RowsBetween(service.DataDir(),
                                        line.strPort.section(u'/', -1) + u'-' + QString::number(nDevice), nFrom, nTo));
    return reads;
}

int Sum(const std::vector<int> &v, size_t nFirst = 0)
{
    int n = 0;
    for (size_t i = nFirst; i < v.size(); ++i)
        n += v[i];
    return n;
}

void LineRate(int nSeconds)
{
    // The link's pause before it reads overlaps the reply, which the meter
    // starts at once; the bytes alone are the harder floor.
    const double nBytesOnly = 60.0 / (double(REQUEST_BYTES + REPLY_BYTES) * 10.0 / BAUD);
    std::printf("Reads per minute on one line at %d bit/s (floor %.1f reads/min: %d bytes and a %.0f ms pause a "
                "read; %.1f reads/min for the bytes alone)\n",
                BAUD, FloorReadsPerMinute(), REQUEST_BYTES + REPLY_BYTES, REPLY_DELAY_S * 1000, nBytesOnly);
    for (const int nMeters : {1, 4, 16}) {
        const CBus bus(nMeters, {});
        std::vector<int> devices;
        for (int i = 1; i <= nMeters; ++i)
            devices.push_back(i);
        const std::vector<int> reads = Measure({{bus.Path(), devices}}, nSeconds);
        const double nPerMinute = Sum(reads) * 60.0 / nSeconds;
        std::printf("  N = %2d: %6.1f reads/min, %.3f of the floor, %.3f of the bytes alone\n", nMeters, nPerMinute,
                    nPerMinute / FloorReadsPerMinute(), nPerMinute / nBytesOnly);
        std::fflush(stdout);
    }
}

// The seven alone on the line against the seven with a silent eighth: what
// the silent one's tries cost the others.
void SilentCost(int nMinutes)
{
    int aReads[2] = {};
    for (const bool bSilent : {false, true}) {
        const int nMeters = bSilent ? 8 : 7;
        const CBus bus(nMeters, bSilent ? QStringList{QStringLiteral("--fault"), QStringLiteral("8=silent")} : QStringList());
        std::vector<int> devices;
        for (int i = 1; i <= nMeters; ++i)
            devices.push_back(i);
        const std::vector<int> reads = Measure({{bus.Path(), devices}}, nMinutes * 60);
        aReads[bSilent] = Sum(reads) - (bSilent ? reads[7] : 0);
    }
    std::printf("Seven meters over %d min: %d reads alone, %d with a silent eighth: %.1f %% fewer\n", nMinutes,
                aReads[0], aReads[1], 100.0 * (aReads[0] - aReads[1]) / std::max(aReads[0], 1));
    std::fflush(stdout);
}

void Memory(int nSeconds)
{
    std::vector<std::unique_ptr<CBus>> buses;
    std::vector<SLine> lines;
    for (int i = 0; i < 4; ++i) {
        buses.push_back(std::make_unique<CBus>(8, QStringList()));
        lines.push_back({buses.back()->Path(), {1, 2, 3, 4, 5, 6, 7, 8}});
    }
    long nPeakKiB = 0;
    const std::vector<int> reads = Measure(lines, nSeconds, &nPeakKiB);
    std::printf("32 meters on 4 lines: %d reads in %d s, peak resident memory of varikd %.1f MiB\n", Sum(reads),
                nSeconds, nPeakKiB / 1024.0);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Measures varikd against simulated meters paced at 9600 bit/s."));
    parser.addHelpOption();
    const QCommandLineOption seconds(QStringLiteral("seconds"),
                                     QStringLiteral("Seconds each line rate is measured (default 120)."),
                                     QStringLiteral("s"), QStringLiteral("120"));
    const QCommandLineOption silentMinutes(QStringLiteral("silent-minutes"),
                                           QStringLiteral("Minutes of each run with and without a silent meter "
                                                          "(default 10)."),
                                           QStringLiteral("m"), QStringLiteral("10"));
    const QCommandLineOption only(QStringLiteral("only"), QStringLiteral("Run one part: rate, memory or silent."),
                                  QStringLiteral("part"));
    parser.addOptions({seconds, silentMinutes, only});
    parser.process(app);
    const int nSeconds = std::max(10, parser.value(seconds).toInt());
    const QString strOnly = parser.value(only);
    if (strOnly.isEmpty() || strOnly == QLatin1String("rate"))
        LineRate(nSeconds);
    if (strOnly.isEmpty() || strOnly == QLatin1String("memory"))
        Memory(nSeconds);
    if (strOnly.isEmpty() || strOnly == QLatin1String("silent"))
        SilentCost(std::max(1, parser.value(silentMinutes).toInt()));
    return 0;
}
