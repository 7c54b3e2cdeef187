// The meter link against the simulated meter on a pseudo-terminal: what the
// operator sees, what goes on the wire, and that the port is let go.
#include "link/frame.h"
#include "link/link_messages.h"
#include "link/meter_link.h"
#include "sim/meter_sim.h"
#include "scripted_operator.h"

#include <QElapsedTimer>

#include <functional>
#include <gtest/gtest.h>

namespace {

constexpr quint16 SECOND_SIZE = 1036;
constexpr quint16 MINUTE_SIZE = 500;
constexpr quint16 DAY_SIZE = 2204;

QByteArray Hex(const char *pText)
{
    return QByteArray::fromHex(QByteArray(pText).replace(' ', ""));
}

RequestHeader HeaderOf(const QByteArray &frame)
{
    return RequestHeader::FromBytes(reinterpret_cast<const quint8 *>(frame.constData()));
}

QByteArray PayloadOf(const QByteArray &frame)
{
    return frame.mid(HEADER_SIZE, HeaderOf(frame).PayloadLength);
}

QList<quint8> CommandsOf(const QList<QByteArray> &frames)
{
    QList<quint8> commands;
    for (const QByteArray &frame : frames)
        commands.append(HeaderOf(frame).Command);
    return commands;
}

class MeterLinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString strError;
        ASSERT_TRUE(sim.Start(&strError)) << strError.toStdString();
        strPath = sim.SlavePath();
        link.SetPortName(strPath);
        link.SetBaudRate(115200);
        link.SetDeviceNumber(1);
    }

    // Opens the second level, so that an exchange goes straight to its
    // request and can unlock again with the stored password; forgets what
    // that took.
    void UnlockSecondLevel()
    {
        op.accessAnswers = {{1, "2222"}};
        ASSERT_TRUE(link.Unlock(false, QString()));
        op = CScriptedOperator();
        sim.ClearRequests();
    }

    bool ReadSecond(quint16 *pLength)
    {
        *pLength = SECOND_SIZE;
        return link.Exchange(CMD_READ_SECOND, 1, aReply, pLength, nullptr, 0);
    }

    // After every exchange the port is free again for anyone.
    void ExpectPortReleased()
    {
        EXPECT_FALSE(link.Port().IsOpen());
        EXPECT_EQ(ProbePort(strPath), 1);
    }

    CMeterSim sim;
    CScriptedOperator op;
    CMeterLink link{&op};
    QString strPath;
    quint8 aReply[DAY_SIZE] = {};
};

using SMessages = QList<SShown>;

// ---- connection check ---------------------------------------------------

TEST_F(MeterLinkTest, CheckLearnsWhetherTheMeterSendsATailByte)
{
    for (const bool bTail : {true, false}) {
        sim.ChangeBehaviour([&](SMeterBehaviour &b) { b.bTailByte = bTail; });
        EXPECT_TRUE(link.CheckConnection());
        EXPECT_EQ(link.ReplyTail(), bTail ? 2 : 1);
        ExpectPortReleased();
    }
    EXPECT_EQ(op.shown, SMessages());
    EXPECT_EQ(link.AccessLevel(), 0); // the check asks for no level
    EXPECT_EQ(op.nAccessAsked, 0);
}

