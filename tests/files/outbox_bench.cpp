// What the outbox costs with a long absence of the broker: 200,000 readings
// of a second (about 2,300 bytes of JSON each, 55 hours of one meter) pushed,
// the outbox opened again as after a restart, then delivered in batches of
// 100. Prints pushes and deliveries a second, the bytes on disk a message and
// the peak resident memory after a tenth of the pushes and at the end, which
// should not differ by much: the outbox holds no message in memory.
// A benchmark, not a test: it prints figures and judges nothing.
//   build/tests/files/varik-bench-outbox [FOLDER]   (default: a temporary one)
#include "files/outbox.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

using CClock = std::chrono::steady_clock;

constexpr int MESSAGES = 200000;
constexpr int BATCH = 100;
constexpr int PAYLOAD = 2300;
const QByteArray TOPIC = "varik/ps12/vvod1/second";

// A line of /proc/self/status ("VmHWM", "VmRSS"), in KiB; -1 when unread.
long StatusKib(const std::string &strKey)
{
    std::ifstream status("/proc/self/status");
    std::string strLine;
    while (std::getline(status, strLine)) {
        if (strLine.rfind(strKey + ':', 0) == 0)
            return std::stol(strLine.substr(strKey.size() + 1));
    }
    return -1;
}

double Seconds(CClock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// A reading's JSON as the service writes it, near enough: a time and a few
// dozen named values. Made once; each message gets its own number in place,
// so what the figures time is the outbox and the order can be checked.
QByteArray ReadingTemplate()
{
    QByteArray json = "{\"seq\":00000000,\"meter\":\"vvod1\",\"set\":\"second\","
                      "\"time\":\"2026-12-10T20:13:05+03:00\",\"values\":{";
    for (int k = 0; json.size() < PAYLOAD - 40; ++k)
        json += "\"U" + QByteArray::number(k) + "\":" + QByteArray::number(230.0 + k % 100 / 10.0, 'f', 3) + ',';
    json += "\"f\":50.000}}";
    return json.leftJustified(PAYLOAD, ' ');
}

QByteArray Reading(const QByteArray &pattern, int i)
{
    QByteArray json = pattern;
    const QByteArray number = QByteArray::number(i).rightJustified(8, '0');
    std::memcpy(json.data() + 7, number.constData(), 8);
    return json;
}

bool Check(EOutboxResult result, const COutbox &outbox, const char *pWhat)
{
    if (result == EOutboxResult::Ok)
        return true;
    std::fprintf(stderr, "%s failed: %s\n", pWhat, qPrintable(outbox.ErrorText()));
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir temporary;
    const QString strFolder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temporary.path() + "/outbox";
    const std::int64_t nBound = 1024LL * 1024 * 1024; // all of it fits: nothing is dropped

    const QByteArray pattern = ReadingTemplate();
    std::int64_t nBytes = 0;
    {
        COutbox outbox;
        if (!Check(outbox.Open(strFolder, nBound), outbox, "Open"))
            return 1;
        const CClock::time_point start = CClock::now();
        long nHwmTenth = 0;
        for (int i = 0; i < MESSAGES; ++i) {
            if (!Check(outbox.Push({TOPIC, Reading(pattern, i)}), outbox, "Push"))
                return 1;
            if (i + 1 == MESSAGES / 10)
                nHwmTenth = StatusKib("VmHWM");
        }
        if (!Check(outbox.Sync(), outbox, "Sync"))
            return 1;
        const double dPush = Seconds(CClock::now() - start);
        nBytes = outbox.Bytes();
        std::printf("push     %d messages of %d bytes: %.2f s, %.0f pushes/s\n", MESSAGES, PAYLOAD, dPush,
                    MESSAGES / dPush);
        std::printf("disk     %lld bytes, %.1f bytes a message, %lld dropped\n", static_cast<long long>(nBytes),
                    double(nBytes) / MESSAGES, static_cast<long long>(outbox.DroppedSinceOpen()));
        std::printf("memory   VmHWM %ld KiB after %d pushes, %ld KiB after %d\n", nHwmTenth, MESSAGES / 10,
                    StatusKib("VmHWM"), MESSAGES);
    }

    COutbox outbox;
    CClock::time_point start = CClock::now();
    if (!Check(outbox.Open(strFolder, nBound), outbox, "Open again"))
        return 1;
    std::printf("reopen   %.2f s, %lld messages waiting\n", Seconds(CClock::now() - start),
                static_cast<long long>(outbox.Count()));

    start = CClock::now();
    int nDelivered = 0;
    int nOutOfOrder = 0;
    for (;;) {
        const std::vector<SOutboxMessage> messages = outbox.Peek(BATCH);
        if (messages.empty())
            break;
        for (const SOutboxMessage &message : messages) {
            if (message.payload != Reading(pattern, nDelivered++))
                ++nOutOfOrder;
        }
        if (!Check(outbox.Ack(int(messages.size())), outbox, "Ack"))
            return 1;
    }
    const double dReplay = Seconds(CClock::now() - start);
    std::printf("replay   %d messages in batches of %d: %.2f s, %.0f messages/s (goal >= 2000), %d wrong\n",
                nDelivered, BATCH, dReplay, nDelivered / dReplay, nOutOfOrder);
    std::printf("memory   VmHWM %ld KiB at the end, VmRSS %ld KiB; %lld bytes left on disk\n", StatusKib("VmHWM"),
                StatusKib("VmRSS"), static_cast<long long>(outbox.Bytes()));
    return 0;
}
