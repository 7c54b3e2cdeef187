// The outbox on a real folder: order across segments, a restart, the bound,
// and what a crash, a bad byte or a full disk leaves behind.
#include "files/outbox.h"
#include "test_files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

using namespace TestFiles;

namespace {

constexpr qint64 SEGMENT_HEADER = 8;
constexpr qint64 RECORD_HEADER = 16;
const QByteArray TOPIC = "varik/ps12/vvod1/second";

// Message i: its number first, padded to nSize bytes, so a test reads back
// which messages came and knows where each record lies.
QByteArray Payload(int i, int nSize = 900)
{
    QByteArray payload = QByteArray::number(i) + ':';
    return payload.leftJustified(nSize, 'x');
}

int Number(const SOutboxMessage &message)
{
    return message.payload.left(message.payload.indexOf(':')).toInt();
}

std::vector<int> Range(int nFrom, int nTo) // [nFrom, nTo)
{
    std::vector<int> numbers;
    for (int i = nFrom; i < nTo; ++i)
        numbers.push_back(i);
    return numbers;
}

std::vector<int> Join(std::vector<int> a, const std::vector<int> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void PushRange(COutbox &outbox, int nFrom, int nTo, int nSize = 900)
{
    for (int i = nFrom; i < nTo; ++i)
        ASSERT_EQ(outbox.Push({TOPIC, Payload(i, nSize)}), EOutboxResult::Ok) << qPrintable(outbox.ErrorText());
}

// Peeks and acknowledges until nothing waits; the numbers in the order they
// came. A message delivered whole but with another topic shows as -1.
std::vector<int> Deliver(COutbox &outbox, int nBatch = 7)
{
    std::vector<int> numbers;
    for (;;) {
        const std::vector<SOutboxMessage> messages = outbox.Peek(nBatch);
        if (messages.empty())
            return numbers;
        for (const SOutboxMessage &message : messages)
            numbers.push_back(message.topic == TOPIC ? Number(message) : -1);
        EXPECT_EQ(outbox.Ack(int(messages.size())), EOutboxResult::Ok);
    }
}

void AckFirst(COutbox &outbox, int n)
{
    while (n > 0) {
        const int nGot = int(outbox.Peek(std::min(n, 5)).size());
        ASSERT_GT(nGot, 0);
        ASSERT_EQ(outbox.Ack(nGot), EOutboxResult::Ok);
        n -= nGot;
    }
}

class OutboxTest : public ::testing::Test {
protected:
    QString Folder() const { return m_dir.path() + QStringLiteral("/outbox"); }
    QString Path(const QString &strName) const { return Folder() + u'/' + strName; }
    QStringList Segments() const
    {
        return QDir(Folder()).entryList({QStringLiteral("*.seg")}, QDir::Files, QDir::Name);
    }
    qint64 SizeOf(const QString &strName) const { return QFileInfo(Path(strName)).size(); }

    QTemporaryDir m_dir;
};

// 900-byte payloads under a 64 KiB bound: 8 KiB segments of 9 records.
constexpr qint64 BOUND = 64 * 1024;
constexpr int PER_SEGMENT = 9;
const qint64 RECORD = RECORD_HEADER + TOPIC.size() + 900;

qint64 RecordAt(int nInSegment)
{
    return SEGMENT_HEADER + nInSegment * RECORD;
}

TEST_F(OutboxTest, KeepsTheOrderAcrossSegmentsAndLetsDeliveredSegmentsGo)
{
    COutbox outbox;
    ASSERT_EQ(outbox.Open(Folder(), BOUND), EOutboxResult::Ok) << qPrintable(outbox.ErrorText());
    PushRange(outbox, 0, 50);
    EXPECT_EQ(outbox.Count(), 50);
    EXPECT_EQ(Segments().size(), 6);
    EXPECT_EQ(outbox.Bytes(), 6 * SEGMENT_HEADER + 50 * RECORD);

    EXPECT_EQ(Deliver(outbox), Range(0, 50));
    EXPECT_EQ(outbox.Count(), 0);
    EXPECT_EQ(Segments().size(), 1); // the one being written stays
    EXPECT_EQ(outbox.DroppedSinceOpen(), 0);
}

TEST_F(OutboxTest, PeekLeavesMessagesUntilTheyAreAcknowledged)
{
    COutbox outbox;
    ASSERT_EQ(outbox.Open(Folder(), BOUND), EOutboxResult::Ok);
    PushRange(outbox, 0, 5);
    ASSERT_EQ(outbox.Peek(3).size(), 3u);
    ASSERT_EQ(outbox.Peek(3).size(), 3u);
    EXPECT_EQ(outbox.Count(), 5);

    EXPECT_EQ(outbox.Ack(4), EOutboxResult::Failed) << "more than the Peek gave";
    EXPECT_EQ(outbox.Ack(2), EOutboxResult::Ok);
    EXPECT_EQ(outbox.Ack(2), EOutboxResult::Ok) << "said again, nothing more goes";
    EXPECT_EQ(outbox.Count(), 3);
    EXPECT_EQ(Deliver(outbox), Range(2, 5));
}

TEST_F(OutboxTest, RestartKeepsWhatWaitsAndForgetsWhatWasDelivered)
{
    {
        COutbox outbox;
        ASSERT_EQ(outbox.Open(Folder(), BOUND), EOutboxResult::Ok);
        PushRange(outbox, 0, 30);
        AckFirst(outbox, 13);
    }
    COutbox outbox;
    ASSERT_EQ(outbox.Open(Folder(), BOUND), EOutboxResult::Ok);
    EXPECT_EQ(outbox.Count(), 17);
    PushRange(outbox, 30, 35);
    EXPECT_EQ(Deliver(outbox), Range(13, 35));

    ASSERT_EQ(outbox.Open(Folder(), BOUND), EOutboxResult::Ok);
    EXPECT_EQ(outbox.Count(), 0);
    EXPECT_TRUE(outbox.Peek(10).empty());
}

TEST_F(OutboxTest, WhenFullTheOldestGoAndAreCounted)
{
    COutbox outbox;
    const qint64 nBound = 16 * 1024; // 4 KiB segments
    ASSERT_EQ(outbox.Open(Folder(), nBound), EOutboxResult::Ok);
    PushRange(outbox, 0, 100, 500);
    EXPECT_LE(outbox.Bytes(), nBound);
    EXPECT_GT(outbox.DroppedSinceOpen(), 0);
    EXPECT_EQ(outbox.Count() + outbox.DroppedSinceOpen(), 100);
    const qint64 nOnDisk = [&] {
        qint64 n = 0;
        for (const QString &strName : Segments())
            n += SizeOf(strName);
        return n;
    }();
    EXPECT_EQ(outbox.Bytes(), nOnDisk);
    EXPECT_EQ(Deliver(outbox), Range(int(outbox.DroppedSinceOpen()), 100));
}

TEST_F(OutboxTest, EachPushSaysWhatItDropped)
{
    COutbox outbox;
    ASSERT_EQ(outbox.Open(Folder(), 16 * 1024), EOutboxResult::Ok); // 4 KiB segments
    qint64 nSum = 0;
    std::vector<std::int64_t> drops;
    for (int i = 0; i < 100; ++i) {
        std::int64_t nDropped = -1;
        ASSERT_EQ(outbox.Push({TOPIC, Payload(i, 500)}, &nDropped), EOutboxResult::Ok);
        ASSERT_GE(nDropped, 0);
        nSum += nDropped;
        if (nDropped > 0)
            drops.push_back(nDropped);
    }
    EXPECT_EQ(nSum, outbox.DroppedSinceOpen());
    ASSERT_FALSE(drops.empty());
    EXPECT_EQ(drops.front(), drops.back()); // a whole segment at a time
    std::int64_t nRefused = -1;
    EXPECT_EQ(outbox.Push({TOPIC, QByteArray(16 * 1024, 'x')}, &nRefused), EOutboxResult::Failed);
    EXPECT_EQ(nRefused, 0);
    EXPECT_EQ(nSum + outbox.Count(), 100);
}

TEST_F(OutboxTest, AcknowledgingMessagesDroppedSincePeekPassesOverNothingElse)
{
    COutbox outbox;
    ASSERT_EQ(outbox.Open(Folder(), 16 * 1024), EOutboxResult::Ok);
    PushRange(outbox, 0, 10, 500);
    ASSERT_EQ(outbox.Peek(5).size(), 5u);
    PushRange(outbox, 10, 40, 500); // the peeked ones are dropped meanwhile
    const qint64 nDropped = outbox.DroppedSinceOpen();
    ASSERT_GE(nDropped, 5);
    EXPECT_EQ(outbox.Ack(5), EOutboxResult::Ok);
    EXPECT_EQ(outbox.Count(), 40 - nDropped);
    EXPECT_EQ(Deliver(outbox), Range(int(nDropped), 40));
}

TEST_F(OutboxTest, RefusesWhatItCannotHold)
{
    COutbox outbox;
    EXPECT_EQ(outbox.Push({TOPIC, "x"}), EOutboxResult::Failed) << "not open";
    ASSERT_TRUE(PutFile(m_dir.path() + QStringLiteral("/file"), "not a folder"));
    EXPECT_EQ(outbox.Open(m_dir.path() + QStringLiteral("/file"), BOUND), EOutboxResult::Failed);
    EXPECT_FALSE(outbox.ErrorText().isEmpty());
    EXPECT_FALSE(outbox.IsOpen());

    ASSERT_EQ(outbox.Open(Folder(), 16 * 1024), EOutboxResult::Ok);
    EXPECT_EQ(outbox.Push({TOPIC, QByteArray(16 * 1024, 'x')}), EOutboxResult::Failed);
    EXPECT_EQ(outbox.Push({QByteArray(65536, 't'), "x"}), EOutboxResult::Failed);
    EXPECT_EQ(outbox.Count(), 0);
    // Any bytes at all, the record's own mark among them, come back as sent.
    const QByteArray binary = QByteArray("\xF7VK\x1E\0\0\0\0\xFF", 9).repeated(50);
    ASSERT_EQ(outbox.Push({TOPIC, binary}), EOutboxResult::Ok);
    const std::vector<SOutboxMessage> messages = outbox.Peek(5);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].payload, binary);
}

