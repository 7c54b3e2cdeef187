// varik-bench-mqtt: how fast the publisher gets readings of the size of a
// per-second set (about 2,300 bytes of JSON) to a mosquitto on loopback,
// live and on a replay of what piled up while the broker was away; the
// bytes each reading takes in the outbox; the peak resident memory.
//   varik-bench-mqtt [N [QoS]]   (default 20000 readings at QoS 1)
#include "service/mqtt_publisher.h"

#include "mosquitto_broker.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstdio>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

class CQuietJournal : public CJournal {
protected:
    void WriteLine(const QByteArray &line) override { std::fputs(("  journal: " + line).constData(), stdout); }
};

// The shape of a per-second reading: some eighty named values.
QByteArray Reading(int n)
{
    QByteArray json = "{\"time\": \"2026-12-10 12:00:00\", \"meter\": \"m1\", \"device\": 12, \"feeder\": 1, "
                      "\"n\": " + QByteArray::number(n) + ", \"values\": {";
    for (int nValue = 0; json.size() < 2270; ++nValue)
        json += (nValue ? ", " : "") + ("\"Value_" + QByteArray::number(nValue) + "\": 230.") + QByteArray::number(n % 97);
    return json + "}}";
}

bool WaitUntil(const std::function<bool()> &done, std::chrono::seconds timeout)
{
    const auto until = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() >= until)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

double PeakMb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

qint64 FolderBytes(const QString &strFolder)
{
    qint64 nBytes = 0;
    for (QDirIterator it(strFolder, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        nBytes += QFileInfo(it.next()).size();
    return nBytes;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int nReadings = argc > 1 ? std::atoi(argv[1]) : 20000;
    QTemporaryDir dir;
    MqttTest::CMosquittoBroker broker(dir.path() + QStringLiteral("/broker"));
    if (!broker.Start("allow_anonymous true\npersistence true\nmax_queued_messages 0\n")) {
        std::fprintf(stderr, "mosquitto did not start\n");
        return 1;
    }
    SMqttConfig config;
    config.bEnabled = true;
    config.strUrl = broker.Url();
    config.strTopic = QStringLiteral("bench");
    config.nQos = argc > 2 ? std::atoi(argv[2]) : 1;
    const QString strOutbox = dir.path() + QStringLiteral("/outbox");
    CQuietJournal journal;
    // In a process of its own, with a session the broker keeps through its
    // restart: the topics alone, counted.
    MqttTest::SSubscriberOptions counting;
    counting.clientId = "bench-counter";
    counting.bKeepSession = true;
    counting.bPayloads = false;
    const std::string readingsTopic = "bench/m1/second";
    auto pCounter = std::make_unique<MqttTest::CMqttSubscriber>(broker.Url(), readingsTopic, counting);
    CMqttPublisher publisher(config, strOutbox, journal);
    if (!pCounter->Start() || !publisher.Start() || !WaitUntil([&] { return publisher.IsConnected(); }, 10s)) {
        std::fprintf(stderr, "no connection to the broker\n");
        return 1;
    }
    std::vector<QByteArray> readings;
    for (int n = 0; n < nReadings; ++n)
        readings.push_back(Reading(n));
    const double baselineMb = PeakMb();
    std::printf("%d readings of %lld bytes, QoS %d, to mosquitto on loopback\n", nReadings,
                static_cast<long long>(readings[0].size()), config.nQos);

    const auto publishAll = [&] {
        const auto start = Clock::now();
        for (const QByteArray &reading : readings)
            publisher.PublishReading(QStringLiteral("m1"), "second", reading);
        return Clock::now() - start;
    };
    const auto liveStart = Clock::now();
    const auto livePush = publishAll();
    const bool bLive = WaitUntil([&] { return publisher.Waiting() == 0; }, 120s);
    const auto liveTime = Clock::now() - liveStart;
    pCounter->WaitFor(size_t(nReadings), 30s);
    std::printf("live:   %s; %.0f readings/s acknowledged by the broker (pushing alone: %.0f/s); %zu received\n",
                bLive ? "all delivered" : "NOT all delivered", nReadings / Seconds(liveTime),
                nReadings / Seconds(livePush), pCounter->Received().size());
    pCounter.reset();

    broker.Stop();
    WaitUntil([&] { return !publisher.IsConnected(); }, 10s);
    const auto awayPush = publishAll();
    const qint64 nDiskBytes = FolderBytes(strOutbox);
    std::printf("away:   %.0f readings/s pushed into the outbox; %lld readings wait; %s\n", nReadings / Seconds(awayPush),
                static_cast<long long>(publisher.Waiting()),
                nDiskBytes > 0 ? QStringLiteral("%1 bytes on disk per reading").arg(nDiskBytes / publisher.Waiting())
                                     .toUtf8()
                                     .constData()
                               : "nothing on disk (the outbox stand-in keeps them in memory)");
    if (!broker.Restart()) {
        std::fprintf(stderr, "mosquitto did not start again\n");
        return 1;
    }
    const auto upAt = Clock::now();
    MqttTest::CMqttSubscriber replayCounter(broker.Url(), readingsTopic, counting); // the session kept
    replayCounter.Start();
    WaitUntil([&] { return publisher.IsConnected(); }, 120s);
    const auto connectedAt = Clock::now();
    const bool bReplay = WaitUntil([&] { return publisher.Waiting() == 0; }, 120s);
    const auto replayTime = Clock::now() - connectedAt;
    replayCounter.WaitFor(size_t(nReadings), 30s);
    std::printf("replay: %s; %.0f readings/s acknowledged by the broker, reconnected %.1f s after the broker came "
                "back; %zu received\n",
                bReplay ? "all delivered" : "NOT all delivered", nReadings / Seconds(replayTime),
                Seconds(connectedAt - upAt), replayCounter.Received().size());

    publisher.Stop();
    std::printf("peak resident memory: %.1f MB; %.1f MB before the first reading was published (the benchmark's "
                "own copy of the readings: %.1f MB)\n",
                PeakMb(), baselineMb, nReadings * double(readings[0].size()) / (1024 * 1024));
    return bLive && bReplay ? 0 : 1;
}
