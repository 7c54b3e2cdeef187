// Several meters on one pseudo-terminal, as on an RS-485 bus: each listed
// device answers with its own number, values, access and faults, and a
// request to any other number meets silence.
#include "sim/meter_sim.h"
#include "sim/meter_values.h"
#include "pty_client.h"

#include "link/frame.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <set>

#include <termios.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int REPLY_MS = 1000;
constexpr int EXTRA_MS = 100;
constexpr int QUIET_MS = 600;
constexpr int SECOND_REPLY = HEADER_SIZE + 1036 + 1;
constexpr int MINUTE_REPLY = HEADER_SIZE + 500 + 1;
constexpr int SILENCE = -1; // an expected status: no reply at all

const QList<quint16> BUS = {1, 2, 7};

QByteArray Password(const char *p)
{
    return QByteArray(p) + '\0';
}

RequestHeader HeaderOf(const QByteArray &reply)
{
    return RequestHeader::FromBytes(reinterpret_cast<const quint8 *>(reply.constData()));
}

class MeterBusTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_sim.SetDevices(BUS);
        QString strError;
        ASSERT_TRUE(m_sim.Start(&strError)) << strError.toStdString();
        ASSERT_TRUE(m_client.Open(m_sim.SlavePath(), B9600));
    }

    QByteArray Ask(const QByteArray &request, int nExpected, int nQuietMs = EXTRA_MS)
    {
        return m_client.Ask(request, nExpected, REPLY_MS, nQuietMs);
    }

    // The status a device answers with, SILENCE when it says nothing; a
    // reply, when there is one, names the device that sent it.
    int StatusOf(quint16 nDevice, const QByteArray &request, int nExpected)
    {
        const QByteArray reply = Ask(request, nExpected, nExpected == 0 ? QUIET_MS : EXTRA_MS);
        if (reply.isEmpty())
            return SILENCE;
        EXPECT_EQ(reply.size(), nExpected);
        EXPECT_EQ(HeaderOf(reply).DeviceNumber, nDevice);
        return ReplyStatus(reply);
    }

    QByteArray SecondData(quint16 nDevice, quint8 nFeeder)
    {
        const QByteArray reply = Ask(RequestFrameTo(nDevice, nFeeder, CMD_READ_SECOND, 1), SECOND_REPLY);
        EXPECT_EQ(reply.size(), SECOND_REPLY);
        EXPECT_EQ(HeaderOf(reply).DeviceNumber, nDevice);
        return reply.mid(HEADER_SIZE, 1036);
    }

    CMeterSim m_sim;
    CPtyClient m_client;
};

TEST_F(MeterBusTest, EachDeviceAndFeederSendsValuesOfItsOwn)
{
    constexpr double MOMENT = 42.0;
    m_sim.ChangeBehaviour([](SMeterBehaviour &b) { b.dFixedMoment = MOMENT; });
    m_sim.SetUnlockedLevel(1);

    std::set<QByteArray> seen;
    for (quint16 nDevice : BUS) {
        for (quint8 nFeeder : {0, 1}) {
            SCOPED_TRACE(std::to_string(nDevice) + " feeder " + std::to_string(nFeeder));
            const QByteArray data = SecondData(nDevice, nFeeder);
            EXPECT_EQ(data, SimSecondData(MOMENT + SimHistoryOffset(nDevice, nFeeder)));
            EXPECT_TRUE(seen.insert(data).second) << "the same values as another device or feeder";
        }
    }
    EXPECT_EQ(seen.size(), 6u);
}

TEST_F(MeterBusTest, WithoutAListOneMeterAnswersEveryNumberWithTheSameValues)
{
    m_sim.SetDevices({});
    m_sim.ChangeBehaviour([](SMeterBehaviour &b) { b.dFixedMoment = 42.0; });
    m_sim.SetUnlockedLevel(1);
    for (quint16 nDevice : {1, 3, 300, 65535}) {
        SCOPED_TRACE(nDevice);
        EXPECT_EQ(SecondData(nDevice, 0), SimSecondData(42.0));
        EXPECT_EQ(SecondData(nDevice, 1), SimSecondData(42.0));
    }
}

TEST_F(MeterBusTest, AnUnlistedDeviceGetsNoAnswerAndTheBusGoesOn)
{
    for (quint16 nDevice : {0, 3, 8, 65535}) {
        SCOPED_TRACE(nDevice);
        EXPECT_EQ(StatusOf(nDevice, RequestFrameTo(nDevice, 0, CMD_CHECK, 0), 0), SILENCE);
        EXPECT_EQ(m_sim.DeviceUnlockedLevel(nDevice), -1);
    }
    EXPECT_EQ(m_sim.Requests().size(), 4); // heard, like every frame on the bus
    const QByteArray check = RequestFrameTo(7, 0, CMD_CHECK, 0);
    EXPECT_EQ(Ask(check, 25), check);
}