// What a crash, a bad byte or a hand in the folder leaves, as Open finds it.
// Twenty messages make segments of messages 0-8, 9-17 and 18-19; nAcked were
// delivered before the damage.
struct SDamage {
    const char *pName;
    int nAcked;
    std::function<void(const QString &strFolder, const QStringList &segments)> damage;
    std::vector<int> expected;
};

void Truncate(const QString &strPath, qint64 nSize)
{
    ASSERT_TRUE(QFile::resize(strPath, nSize));
}

void FlipByte(const QString &strPath, qint64 nAt)
{
    QByteArray bytes = FileBytes(strPath);
    ASSERT_LT(nAt, bytes.size());
    bytes[nAt] = char(bytes[nAt] ^ 0x5A);
    ASSERT_TRUE(PutFile(strPath, bytes));
}

QString In(const QString &strFolder, const QString &strName)
{
    return strFolder + u'/' + strName;
}

const SDamage DAMAGES[] = {
    {"nothing damaged", 3, [](const QString &, const QStringList &) {}, Range(3, 20)},
    {"last record torn",
     3,
     [](const QString &f, const QStringList &s) { Truncate(In(f, s[2]), RecordAt(2) - 100); },
     Range(3, 19)},
    {"last record torn in its header",
     3,
     [](const QString &f, const QStringList &s) { Truncate(In(f, s[2]), RecordAt(1) + 7); },
     Range(3, 19)},
    {"a byte of a middle payload flipped",
     3,
     [](const QString &f, const QStringList &s) { FlipByte(In(f, s[0]), RecordAt(5) + RECORD - 10); },
     Join(Range(3, 5), Range(6, 20))},
    {"a middle record's length flipped",
     3,
     [](const QString &f, const QStringList &s) { FlipByte(In(f, s[0]), RecordAt(5) + 9); },
     Join(Range(3, 5), Range(6, 20))},
    {"a middle record's mark flipped",
     3,
     [](const QString &f, const QStringList &s) { FlipByte(In(f, s[0]), RecordAt(5)); },
     Join(Range(3, 5), Range(6, 20))},
    {"the last record of a segment flipped",
     3,
     [](const QString &f, const QStringList &s) { FlipByte(In(f, s[0]), RecordAt(8) + 20); },
     Join(Range(3, 8), Range(9, 20))},
    {"a middle segment's header spoiled",
     3,
     [](const QString &f, const QStringList &s) { FlipByte(In(f, s[1]), 0); },
     Range(3, 20)},
    {"the last segment empty, cut at its start",
     3,
     [](const QString &f, const QStringList &s) { Truncate(In(f, s[2]), 0); },
     Range(3, 18)},
    {"the position file lost",
     3,
     [](const QString &f, const QStringList &) { ASSERT_TRUE(QFile::remove(In(f, "position"))); },
     Range(0, 20)},
    {"the position file garbage",
     3,
     [](const QString &f, const QStringList &) { ASSERT_TRUE(PutFile(In(f, "position"), QByteArray(64, 'g'))); },
     Range(0, 20)},
    {"the position in a segment deleted by hand",
     12,
     [](const QString &f, const QStringList &s) { ASSERT_TRUE(QFile::remove(In(f, s[1]))); },
     Range(18, 20)},
    {"the position past a segment's cut end",
     8,
     [](const QString &f, const QStringList &s) { Truncate(In(f, s[0]), RecordAt(5)); },
     Range(9, 20)},
    {"a delivered segment left behind",
     12,
     [](const QString &f, const QStringList &s) {
         // what a crash between the position and the deletion leaves
         ASSERT_TRUE(QFile::copy(In(f, s[2]), In(f, QStringLiteral("0000000000000001.seg"))));
     },
     Range(12, 20)},
    {"foreign files in the folder",
     3,
     [](const QString &f, const QStringList &) {
         ASSERT_TRUE(PutFile(In(f, "notes.txt"), "hello"));
         ASSERT_TRUE(PutFile(In(f, "12.seg"), "\xF7VK\x1E"));
         ASSERT_TRUE(PutFile(In(f, "00000000000000zz.seg"), "garbage"));
         ASSERT_TRUE(QDir(f).mkdir("00000000000000ff.seg"));
     },
     Range(3, 20)},
};

