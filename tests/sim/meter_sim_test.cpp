// The simulated meter seen from the far end of its pseudo-terminal.
#include "sim/meter_sim.h"
#include "pty_client.h"

#include "link/frame.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <termios.h>

namespace {

using Clock = std::chrono::steady_clock;

// Long enough for any unpaced reply to be in.
constexpr int REPLY_MS = 1000;
// How long a test listens after a reply to be sure that nothing more comes.
constexpr int EXTRA_MS = 100;
// How long a test listens to be sure that the meter stays silent.
constexpr int QUIET_MS = 600;

class MeterSimTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString strError;
        ASSERT_TRUE(m_sim.Start(&strError)) << strError.toStdString();
        ASSERT_TRUE(m_client.Open(m_sim.SlavePath(), B9600));
    }

    // Sends a frame and collects the nExpected bytes of the answer, and
    // whatever follows them within nQuietMs.
    QByteArray Ask(const QByteArray &request, int nExpected, int nQuietMs = EXTRA_MS)
    {
        return m_client.Ask(request, nExpected, REPLY_MS, nQuietMs);
    }

    CMeterSim m_sim;
    CPtyClient m_client;
};

bool ChecksumHolds(const QByteArray &reply)
{
    const auto *p = reinterpret_cast<const quint8 *>(reply.constData());
    const int nData = int(reply.size()) - HEADER_SIZE - 1;
    return nData >= 0 && FrameChecksum(p, HEADER_SIZE, p + HEADER_SIZE, nData) == p[HEADER_SIZE + nData];
}

TEST_F(MeterSimTest, CheckIsEchoedWithOrWithoutTailOrWrong)
{
    const QByteArray request = RequestFrame(CMD_CHECK, 0);

    EXPECT_EQ(Ask(request, 25), request);

    m_sim.ChangeBehaviour([](SMeterBehaviour &b) { b.bTailByte = true; });
    const QByteArray withTail = Ask(request, 26);
    ASSERT_EQ(withTail.size(), 26);
    EXPECT_EQ(withTail.left(25), request);

    m_sim.ChangeBehaviour([](SMeterBehaviour &b) {
        b.bTailByte = false;
        b.bWrongEcho = true;
    });
    const QByteArray wrong = Ask(request, 25);
    ASSERT_EQ(wrong.size(), 25);
    EXPECT_NE(wrong, request);
}

TEST_F(MeterSimTest, UnlockOpensOnlyTheLevelWhosePasswordIsRight)
{
    struct {
        quint8 nArgument;
        QByteArray password;
        int nStatus;
        int nLevel;
    } const cases[] = {
        {UNLOCK_LEVEL_1, "", STATUS_OK, 1},        // level 1 has an empty password by default
        {UNLOCK_LEVEL_2, "2222", STATUS_OK, 2},
        {UNLOCK_LEVEL_2, "2223", STATUS_BAD_PASSWORD, 0},
        {UNLOCK_LEVEL_1, "2222", STATUS_BAD_PASSWORD, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.password.toStdString() + " at " + std::to_string(c.nArgument));
        m_sim.SetUnlockedLevel(0);
        const QByteArray reply = Ask(RequestFrame(CMD_UNLOCK, c.nArgument, c.password + '\0'), 25);
        ASSERT_EQ(reply.size(), 25);
        EXPECT_EQ(ReplyStatus(reply), c.nStatus);
        EXPECT_TRUE(ChecksumHolds(reply));
        EXPECT_EQ(m_sim.UnlockedLevel(), c.nLevel);
    }

    // A meter with the tail byte adds it after the unlock's checksum too.
    m_sim.ChangeBehaviour([](SMeterBehaviour &b) { b.bTailByte = true; });
    EXPECT_EQ(Ask(RequestFrame(CMD_UNLOCK, UNLOCK_LEVEL_2, QByteArray("2222") + '\0'), 26).size(), 26);
}

TEST_F(MeterSimTest, ReadsAnswerWithTheirDataOnlyWhenUnlocked)
{
    struct {
        quint8 nCommand;
        int nDataSize;
    } const reads[] = {{CMD_READ_SECOND, 1036}, {CMD_READ_MINUTE, 500}, {CMD_READ_DAY, 2204}};
    for (const auto &r : reads) {
        SCOPED_TRACE(r.nCommand);
        m_sim.SetUnlockedLevel(0);
        const QByteArray locked = Ask(RequestFrame(r.nCommand, 1), 25);
        EXPECT_EQ(locked.size(), 25);
        EXPECT_EQ(ReplyStatus(locked), STATUS_LOCKED);

        m_sim.SetUnlockedLevel(1);
        const QByteArray reply = Ask(RequestFrame(r.nCommand, 1), HEADER_SIZE + r.nDataSize + 1);
        ASSERT_EQ(reply.size(), HEADER_SIZE + r.nDataSize + 1);
        EXPECT_EQ(ReplyStatus(reply), STATUS_OK);
        EXPECT_EQ(RequestHeader::FromBytes(reinterpret_cast<const quint8 *>(reply.constData())).PayloadLength,
                  r.nDataSize);
        EXPECT_TRUE(ChecksumHolds(reply));
    }
}