TEST_F(MeterBusTest, UnlockingOneDeviceLeavesTheOthersLocked)
{
    const QByteArray unlock = RequestFrameTo(1, 0, CMD_UNLOCK, UNLOCK_LEVEL_2, Password("2222"));
    EXPECT_EQ(StatusOf(1, unlock, 25), STATUS_OK);
    EXPECT_EQ(m_sim.DeviceUnlockedLevel(1), 2);
    EXPECT_EQ(m_sim.DeviceUnlockedLevel(2), 0);
    EXPECT_EQ(m_sim.DeviceUnlockedLevel(7), 0);

    EXPECT_EQ(StatusOf(1, RequestFrameTo(1, 0, CMD_READ_MINUTE, 1), MINUTE_REPLY), STATUS_OK);
    EXPECT_EQ(StatusOf(2, RequestFrameTo(2, 0, CMD_READ_MINUTE, 1), 25), STATUS_LOCKED);
    EXPECT_EQ(StatusOf(7, RequestFrameTo(7, 1, CMD_READ_MINUTE, 1), 25), STATUS_LOCKED);
    EXPECT_EQ(m_sim.UnlockedLevel(), 2); // the highest any meter has open
}

// A fault played on device 7 alone: 7 answers as the case says, 1 and 2 as
// a sound meter does.
TEST_F(MeterBusTest, AFaultOnOneDeviceLeavesTheOthersSound)
{
    struct {
        const char *pName;
        std::function<void(SMeterBehaviour &)> fnFault;
        quint8 nCommand;
        quint8 nArgument;
        QByteArray payload;
        int nSoundReply; // bytes of a sound meter's reply
        int nSoundStatus;
        int nFaultyStatus;
        int nFaultyLevel; // the access level 7 has open afterwards
    } const cases[] = {
        {"silent", [](SMeterBehaviour &b) { b.bSilent = true; }, CMD_CHECK, 0, {}, 25, STATUS_OK, SILENCE, 1},
        {"busy", [](SMeterBehaviour &b) { b.nForcedStatus = STATUS_BUSY; }, CMD_READ_MINUTE, 1, {}, MINUTE_REPLY,
         STATUS_OK, STATUS_BUSY, 1},
        {"status 9", [](SMeterBehaviour &b) { b.nForcedStatus = 9; }, CMD_READ_MINUTE, 1, {}, MINUTE_REPLY,
         STATUS_OK, 9, 1},
        {"one locked reply", [](SMeterBehaviour &b) { b.nLockedReplies = 1; }, CMD_READ_MINUTE, 1, {},
         MINUTE_REPLY, STATUS_OK, STATUS_LOCKED, 1},
        {"own level-1 password", [](SMeterBehaviour &b) { b.aPasswords[0] = "abc"; }, CMD_UNLOCK, UNLOCK_LEVEL_1,
         Password(""), 25, STATUS_OK, STATUS_BAD_PASSWORD, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        m_sim.SetBehaviour(SMeterBehaviour());
        m_sim.SetDevices(BUS);
        if (c.nCommand != CMD_UNLOCK)
            m_sim.SetUnlockedLevel(1);
        ASSERT_TRUE(m_sim.ChangeDeviceBehaviour(7, c.fnFault));

        for (quint16 nDevice : BUS) {
            SCOPED_TRACE(nDevice);
            const bool bFaulty = nDevice == 7;
            const int nExpected = !bFaulty ? c.nSoundReply : c.nFaultyStatus == SILENCE ? 0 : 25;
            EXPECT_EQ(StatusOf(nDevice, RequestFrameTo(nDevice, 0, c.nCommand, c.nArgument, c.payload), nExpected),
                      bFaulty ? c.nFaultyStatus : c.nSoundStatus);
            EXPECT_EQ(m_sim.DeviceUnlockedLevel(nDevice), bFaulty ? c.nFaultyLevel : 1);
        }
    }
}

TEST_F(MeterBusTest, OnlyListedDevicesTakeAFaultAndSwitchesForAllReachEach)
{
    EXPECT_FALSE(m_sim.ChangeDeviceBehaviour(3, [](SMeterBehaviour &b) { b.bSilent = true; }));
    ASSERT_TRUE(m_sim.ChangeDeviceBehaviour(2, [](SMeterBehaviour &b) { b.nLockedReplies = 4; }));
    m_sim.ChangeBehaviour([](SMeterBehaviour &b) { b.bTailByte = true; });

    for (quint16 nDevice : BUS) {
        SCOPED_TRACE(nDevice);
        const QByteArray check = RequestFrameTo(nDevice, 0, CMD_CHECK, 0);
        EXPECT_EQ(Ask(check, 26), check + '\0');
        EXPECT_TRUE(m_sim.DeviceBehaviour(nDevice).bTailByte);
        EXPECT_EQ(m_sim.DeviceBehaviour(nDevice).nLockedReplies, nDevice == 2 ? 4 : 0);
    }
}

// A benchmark of reads a minute leans on every meter's reply taking its
// bytes' time on the line, whichever device sends it.
TEST_F(MeterBusTest, PacedRepliesOfEveryDeviceTakeTheirByteTime)
{
    ASSERT_TRUE(m_client.SetSpeed(B4800));
    m_sim.SetUnlockedLevel(1);
    m_sim.ChangeBehaviour([](SMeterBehaviour &b) {
        b.bPaced = true;
        b.nReplyBytes = 240; // 2400 bits: half a second
    });

    for (quint16 nDevice : BUS) {
        SCOPED_TRACE(nDevice);
        const auto start = Clock::now();
        ASSERT_TRUE(m_client.Write(RequestFrameTo(nDevice, 0, CMD_READ_DAY, 1)));
        EXPECT_EQ(m_client.Read(240, 3000).size(), 240);
        const double dSeconds = std::chrono::duration<double>(Clock::now() - start).count();
        EXPECT_GT(dSeconds, 0.45);
        EXPECT_LT(dSeconds, 0.9);
    }
}

} // namespace