void PrintTo(const SDamage &damage, std::ostream *pOut)
{
    *pOut << damage.pName;
}

class OutboxDamageTest : public OutboxTest, public ::testing::WithParamInterface<SDamage> {};

TEST_P(OutboxDamageTest, DeliversWhatIsWholeInOrderAndNothingTwiceAfterwards)
{
    const SDamage &c = GetParam();
    {
        COutbox outbox;
        ASSERT_EQ(outbox.Open(Folder(), BOUND), EOutboxResult::Ok);
        PushRange(outbox, 0, 20);
        AckFirst(outbox, c.nAcked);
    }
    const QStringList segments = Segments();
    ASSERT_GE(segments.size(), 2);
    // A segment fully delivered is already gone: name them as when written.
    QStringList all;
    const quint64 nLast = segments.back().left(16).toULongLong(nullptr, 16);
    for (quint64 n = nLast - 2; n <= nLast; ++n)
        all << QStringLiteral("%1.seg").arg(n, 16, 16, QLatin1Char('0'));
    c.damage(Folder(), all);
    if (::testing::Test::HasFatalFailure())
        return;

    COutbox outbox;
    ASSERT_EQ(outbox.Open(Folder(), BOUND), EOutboxResult::Ok) << qPrintable(outbox.ErrorText());
    EXPECT_EQ(outbox.Count(), qint64(c.expected.size()));
    PushRange(outbox, 100, 102); // appended after what was found
    EXPECT_EQ(Deliver(outbox), Join(c.expected, {100, 101}));

    ASSERT_EQ(outbox.Open(Folder(), BOUND), EOutboxResult::Ok);
    EXPECT_EQ(outbox.Count(), 0);
    EXPECT_TRUE(outbox.Peek(5).empty());
    EXPECT_FALSE(QFile::exists(Path(QStringLiteral("0000000000000001.seg"))));
    if (QFile::exists(Path(QStringLiteral("notes.txt")))) {
        EXPECT_EQ(FileBytes(Path(QStringLiteral("notes.txt"))), "hello");
        EXPECT_EQ(FileBytes(Path(QStringLiteral("00000000000000zz.seg"))), "garbage");
    }
}