TEST_F(MeterSimTest, StatusesOtherThanOkCarryNoData)
{
    m_sim.SetUnlockedLevel(2);
    const QByteArray read = RequestFrame(CMD_READ_MINUTE, 1);

    m_sim.ChangeBehaviour([](SMeterBehaviour &b) { b.nLockedReplies = 2; });
    for (int i = 0; i < 2; ++i) {
        const QByteArray locked = Ask(read, 25);
        EXPECT_EQ(locked.size(), 25);
        EXPECT_EQ(ReplyStatus(locked), STATUS_LOCKED);
    }
    EXPECT_EQ(m_sim.Behaviour().nLockedReplies, 0);
    EXPECT_EQ(Ask(read, 525).size(), 525);

    m_sim.ChangeBehaviour([](SMeterBehaviour &b) { b.nForcedStatus = STATUS_BUSY; });
    const QByteArray busy = Ask(read, 25);
    EXPECT_EQ(busy.size(), 25);
    EXPECT_EQ(ReplyStatus(busy), STATUS_BUSY);
    EXPECT_TRUE(ChecksumHolds(busy));

    const QByteArray unknown = Ask(RequestFrame(0x55, 0), 25);
    EXPECT_EQ(unknown.size(), 25);
    EXPECT_EQ(ReplyStatus(unknown), 1);
}

TEST_F(MeterSimTest, DamagedFramesAreRecordedButNotAnswered)
{
    QByteArray damaged = RequestFrame(CMD_CHECK, 0);
    damaged[24] = char(damaged[24] ^ 0xFF);
    EXPECT_TRUE(Ask(damaged, 0, QUIET_MS).isEmpty());
    EXPECT_EQ(m_sim.BadChecksums(), 1);

    // A frame cut short is dropped after a pause, and the next one is served.
    EXPECT_TRUE(Ask(RequestFrame(CMD_CHECK, 0).left(10), 0, QUIET_MS).isEmpty());
    const QByteArray request = RequestFrame(CMD_CHECK, 0);
    EXPECT_EQ(Ask(request, 25), request);

    const QList<QByteArray> seen = m_sim.Requests();
    ASSERT_EQ(seen.size(), 2);
    EXPECT_EQ(seen[0], damaged);
    EXPECT_EQ(seen[1], request);
}

TEST_F(MeterSimTest, SilentMeterTakesRequestsAndSaysNothing)
{
    m_sim.ChangeBehaviour([](SMeterBehaviour &b) { b.bSilent = true; });
    EXPECT_TRUE(Ask(RequestFrame(CMD_CHECK, 0), 0, QUIET_MS).isEmpty());
    EXPECT_EQ(m_sim.Requests().size(), 1);
}

TEST_F(MeterSimTest, RepliesAreCutAfterTheGivenCount)
{
    m_sim.SetUnlockedLevel(1);
    for (int nBytes : {0, 23, 24 + 100}) {
        SCOPED_TRACE(nBytes);
        m_sim.SetBehaviour([nBytes] {
            SMeterBehaviour b;
            b.nReplyBytes = nBytes;
            return b;
        }());
        EXPECT_EQ(Ask(RequestFrame(CMD_READ_SECOND, 1), nBytes, QUIET_MS).size(), nBytes);
    }
}

TEST_F(MeterSimTest, PacedReplyTakesTenBitsAByteAtTheClientsRate)
{
    ASSERT_TRUE(m_client.SetSpeed(B2400));
    m_sim.SetUnlockedLevel(1);
    m_sim.ChangeBehaviour([](SMeterBehaviour &b) {
        b.bPaced = true;
        b.nReplyBytes = 240; // 2400 bits: one second
    });

    const auto start = Clock::now();
    ASSERT_TRUE(m_client.Write(RequestFrame(CMD_READ_DAY, 1)));
    EXPECT_EQ(m_client.Read(240, 3000).size(), 240);
    const double dSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_GT(dSeconds, 0.9);
    EXPECT_LT(dSeconds, 1.6);
}

TEST_F(MeterSimTest, HangUpClosesTheLineAfterPartOfTheReply)
{
    m_sim.SetUnlockedLevel(1);
    m_sim.ChangeBehaviour([](SMeterBehaviour &b) { b.nHangupAfter = 30; });

    ASSERT_TRUE(m_client.Write(RequestFrame(CMD_READ_SECOND, 1)));
    EXPECT_EQ(m_client.Read(30, REPLY_MS).size(), 30);
    EXPECT_TRUE(m_client.HungUp(3000));
    for (int i = 0; i < 100 && m_sim.IsRunning(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(m_sim.IsRunning());

    // A fresh start gives a working line again.
    ASSERT_TRUE(m_sim.Start());
    ASSERT_TRUE(m_client.Open(m_sim.SlavePath(), B9600));
    const QByteArray request = RequestFrame(CMD_CHECK, 0);
    EXPECT_EQ(Ask(request, 25), request);
}

TEST_F(MeterSimTest, ClientClosingItsSideLeavesTheMeterListening)
{
    const QByteArray request = RequestFrame(CMD_CHECK, 0);
    EXPECT_EQ(Ask(request, 25), request);
    m_client.Close();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(m_client.Open(m_sim.SlavePath(), B9600));
    EXPECT_EQ(Ask(request, 25), request);
    EXPECT_TRUE(m_sim.IsRunning());
}

} // namespace