TEST_F(MeterLinkTest, CheckFailures)
{
    const struct {
        const char *pName;
        std::function<void(SMeterBehaviour &)> change;
        QString strMessage;
    } cases[] = {
        {"wrong echo", [](SMeterBehaviour &b) { b.bWrongEcho = true; }, LinkText::LineError()},
        {"silence", [](SMeterBehaviour &b) { b.bSilent = true; }, LinkText::NoAnswer()},
        {"24 bytes only", [](SMeterBehaviour &b) { b.nReplyBytes = 24; }, LinkText::NoAnswer()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        sim.SetBehaviour(SMeterBehaviour());
        sim.ChangeBehaviour(c.change);
        op.shown.clear();
        EXPECT_FALSE(link.CheckConnection());
        EXPECT_EQ(op.shown, SMessages({{c.strMessage, EMsgIcon::Stop}}));
        EXPECT_EQ(link.ReplyTail(), 1);
        ExpectPortReleased();
    }
}

TEST_F(MeterLinkTest, PortThatCannotBeOpenedNamesThePort)
{
    CSerialPort holder;
    ASSERT_TRUE(holder.Open(strPath, 115200));
    EXPECT_FALSE(link.CheckConnection());
    op.accessAnswers = {{0, ""}};
    quint16 nLength = 0;
    EXPECT_EQ(ReadSecond(&nLength), 0); // the unlock it starts with finds the port held
    holder.Close();

    link.SetPortName("/dev/varik-no-such-port");
    EXPECT_FALSE(link.CheckConnection());
    const SShown held{LinkText::Port(strPath), EMsgIcon::Stop};
    EXPECT_EQ(op.shown, SMessages({held, held, {LinkText::Port("/dev/varik-no-such-port"), EMsgIcon::Stop}}));
    EXPECT_TRUE(op.shown.last().strText.contains("Коммуникационный порт /dev/varik-no-such-port занят \n"));
    EXPECT_TRUE(sim.Requests().isEmpty());
}

// ---- unlock --------------------------------------------------------------

TEST_F(MeterLinkTest, UnlockThroughTheDialogAtEitherLevel)
{
    sim.ChangeBehaviour([](SMeterBehaviour &b) { b.aPasswords[1] = "abcdefgh"; });
    // Level 1 with an empty password, then level 2 with 8 characters, then
    // back to level 1: the operator's choice decides each time.
    op.accessAnswers = {{0, ""}, {1, "abcdefgh"}, {0, ""}};
    EXPECT_TRUE(link.Unlock(true, QString()));
    EXPECT_EQ(link.AccessLevel(), 1);
    EXPECT_TRUE(link.Unlock(true, QString()));
    EXPECT_EQ(link.AccessLevel(), 2);
    EXPECT_EQ(link.Password(), "abcdefgh");
    ExpectPortReleased();
    EXPECT_TRUE(link.Unlock(false, QString())); // no success message asked for
    EXPECT_EQ(link.AccessLevel(), 1);
    EXPECT_EQ(link.Password(), "");

    EXPECT_EQ(op.shown, SMessages({{"Пароль первого уровня снят.", EMsgIcon::Exclamation},
                                   {"Пароль второго уровня снят.", EMsgIcon::Exclamation}}));
    const QList<QByteArray> frames = sim.Requests();
    ASSERT_EQ(frames.size(), 3);
    // Empty password: one zero byte of payload, 26 bytes in all.
    EXPECT_EQ(frames[0].size(), 26);
    EXPECT_EQ(HeaderOf(frames[0]).PayloadLength, 1);
    EXPECT_EQ(HeaderOf(frames[0]).Argument, UNLOCK_LEVEL_1);
    EXPECT_EQ(PayloadOf(frames[0]), QByteArray(1, '\0'));
    // Eight characters at level 2: 34 bytes, the ninth payload byte zero.
    EXPECT_EQ(frames[1].size(), 34);
    EXPECT_EQ(HeaderOf(frames[1]).PayloadLength, 9);
    EXPECT_EQ(HeaderOf(frames[1]).Command, CMD_UNLOCK);
    EXPECT_EQ(HeaderOf(frames[1]).Argument, UNLOCK_LEVEL_2);
    EXPECT_EQ(PayloadOf(frames[1]), QByteArray("abcdefgh\0", 9));
    EXPECT_EQ(sim.BadChecksums(), 0);
}

TEST_F(MeterLinkTest, DialogPasswordIsCutToEightCharacters)
{
    sim.ChangeBehaviour([](SMeterBehaviour &b) { b.aPasswords[1] = "abcdefgh"; });
    op.accessAnswers = {{1, "abcdefghij"}};
    EXPECT_TRUE(link.Unlock(false, QString()));
    EXPECT_EQ(PayloadOf(sim.Requests().value(0)), QByteArray("abcdefgh\0", 9));
}

TEST_F(MeterLinkTest, PasswordGoesOnTheWireInWindows1251)
{
    const QByteArray cp1251 = Hex("EF E0 F0 EE EB FC 31 32"); // "пароль12"
    sim.ChangeBehaviour([&](SMeterBehaviour &b) { b.aPasswords[0] = cp1251; });
    op.accessAnswers = {{0, "пароль12"}};
    EXPECT_TRUE(link.Unlock(false, QString()));
    EXPECT_EQ(PayloadOf(sim.Requests().value(0)), cp1251 + QByteArray(1, '\0'));
    EXPECT_EQ(link.Password(), "пароль12");
}

TEST_F(MeterLinkTest, GivenPasswordNeedsNoDialogAndOpensTheLevelOpenNow)
{
    sim.ChangeBehaviour([](SMeterBehaviour &b) { b.aPasswords[0] = "1111"; b.aPasswords[1] = "2222"; });
    // None open: the first level. Then that level again, never one the
    // password is not known to open.
    EXPECT_TRUE(link.Unlock(false, "1111"));
    EXPECT_EQ(link.AccessLevel(), 1);
    EXPECT_TRUE(link.Unlock(false, "1111"));
    EXPECT_EQ(link.AccessLevel(), 1);
    EXPECT_EQ(op.nAccessAsked, 0);
    // The second level opened through the dialog stays the second.
    op.accessAnswers = {{1, "2222"}};
    EXPECT_TRUE(link.Unlock(false, QString()));
    EXPECT_TRUE(link.Unlock(false, "2222"));
    EXPECT_EQ(link.AccessLevel(), 2);
    const QList<QByteArray> frames = sim.Requests();
    ASSERT_EQ(frames.size(), 4);
    EXPECT_EQ(HeaderOf(frames[0]).Argument, UNLOCK_LEVEL_1);
    EXPECT_EQ(HeaderOf(frames[1]).Argument, UNLOCK_LEVEL_1);
    EXPECT_EQ(HeaderOf(frames[3]).Argument, UNLOCK_LEVEL_2);
    EXPECT_EQ(op.shown, SMessages());
}

TEST_F(MeterLinkTest, RefusedPasswordCanBeRetried)
{
    op.accessAnswers = {{1, "1234"}, {1, "2222"}};
    op.yesNoAnswers = {true};
    EXPECT_TRUE(link.Unlock(false, QString()));
    EXPECT_EQ(op.shown, SMessages({{LinkText::PasswordRefused(), EMsgIcon::Question}}));
    EXPECT_EQ(link.AccessLevel(), 2);
    EXPECT_EQ(link.Password(), "2222");
    EXPECT_EQ(sim.UnlockedLevel(), 2);
    ExpectPortReleased();
}

TEST_F(MeterLinkTest, RefusedGivenPasswordIsSentAgainOnYes)
{
    op.yesNoAnswers = {true, false};
    EXPECT_FALSE(link.Unlock(false, "9999"));
    EXPECT_EQ(op.nAccessAsked, 0);
    EXPECT_EQ(sim.Requests().size(), 2);
    EXPECT_EQ(PayloadOf(sim.Requests().value(1)), QByteArray("9999\0", 5));
    EXPECT_EQ(link.AccessLevel(), 0);
    ExpectPortReleased();
}

TEST_F(MeterLinkTest, ThirdRefusalEndsAfterAPauseWithoutAQuestion)
{
    op.accessAnswers = {{0, "x"}, {0, "y"}, {0, "z"}};
    op.yesNoAnswers = {true, true};
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(link.Unlock(false, QString()));
    EXPECT_GE(timer.elapsed(), 3000);
    const SShown question{LinkText::PasswordRefused(), EMsgIcon::Question};
    EXPECT_EQ(op.shown, SMessages({question, question}));
    EXPECT_EQ(sim.Requests().size(), 3);
    EXPECT_EQ(link.AccessLevel(), 0);
    EXPECT_EQ(link.Password(), ""); // a confirmed dialog forgets the old one
    ExpectPortReleased();
}

TEST_F(MeterLinkTest, UnlockWithoutAnAnswerReportsTheChannel)
{
    const struct {
        const char *pName;
        std::function<void(SMeterBehaviour &)> change;
    } cases[] = {
        {"silence", [](SMeterBehaviour &b) { b.bSilent = true; }},
        {"24 bytes only", [](SMeterBehaviour &b) { b.nReplyBytes = 24; }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        sim.SetBehaviour(SMeterBehaviour());
        sim.ChangeBehaviour(c.change);
        op.shown.clear();
        op.accessAnswers = {{0, ""}};
        EXPECT_FALSE(link.Unlock(true, QString()));
        EXPECT_EQ(op.shown, SMessages({{LinkText::Channel(), EMsgIcon::Exclamation}}));
        EXPECT_EQ(link.AccessLevel(), 0);
        ExpectPortReleased();
    }
}

// ---- exchange ------------------------------------------------------------

TEST_F(MeterLinkTest, FirstExchangeUnlocksThenReads)
{
    op.accessAnswers = {{0, ""}};
    quint16 nLength = 0;
    EXPECT_EQ(ReadSecond(&nLength), 1);
    EXPECT_EQ(nLength, SECOND_SIZE);
    EXPECT_EQ(op.nAccessAsked, 1);
    EXPECT_EQ(op.shown, SMessages());
    EXPECT_EQ(CommandsOf(sim.Requests()), QList<quint8>({CMD_UNLOCK, CMD_READ_SECOND}));
    ExpectPortReleased();

    // Level open: the next read asks nothing.
    EXPECT_EQ(ReadSecond(&nLength), 1);
    EXPECT_EQ(op.nAccessAsked, 1);
}

TEST_F(MeterLinkTest, CancelledDialogEndsTheExchangeQuietly)
{
    quint16 nLength = 0;
    EXPECT_EQ(ReadSecond(&nLength), 0);
    EXPECT_EQ(op.nAccessAsked, 1);
    EXPECT_EQ(op.shown, SMessages());
    EXPECT_TRUE(sim.Requests().isEmpty());
    ExpectPortReleased();
}

TEST_F(MeterLinkTest, DeviceNumberZeroIsRefusedBeforeAnything)
{
    link.SetDeviceNumber(0);
    quint16 nLength = 0;
    EXPECT_EQ(ReadSecond(&nLength), 0);
    EXPECT_FALSE(link.Exchange(CMD_READ_SECOND, 1, nullptr, &nLength, nullptr, 0));
    EXPECT_EQ(op.shown, SMessages({{LinkText::DeviceNumber(), EMsgIcon::Exclamation}}));
    EXPECT_EQ(op.nAccessAsked, 0);
    EXPECT_TRUE(sim.Requests().isEmpty());
}

TEST_F(MeterLinkTest, ExchangeOutcomes)
{
    const struct {
        const char *pName;
        std::function<void(SMeterBehaviour &)> change;
        bool bOk;
        quint16 nLength; // what the reply length says after a success
        SMessages shown;
    } cases[] = {
        {"busy", [](SMeterBehaviour &b) { b.nForcedStatus = STATUS_BUSY; }, 0, 0,
         {{LinkText::Busy(), EMsgIcon::Exclamation}}},
        {"status 1", [](SMeterBehaviour &b) { b.nForcedStatus = 1; }, 0, 0,
         {{LinkText::LineError(), EMsgIcon::Stop}}},
        {"status 17", [](SMeterBehaviour &b) { b.nForcedStatus = STATUS_BAD_PASSWORD; }, 0, 0,
         {{LinkText::LineError(), EMsgIcon::Stop}}},
        {"23 header bytes", [](SMeterBehaviour &b) { b.nReplyBytes = 23; }, 0, 0,
         {{LinkText::NoAnswer(), EMsgIcon::Stop}}},
        {"short data", [](SMeterBehaviour &b) { b.nReplyBytes = HEADER_SIZE + 100; }, 1, 100, {}},
        {"silence", [](SMeterBehaviour &b) { b.bSilent = true; }, 0, 0, {{LinkText::NoAnswer(), EMsgIcon::Stop}}},
    };
    UnlockSecondLevel();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        sim.SetBehaviour(SMeterBehaviour());
        sim.ChangeBehaviour(c.change);
        op.shown.clear();
        sim.ClearRequests();
        quint16 nLength = 0;
        EXPECT_EQ(ReadSecond(&nLength), c.bOk);
        if (c.bOk) {
            EXPECT_EQ(nLength, c.nLength);
        }
        EXPECT_EQ(op.shown, c.shown);
        EXPECT_EQ(CommandsOf(sim.Requests()), QList<quint8>({CMD_READ_SECOND}));
        ExpectPortReleased();
    }
}

TEST_F(MeterLinkTest, LockedMeterIsUnlockedAgainWithTheStoredPassword)
{
    op.accessAnswers = {{1, "2222"}};
    sim.ChangeBehaviour([](SMeterBehaviour &b) { b.nLockedReplies = 1; });
    quint16 nLength = 0;
    EXPECT_EQ(ReadSecond(&nLength), 1);
    EXPECT_EQ(nLength, SECOND_SIZE);
    EXPECT_EQ(op.nAccessAsked, 1);
    EXPECT_EQ(op.shown, SMessages());
    const QList<QByteArray> frames = sim.Requests();
    EXPECT_EQ(CommandsOf(frames), QList<quint8>({CMD_UNLOCK, CMD_READ_SECOND, CMD_UNLOCK, CMD_READ_SECOND}));
    EXPECT_EQ(frames.value(2), frames.value(0)); // same level, same password
    EXPECT_EQ(frames.value(3), frames.value(1));
    ExpectPortReleased();
}

TEST_F(MeterLinkTest, ThirdLockedReplyIsAFailure)
{
    UnlockSecondLevel();
    sim.ChangeBehaviour([](SMeterBehaviour &b) { b.nLockedReplies = 3; });
    quint16 nLength = 0;
    EXPECT_EQ(ReadSecond(&nLength), 0);
    EXPECT_EQ(op.shown, SMessages({{LinkText::LineError(), EMsgIcon::Stop}}));
    EXPECT_EQ(CommandsOf(sim.Requests()),
              QList<quint8>({CMD_READ_SECOND, CMD_UNLOCK, CMD_READ_SECOND, CMD_UNLOCK, CMD_READ_SECOND, CMD_UNLOCK}));
    ExpectPortReleased();
}

TEST_F(MeterLinkTest, LockedAndRefusedEndsWithTheUnlockMessages)
{
    // Paced at 1200 bit/s the rest of the locked reply (checksum, tail byte)
    // comes after the header has been judged; it must not be taken for the
    // start of the unlock's answer, or the refusal would go unseen.
    link.SetBaudRate(1200);
    for (const bool bTail : {false, true}) {
        SCOPED_TRACE(bTail ? "tail byte" : "no tail byte");
        sim.SetBehaviour(SMeterBehaviour());
        sim.ChangeBehaviour([&](SMeterBehaviour &b) { b.bTailByte = bTail; b.bPaced = true; });
        ASSERT_TRUE(link.CheckConnection());
        UnlockSecondLevel();
        sim.ChangeBehaviour([](SMeterBehaviour &b) { b.nLockedReplies = 1; b.aPasswords[1] = "new"; });
        quint16 nLength = 0;
        EXPECT_EQ(ReadSecond(&nLength), 0); // No to the question
        EXPECT_EQ(op.shown, SMessages({{LinkText::PasswordRefused(), EMsgIcon::Question}}));
        EXPECT_EQ(op.nAccessAsked, 0);
        EXPECT_EQ(CommandsOf(sim.Requests()), QList<quint8>({CMD_READ_SECOND, CMD_UNLOCK}));
        ExpectPortReleased();
    }
}

TEST_F(MeterLinkTest, FeederAndDeviceNumberGoOnTheWire)
{
    const struct {
        quint8 nFeeder;
        quint16 nDevice;
        quint8 nCommand;
        quint16 nSize;
        const char *pFrame;
    } cases[] = {
        {1, 300, CMD_READ_DAY, DAY_SIZE,
         "00 00 01 00 00 00 21 01 2C 01 06 00 01 01 00 00 00 01 01 01 01 00 00 00 9A"},
        {0, 65535, CMD_READ_MINUTE, MINUTE_SIZE,
         "00 00 00 00 00 00 20 01 FF FF 06 00 01 01 00 00 00 01 01 01 01 00 00 00 B4"},
    };
    UnlockSecondLevel();
    for (const auto &c : cases) {
        link.SetSecondFeeder(c.nFeeder == 1);
        link.SetDeviceNumber(c.nDevice);
        sim.ClearRequests();
        quint16 nLength = c.nSize;
        EXPECT_TRUE(link.Exchange(c.nCommand, 1, aReply, &nLength, nullptr, 0));
        EXPECT_EQ(nLength, c.nSize);
        EXPECT_EQ(sim.Requests(), QList<QByteArray>({Hex(c.pFrame)}));

        // The check and the unlock carry the same feeder and number.
        sim.ClearRequests();
        EXPECT_TRUE(link.CheckConnection());
        op.accessAnswers = {{0, ""}};
        EXPECT_TRUE(link.Unlock(false, QString()));
        for (const QByteArray &frame : sim.Requests()) {
            EXPECT_EQ(HeaderOf(frame).Feeder, c.nFeeder);
            EXPECT_EQ(HeaderOf(frame).DeviceNumber, c.nDevice);
        }
    }
    EXPECT_EQ(op.shown, SMessages());
    EXPECT_EQ(sim.BadChecksums(), 0);
}

// ---- waiting -------------------------------------------------------------

TEST_F(MeterLinkTest, SilentMeterAt9600GivesUpWithinASecondAndAHalf)
{
    link.SetBaudRate(9600);
    UnlockSecondLevel();
    sim.ChangeBehaviour([](SMeterBehaviour &b) { b.bSilent = true; });
    QElapsedTimer timer;
    timer.start();
    quint16 nLength = 0;
    EXPECT_EQ(ReadSecond(&nLength), 0);
    EXPECT_LT(timer.elapsed(), 1500);
    EXPECT_EQ(op.shown, SMessages({{LinkText::NoAnswer(), EMsgIcon::Stop}}));
    ExpectPortReleased();
}

TEST_F(MeterLinkTest, CancelEndsAnExchangeAtOnceWithoutAMessage)
{
    link.SetBaudRate(9600);
    UnlockSecondLevel();
    sim.ChangeBehaviour([](SMeterBehaviour &b) { b.bSilent = true; });
    QElapsedTimer timer;
    qint64 nCancelledAt = -1;
    op.keepWaiting = [&](qint64) {
        if (timer.elapsed() < 400)
            return true;
        if (nCancelledAt < 0)
            nCancelledAt = timer.elapsed();
        return false;
    };
    timer.start();
    quint16 nLength = 0;
    EXPECT_EQ(ReadSecond(&nLength), 0);
    EXPECT_LT(timer.elapsed() - nCancelledAt, 200);
    EXPECT_TRUE(link.WasCancelled());
    EXPECT_EQ(op.shown, SMessages());
    ExpectPortReleased();

    // Cancelling the unlock's wait ends the exchange that started it as well.
    op.keepWaiting = [](qint64) { return false; };
    op.accessAnswers = {{0, ""}};
    EXPECT_FALSE(link.Unlock(true, QString()));
    EXPECT_TRUE(link.WasCancelled());
    EXPECT_EQ(op.shown, SMessages());
    ExpectPortReleased();

    // The next exchange starts afresh.
    op.keepWaiting = nullptr;
    sim.ChangeBehaviour([](SMeterBehaviour &b) { b.bSilent = false; });
    EXPECT_EQ(ReadSecond(&nLength), 1);
    EXPECT_FALSE(link.WasCancelled());
}

TEST_F(MeterLinkTest, HangUpInTheReplyIsReportedOnce)
{
    UnlockSecondLevel();
    sim.ChangeBehaviour([](SMeterBehaviour &b) { b.nHangupAfter = 10; });
    quint16 nLength = 0;
    EXPECT_EQ(ReadSecond(&nLength), 0);
    EXPECT_EQ(op.shown, SMessages({{LinkText::NoAnswer(), EMsgIcon::Stop}}));
    EXPECT_FALSE(link.Port().IsOpen());
}

} // namespace