INSTANTIATE_TEST_SUITE_P(Damages, OutboxDamageTest, ::testing::ValuesIn(DAMAGES),
                         [](const ::testing::TestParamInfo<SDamage> &info) {
                             std::string strName = info.param.pName;
                             for (char &ch : strName) {
                                 if (!std::isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             }
                             return strName;
                         });

quint64 SlotSequence(const QByteArray &position, int nSlot)
{
    const QByteArray sequence = position.mid(nSlot * 32 + 4, 8);
    quint64 n = 0;
    for (int i = sequence.size() - 1; i >= 0; --i)
        n = n << 8 | quint8(sequence[i]);
    return n;
}

// The newer slot of the position torn by a power cut: the older one holds,
// and what was delivered since comes again rather than anything being lost.
TEST_F(OutboxTest, APositionSlotTornFallsBackToTheOlderOne)
{
    {
        COutbox outbox;
        ASSERT_EQ(outbox.Open(Folder(), BOUND), EOutboxResult::Ok);
        PushRange(outbox, 0, 20);
        AckFirst(outbox, 3);
        ASSERT_EQ(outbox.Sync(), EOutboxResult::Ok);
        AckFirst(outbox, 4);
    }
    const QByteArray position = FileBytes(Path(QStringLiteral("position")));
    ASSERT_EQ(position.size(), 64);
    FlipByte(Path(QStringLiteral("position")), SlotSequence(position, 0) > SlotSequence(position, 1) ? 20 : 52);

    COutbox outbox;
    ASSERT_EQ(outbox.Open(Folder(), BOUND), EOutboxResult::Ok);
    EXPECT_EQ(Deliver(outbox), Range(3, 20));
}

TEST_F(OutboxTest, AFullDiskFailsThePushAndLeavesTheOutboxWhole)
{
    {
        COutbox outbox;
        ASSERT_EQ(outbox.Open(Folder(), BOUND), EOutboxResult::Ok);
        PushRange(outbox, 0, 3);
        ASSERT_EQ(outbox.Sync(), EOutboxResult::Ok);
        const QString strTail = Segments().back();
        const qint64 nSize = SizeOf(strTail);
        {
            CFileSizeLimit full(rlim_t(nSize + 300)); // the record is cut after 300 bytes
            EXPECT_EQ(outbox.Push({TOPIC, Payload(99)}), EOutboxResult::Failed);
            EXPECT_FALSE(outbox.ErrorText().isEmpty());
        }
        EXPECT_EQ(SizeOf(strTail), nSize) << "the part written is taken back";
        EXPECT_EQ(outbox.Count(), 3);
        EXPECT_EQ(outbox.Bytes(), nSize);
        ASSERT_EQ(outbox.Peek(10).size(), 3u);
        PushRange(outbox, 3, 5);
    }
    COutbox outbox;
    ASSERT_EQ(outbox.Open(Folder(), BOUND), EOutboxResult::Ok);
    EXPECT_EQ(Deliver(outbox), Range(0, 5));
}

TEST_F(OutboxTest, ADiskFullWhenANewSegmentStartsFailsThePushOnly)
{
    COutbox outbox;
    ASSERT_EQ(outbox.Open(Folder(), BOUND), EOutboxResult::Ok);
    PushRange(outbox, 0, PER_SEGMENT); // the next push starts a segment
    const int nSegments = int(Segments().size());
    {
        CFileSizeLimit full(4); // not even a segment's header fits
        EXPECT_EQ(outbox.Push({TOPIC, Payload(99)}), EOutboxResult::Failed);
    }
    EXPECT_EQ(Segments().size(), nSegments);
    PushRange(outbox, PER_SEGMENT, PER_SEGMENT + 2);
    EXPECT_EQ(Deliver(outbox), Range(0, PER_SEGMENT + 2));
}

// Leaves the process exactly n more file descriptors until Lift or the end
// of the scope: a file the outbox cannot open, whoever runs the test (root
// reads a file of any mode).
class CDescriptorBudget {
public:
    explicit CDescriptorBudget(int n)
    {
        ::getrlimit(RLIMIT_NOFILE, &m_old);
        rlimit small = m_old;
        small.rlim_cur = std::min<rlim_t>(m_old.rlim_cur, 1024);
        ::setrlimit(RLIMIT_NOFILE, &small);
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
            m_fds.push_back(fd);
        for (int i = 0; i < n && !m_fds.empty(); ++i) {
            ::close(m_fds.back());
            m_fds.pop_back();
        }
    }
    ~CDescriptorBudget() { Lift(); }
    CDescriptorBudget(const CDescriptorBudget &) = delete;
    CDescriptorBudget &operator=(const CDescriptorBudget &) = delete;

    void Lift()
    {
        for (const int fd : m_fds)
            ::close(fd);
        m_fds.clear();
        ::setrlimit(RLIMIT_NOFILE, &m_old);
    }

private:
    rlimit m_old{};
    std::vector<int> m_fds;
};

// Segments the outbox could not read when it wanted them: they are not
// taken for delivered, each is named once with the reason, what else waits
// goes on, and the next start delivers them.
TEST_F(OutboxTest, ASegmentThatCannotBeReadIsKeptAndDeliveredAfterTheNextStart)
{
    struct SCase {
        const char *pName;
        bool bAtOpen;  // unreadable when Open scans the folder, else when Peek wants them
        int nBudget;   // descriptors left meanwhile
        bool bOpens;   // whether that Open succeeds
    };
    // At the start there is room for the folder, its listing and the
    // position file, none for a segment.
    const SCase cases[] = {
        {"at the start", true, 2, true},
        {"at the start, not even the listing", true, 1, false},
        {"while delivering", false, 0, true},
    };
    for (const SCase &c : cases) {
        SCOPED_TRACE(c.pName);
        const QString strFolder = m_dir.path() + u'/' + QLatin1String(c.pName);
        {
            COutbox outbox;
            ASSERT_EQ(outbox.Open(strFolder, BOUND), EOutboxResult::Ok);
            PushRange(outbox, 0, 20);
            AckFirst(outbox, 3);
        }
        {
            COutbox outbox;
            std::optional<CDescriptorBudget> budget;
            if (c.bAtOpen)
                budget.emplace(c.nBudget);
            const EOutboxResult eOpen = outbox.Open(strFolder, BOUND);
            budget.reset();
            if (!c.bOpens) {
                EXPECT_EQ(eOpen, EOutboxResult::Failed);
                EXPECT_FALSE(outbox.ErrorText().isEmpty());
            } else {
                ASSERT_EQ(eOpen, EOutboxResult::Ok) << qPrintable(outbox.ErrorText());
                if (!c.bAtOpen) {
                    CDescriptorBudget none(c.nBudget);
                    EXPECT_TRUE(outbox.Peek(5).empty());
                }
                const std::vector<SOutboxHeld> held = outbox.TakeHeld();
                ASSERT_EQ(held.size(), 3u);
                for (const SOutboxHeld &one : held) {
                    EXPECT_TRUE(one.strPath.startsWith(strFolder + u'/')) << qPrintable(one.strPath);
                    EXPECT_TRUE(QFile::exists(one.strPath)) << qPrintable(one.strPath);
                    EXPECT_EQ(one.strReason, qt_error_string(EMFILE));
                }
                EXPECT_TRUE(outbox.TakeHeld().empty()) << "said once";
                EXPECT_EQ(outbox.Count(), 0);
                PushRange(outbox, 100, 102); // the rest goes on
                EXPECT_EQ(Deliver(outbox), Range(100, 102));
            }
        }
        COutbox outbox;
        ASSERT_EQ(outbox.Open(strFolder, BOUND), EOutboxResult::Ok);
        EXPECT_TRUE(outbox.TakeHeld().empty());
        EXPECT_EQ(Deliver(outbox), Range(3, 20));
        ASSERT_EQ(outbox.Open(strFolder, BOUND), EOutboxResult::Ok);
        EXPECT_EQ(outbox.Count(), 0) << "nothing twice";
        EXPECT_EQ(QDir(strFolder).entryList({QStringLiteral("*.held")}, QDir::Files), QStringList());
    }
}

// Readers' threads push while the publisher's thread delivers.
TEST_F(OutboxTest, PushesFromManyThreadsWhileAnotherDelivers)
{
    COutbox outbox;
    ASSERT_EQ(outbox.Open(Folder(), 64 * 1024 * 1024), EOutboxResult::Ok);
    constexpr int THREADS = 3;
    constexpr int EACH = 500;
    std::atomic<int> nPushing{THREADS};
    std::vector<std::thread> pushers;
    for (int t = 0; t < THREADS; ++t) {
        pushers.emplace_back([&, t] {
            for (int i = 0; i < EACH; ++i)
                EXPECT_EQ(outbox.Push({TOPIC, Payload(t * EACH + i, 200)}), EOutboxResult::Ok);
            --nPushing;
        });
    }
    std::vector<int> got;
    while (nPushing > 0 || outbox.Count() > 0) {
        const std::vector<SOutboxMessage> messages = outbox.Peek(50);
        for (const SOutboxMessage &message : messages)
            got.push_back(Number(message));
        ASSERT_EQ(outbox.Ack(int(messages.size())), EOutboxResult::Ok);
    }
    for (std::thread &pusher : pushers)
        pusher.join();
    ASSERT_EQ(got.size(), std::size_t(THREADS * EACH));
    std::vector<int> last(THREADS, -1);
    for (const int n : got) {
        EXPECT_GT(n % EACH, last[n / EACH]) << "each thread's messages in its order";
        last[n / EACH] = n % EACH;
    }
}

} // namespace
