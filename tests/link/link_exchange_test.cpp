// The meter link over a line in memory: every reply status and every short
// reply, what the operator is shown, what goes out, and how long each
// exchange takes on the line's virtual clock (at 9600 bit/s a read of n
// bytes waits at most 10 * n + 1000 ms, and 200 ms after its last byte; the
// end of a whole data reply is listened to for LISTEN_MS more).
#include "link/frame.h"
#include "link/link_messages.h"
#include "link/memory_line.h"
#include "link/meter_link.h"
#include "scripted_operator.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

using SMessages = QList<SShown>;

constexpr quint16 SECOND_SIZE = 1036;
const QByteArray REPLY_CHECKSUM(1, '\x55'); // never compared, so any byte will do
const QByteArray TAIL_BYTE(1, '\x00');
// How long the link listens at 9600 bit/s for a byte after a reply.
const int LISTEN_MS = CMeterLink::LateByteWindowMs(9600);

// A request as the link sends it to device 1: header, payload, checksum.
QByteArray Request(quint8 nCommand, quint8 nArgument, const QByteArray &payload = QByteArray())
{
    QByteArray frame = RequestHeader::Request(nCommand, nArgument, 1, 0, quint16(payload.size())).ToBytes() + payload;
    return frame + char(FrameChecksum(reinterpret_cast<const quint8 *>(frame.constData()), int(frame.size()),
                                      nullptr, 0));
}

QByteArray ReplyHeader(quint16 nStatus)
{
    RequestHeader header;
    header.Status = nStatus;
    return header.ToBytes();
}

// A reply without payload: header, checksum, and the tail byte some meters add.
SReply Answer(quint16 nStatus, bool bTail = true)
{
    return SReply::Now(ReplyHeader(nStatus) + REPLY_CHECKSUM + (bTail ? TAIL_BYTE : QByteArray()));
}

QByteArray SecondData(int n = SECOND_SIZE)
{
    return QByteArray(n, '\x5A');
}

// The whole answer to a second read.
SReply SecondReply()
{
    return SReply::Now(ReplyHeader(STATUS_OK) + SecondData() + REPLY_CHECKSUM);
}

// All the bytes at once, nMs after the request.
SReply After(qint64 nMs, const QByteArray &bytes)
{
    return {{{nMs, bytes}}};
}

const SReply SILENCE;

QList<quint8> CommandsOf(const QList<QByteArray> &frames)
{
    QList<quint8> commands;
    for (const QByteArray &frame : frames)
        commands.append(RequestHeader::FromBytes(reinterpret_cast<const quint8 *>(frame.constData())).Command);
    return commands;
}

constexpr quint8 R = CMD_READ_SECOND;
constexpr quint8 U = CMD_UNLOCK;

// A link on a line in memory at 9600 bit/s to device 1.
struct SBench {
    SBench()
    {
        link.SetPortName("COM1");
        link.SetBaudRate(9600);
        link.SetDeviceNumber(1);
    }

    // Opens the second level with the password 2222 and forgets what that took.
    void OpenSecondLevel()
    {
        op.accessAnswers = {{1, "2222"}};
        line.QueueReply(Answer(STATUS_OK));
        ASSERT_TRUE(link.Unlock(false, QString()));
        op = CScriptedOperator();
        line.ClearRecord();
        nStartMs = line.NowMs();
    }

    bool ReadSecond()
    {
        nLength = SECOND_SIZE;
        return link.Exchange(CMD_READ_SECOND, 1, aReply, &nLength, nullptr, 0);
    }

    qint64 ElapsedMs() const { return line.NowMs() - nStartMs; }

    // The log's reads, in order.
    QStringList Reads() const { return line.Log().filter(QStringLiteral("read ")); }

    CScriptedOperator op;
    std::unique_ptr<CMemoryLine> pOwnedLine = std::make_unique<CMemoryLine>();
    CMemoryLine &line = *pOwnedLine;
    CMeterLink link{std::move(pOwnedLine), &op};
    qint64 nStartMs = 0;
    quint16 nLength = 0;
    quint8 aReply[SECOND_SIZE] = {};
};

// ---- exchange ------------------------------------------------------------

TEST(LinkExchange, EveryStatusAndShortReply)
{
    const QByteArray header = ReplyHeader(STATUS_OK);
    const QByteArray whole = header + SecondData() + REPLY_CHECKSUM;
    const SShown noAnswer{LinkText::NoAnswer(), EMsgIcon::Stop};
    const SShown lineError{LinkText::LineError(), EMsgIcon::Stop};
    const SShown question{LinkText::PasswordRefused(), EMsgIcon::Question};
    const SShown channel{LinkText::Channel(), EMsgIcon::Exclamation};
    const SReply locked = Answer(STATUS_LOCKED);

    const struct {
        const char *pName;
        QList<SReply> replies; // one for each request, in order
        QList<bool> yesNo;
        bool bOk;
        quint16 nLength; // on success
        SMessages shown;
        QList<quint8> commands;
        QStringList reads; // for the cases where the reads are the point
        qint64 nMs;
    } cases[] = {
        // Status 0: the data and their checksum follow the header.
        {"whole reply", {SecondReply()}, {}, 1, SECOND_SIZE, {}, {R},
         {"read 24: 24", "read 1036: 1036", "read 1: 1"}, 100 + LISTEN_MS},
        {"data short: no checksum is waited for", {SReply::Now(header + SecondData(100))}, {}, 1, 100, {}, {R},
         {"read 24: 24", "read 1036: 100"}, 100 + 200},
        {"checksum missing", {SReply::Now(header + SecondData())}, {}, 1, SECOND_SIZE, {}, {R},
         {"read 24: 24", "read 1036: 1036", "read 1: 0"}, 100 + 1010},
        {"header late but within the read's wait", {After(1000, whole)}, {}, 1, SECOND_SIZE, {}, {R}, {},
         1000 + LISTEN_MS},
        // Short headers.
        {"header of 23 bytes", {SReply::Now(header.left(23))}, {}, 0, 0, {noAnswer}, {R}, {"read 24: 23"},
         100 + 200},
        {"silent meter", {SILENCE}, {}, 0, 0, {noAnswer}, {R}, {"read 24: 0"}, 100 + 1240},
        {"header later than the read waits", {After(1400, whole)}, {}, 0, 0, {noAnswer}, {R}, {"read 24: 0"},
         100 + 1240},
        {"header broken by a gap longer than the interval",
         {SReply{{{0, header.left(10)}, {400, whole.mid(10)}}}}, {}, 0, 0, {noAnswer}, {R}, {"read 24: 10"},
         100 + 200},
        // Other statuses end the exchange at once.
        {"busy", {Answer(STATUS_BUSY)}, {}, 0, 0, {{LinkText::Busy(), EMsgIcon::Exclamation}}, {R}, {"read 24: 24"},
         100},
        {"status 17 on a data request", {Answer(STATUS_BAD_PASSWORD)}, {}, 0, 0, {lineError}, {R}, {}, 100},
        {"status 1", {Answer(1)}, {}, 0, 0, {lineError}, {R}, {}, 100},
        {"status 15 in the high byte", {Answer(0x0F00)}, {}, 0, 0, {lineError}, {R}, {}, 100},
        {"status 65535", {Answer(0xFFFF)}, {}, 0, 0, {lineError}, {R}, {}, 100},
        // Status 15: the stored password goes out on the same line, then the
        // request again.
        {"locked, then the data", {locked, Answer(STATUS_OK), SecondReply()}, {}, 1, SECOND_SIZE, {}, {R, U, R},
         {"read 24: 24", "read 2: 2", "read 25: 25", "read 24: 24", "read 1036: 1036", "read 1: 1"},
         300 + LISTEN_MS},
        {"locked without a tail byte: its rest is waited out",
         {Answer(STATUS_LOCKED, false), Answer(STATUS_OK), SecondReply()}, {}, 1, SECOND_SIZE, {}, {R, U, R},
         {"read 24: 24", "read 2: 1", "read 25: 25", "read 24: 24", "read 1036: 1036", "read 1: 1"},
         500 + LISTEN_MS},
        {"locked three times: no fourth send",
         {locked, Answer(STATUS_OK), locked, Answer(STATUS_OK), locked, Answer(STATUS_OK)}, {}, 0, 0, {lineError},
         {R, U, R, U, R, U}, {}, 600},
        {"locked, unlock answers an odd status: taken as done", {locked, Answer(5), SecondReply()}, {}, 1,
         SECOND_SIZE, {}, {R, U, R}, {}, 300 + LISTEN_MS},
        {"locked, password refused, Yes, accepted",
         {locked, Answer(STATUS_BAD_PASSWORD), Answer(STATUS_OK), SecondReply()}, {true}, 1, SECOND_SIZE,
         {question}, {R, U, U, R}, {}, 400 + LISTEN_MS},
        {"locked, password refused three times: 3 s pause, nothing more shown",
         {locked, Answer(STATUS_BAD_PASSWORD), Answer(STATUS_BAD_PASSWORD), Answer(STATUS_BAD_PASSWORD)},
         {true, true}, 0, 0, {question, question}, {R, U, U, U}, {}, 100 + 300 + 3000},
        {"locked, unlock answer of 24 bytes", {locked, SReply::Now(header)}, {}, 0, 0, {channel}, {R, U},
         {"read 24: 24", "read 2: 2", "read 25: 24"}, 100 + 100 + 200},
        {"locked, unlock unanswered", {locked, SILENCE}, {}, 0, 0, {channel}, {R, U}, {}, 100 + 100 + 1250},
    };

    const QByteArray request = Request(CMD_READ_SECOND, 1);
    const QByteArray unlock = Request(CMD_UNLOCK, UNLOCK_LEVEL_2, QByteArray("2222\0", 5));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        SBench b;
        b.OpenSecondLevel();
        for (const SReply &reply : c.replies)
            b.line.QueueReply(reply);
        b.op.yesNoAnswers = c.yesNo;

        EXPECT_EQ(b.ReadSecond(), c.bOk);
        if (c.bOk) {
            EXPECT_EQ(b.nLength, c.nLength);
        }
        EXPECT_EQ(b.op.shown, c.shown);
        EXPECT_EQ(b.op.nAccessAsked, 0);
        const QList<QByteArray> frames = b.line.Frames();
        EXPECT_EQ(CommandsOf(frames), c.commands);
        for (const QByteArray &frame : frames)
            EXPECT_EQ(frame.toHex(' '), (quint8(frame.at(6)) == R ? request : unlock).toHex(' '));
        if (!c.reads.isEmpty()) {
            EXPECT_EQ(b.Reads(), c.reads);
        }
        EXPECT_EQ(b.ElapsedMs(), c.nMs);
        EXPECT_FALSE(b.line.IsOpen());
        EXPECT_EQ(b.line.RepliesLeft(), 0);
        EXPECT_FALSE(b.link.WasCancelled());
    }
}

TEST(LinkExchange, LockedReplyIsAnsweredOnTheSameLine)
{
    // The whole call sequence of an exchange that meets a locked meter:
    // the unlock neither reopens nor closes the line in between, the resend
    // starts on a freshly opened one.
    SBench b;
    b.OpenSecondLevel();
    b.line.QueueReply(Answer(STATUS_LOCKED));
    b.line.QueueReply(Answer(STATUS_OK));
    b.line.QueueReply(SecondReply());
    EXPECT_EQ(b.ReadSecond(), 1);
    const QStringList request = {"open", "purge out", "purge in", "write 24", "write 1", "pause 100"};
    // The unlock answer's tail byte is taken up by the listen after it.
    const QStringList unlock = {"read 24: 24", "read 2: 2", "purge out", "purge in", "write 30", "pause 100",
                                "read 25: 25", QStringLiteral("listen %1 ms: 1").arg(LISTEN_MS), "close"};
    const QStringList data = {"read 24: 24", "read 1036: 1036", "read 1: 1",
                              QStringLiteral("listen %1 ms: 0").arg(LISTEN_MS), "close"};
    EXPECT_EQ(b.line.Log(), request + unlock + request + data);
}

TEST(LinkExchange, LineThatWillNotOpenNamesThePort)
{
    const SShown port{LinkText::Port("COM1"), EMsgIcon::Stop};
    const struct {
        const char *pName;
        int nRefusedOpen; // 1: the first open
        QList<SReply> replies;
        QList<quint8> commands;
    } cases[] = {
        {"the request's", 1, {}, {}},
        {"the resend's, after a re-unlock", 2, {Answer(STATUS_LOCKED), Answer(STATUS_OK)}, {R, U}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        SBench b;
        b.OpenSecondLevel();
        b.line.RefuseOpen(c.nRefusedOpen);
        for (const SReply &reply : c.replies)
            b.line.QueueReply(reply);
        EXPECT_EQ(b.ReadSecond(), 0);
        EXPECT_EQ(b.op.shown, SMessages({port}));
        EXPECT_EQ(CommandsOf(b.line.Frames()), c.commands);
        EXPECT_FALSE(b.line.IsOpen());
    }

    // The first exchange's unlock, and the check.
    SBench b;
    b.line.RefuseOpen(1);
    b.line.RefuseOpen(2);
    b.op.accessAnswers = {{0, ""}};
    EXPECT_EQ(b.ReadSecond(), 0);
    EXPECT_FALSE(b.link.CheckConnection());
    EXPECT_EQ(b.op.shown, SMessages({port, port}));
    EXPECT_TRUE(b.line.Frames().isEmpty());
}

TEST(LinkExchange, AdviceOfARefusedOpenFollowsThePortMessage)
{
    const QString strAdvice = LinkText::NoRightToDevice(u"/dev/ttyUSB0"_qs, u"dialout"_qs);
    SBench b;
    b.line.SetOpenProblem({EPortProblem::JoinGroup, u"/dev/ttyUSB0"_qs, u"dialout"_qs});
    b.line.RefuseOpen(1);
    b.op.accessAnswers = {{0, ""}};
    EXPECT_EQ(b.ReadSecond(), 0);
    EXPECT_EQ(b.op.shown, SMessages({{LinkText::Port("COM1") + u'\n' + strAdvice, EMsgIcon::Stop}}));
    EXPECT_TRUE(b.line.Frames().isEmpty());
}

// ---- failures as codes -------------------------------------------------------

// Every way a read can fail leaves its code; the operator is shown what the
// code says (nothing when the operator ended it), and a success clears it.
TEST(LinkFailure, EachKindLeavesItsCode)
{
    const SShown question{LinkText::PasswordRefused(), EMsgIcon::Question};
    const struct {
        const char *pName;
        std::function<void(SBench &)> fnSetUp; // on a link with the second level open
        SLinkFailure failure;
        SMessages shown;
    } cases[] = {
        {"device number 0", [](SBench &b) { b.link.SetDeviceNumber(0); }, {ELinkFailure::DeviceNumber, {}, {}},
         {{LinkText::DeviceNumber(), EMsgIcon::Exclamation}}},
        {"port", [](SBench &b) { b.line.RefuseOpen(1); }, {ELinkFailure::Port, u"COM1"_qs, {}},
         {{LinkText::Port("COM1"), EMsgIcon::Stop}}},
        {"rate",
         [](SBench &b) {
             b.line.RefuseOpen(1);
             b.line.SetOpenProblem({EPortProblem::Rate, {}, {}});
         },
         {ELinkFailure::Port, u"COM1"_qs, {EPortProblem::Rate, {}, {}}},
         {{LinkText::RateUnsupported(), EMsgIcon::Information}, {LinkText::Port("COM1"), EMsgIcon::Stop}}},
        {"no answer", [](SBench &b) { b.line.QueueReply(SILENCE); }, {ELinkFailure::NoAnswer, {}, {}},
         {{LinkText::NoAnswer(), EMsgIcon::Stop}}},
        {"line error", [](SBench &b) { b.line.QueueReply(Answer(1)); }, {ELinkFailure::LineError, {}, {}},
         {{LinkText::LineError(), EMsgIcon::Stop}}},
        {"busy", [](SBench &b) { b.line.QueueReply(Answer(STATUS_BUSY)); }, {ELinkFailure::Busy, {}, {}},
         {{LinkText::Busy(), EMsgIcon::Exclamation}}},
        {"locked, then refused and not tried again",
         [](SBench &b) {
             b.line.QueueReply(Answer(STATUS_LOCKED));
             b.line.QueueReply(Answer(STATUS_BAD_PASSWORD));
         },
         {ELinkFailure::Refused, {}, {}}, {question}},
        {"locked, then refused three times",
         [](SBench &b) {
             b.op.yesNoAnswers = {true, true};
             b.line.QueueReply(Answer(STATUS_LOCKED));
             for (int i = 0; i < 3; ++i)
                 b.line.QueueReply(Answer(STATUS_BAD_PASSWORD));
         },
         {ELinkFailure::Refused, {}, {}}, {question, question}},
        {"locked, then the unlock unanswered",
         [](SBench &b) {
             b.line.QueueReply(Answer(STATUS_LOCKED));
             b.line.QueueReply(SILENCE);
         },
         {ELinkFailure::Channel, {}, {}}, {{LinkText::Channel(), EMsgIcon::Exclamation}}},
        {"cancelled",
         [](SBench &b) {
             b.line.QueueReply(SILENCE);
             b.op.keepWaiting = [](qint64) { return false; };
         },
         {ELinkFailure::Cancelled, {}, {}}, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        SBench b;
        b.OpenSecondLevel();
        c.fnSetUp(b);
        EXPECT_FALSE(b.ReadSecond());
        EXPECT_EQ(b.link.LastFailure().eKind, c.failure.eKind);
        EXPECT_TRUE(b.link.LastFailure() == c.failure);
        EXPECT_EQ(b.op.shown, c.shown);
        EXPECT_FALSE(b.line.IsOpen());

        // The next call that succeeds leaves no failure behind.
        b.link.SetDeviceNumber(1);
        b.op.keepWaiting = nullptr;
        while (b.line.RepliesLeft() > 0)
            EXPECT_FALSE(b.ReadSecond()); // whatever the case left queued
        b.line.QueueReply(SecondReply());
        EXPECT_TRUE(b.ReadSecond());
        EXPECT_EQ(b.link.LastFailure(), SLinkFailure());
    }

    // Before any request: the operator cancels the access dialog.
    SBench b;
    EXPECT_FALSE(b.ReadSecond());
    EXPECT_EQ(b.link.LastFailure().eKind, ELinkFailure::Declined);
    EXPECT_EQ(b.op.shown, SMessages());
}

// What a failure says on a line of text: the texts of its boxes, one a line,
// and a refused password without the question that offered another try.
TEST(LinkFailure, TextOfEachKind)
{
    const struct {
        SLinkFailure failure;
        QString strText;
    } cases[] = {
        {{ELinkFailure::None, {}, {}}, QString()},
        {{ELinkFailure::DeviceNumber, {}, {}}, LinkText::DeviceNumber()},
        {{ELinkFailure::Port, u"/dev/ttyUSB0"_qs, {}}, LinkText::Port(u"/dev/ttyUSB0"_qs)},
        {{ELinkFailure::Port, u"/dev/ttyUSB0"_qs, {EPortProblem::Rate, {}, {}}},
         LinkText::RateUnsupported() + u'\n' + LinkText::Port(u"/dev/ttyUSB0"_qs)},
        {{ELinkFailure::Port, u"/dev/ttyUSB0"_qs, {EPortProblem::NoRight, u"/dev/ttyUSB0"_qs, {}}},
         LinkText::Port(u"/dev/ttyUSB0"_qs) + u'\n' + LinkText::NoRightToDevice(u"/dev/ttyUSB0"_qs)},
        {{ELinkFailure::NoAnswer, {}, {}}, LinkText::NoAnswer()},
        {{ELinkFailure::LineError, {}, {}}, LinkText::LineError()},
        {{ELinkFailure::Busy, {}, {}}, LinkText::Busy()},
        {{ELinkFailure::Channel, {}, {}}, LinkText::Channel()},
        {{ELinkFailure::Refused, {}, {}}, u"Не удалось снять пароль. Пароль не верен."_qs},
        {{ELinkFailure::Declined, {}, {}}, QString()},
        {{ELinkFailure::Cancelled, {}, {}}, QString()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.failure.eKind));
        EXPECT_EQ(LinkFailureText(c.failure), c.strText);
    }
}

// ---- unlock --------------------------------------------------------------

TEST(LinkUnlock, AnswersThroughTheDialog)
{
    const SShown question{LinkText::PasswordRefused(), EMsgIcon::Question};
    const struct {
        const char *pName;
        QList<SReply> replies;
        bool bOk;
        quint8 nLevel;
        SMessages shown;
        int nFrames;
        qint64 nMs;
    } cases[] = {
        {"accepted", {Answer(STATUS_OK)}, 1, 1, {{LinkText::PasswordAccepted(1), EMsgIcon::Exclamation}}, 1, 100},
        {"an odd status: done, no level opened", {Answer(5)}, 1, 0, {}, 1, 100},
        {"answer of 24 bytes", {SReply::Now(ReplyHeader(STATUS_OK))}, 0, 0,
         {{LinkText::Channel(), EMsgIcon::Exclamation}}, 1, 100 + 200},
        {"unanswered", {SILENCE}, 0, 0, {{LinkText::Channel(), EMsgIcon::Exclamation}}, 1, 100 + 1250},
        {"refused three times: 3 s pause, nothing more shown",
         {Answer(STATUS_BAD_PASSWORD), Answer(STATUS_BAD_PASSWORD), Answer(STATUS_BAD_PASSWORD)}, 0, 0,
         {question, question}, 3, 300 + 3000},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        SBench b;
        b.op.accessAnswers = {{0, ""}, {0, ""}, {0, ""}};
        b.op.yesNoAnswers = {true, true};
        for (const SReply &reply : c.replies)
            b.line.QueueReply(reply);
        EXPECT_EQ(b.link.Unlock(true, QString()), c.bOk);
        EXPECT_EQ(b.link.AccessLevel(), c.nLevel);
        EXPECT_EQ(b.op.shown, c.shown);
        const QByteArray frame = Request(CMD_UNLOCK, UNLOCK_LEVEL_1, QByteArray(1, '\0'));
        EXPECT_EQ(b.line.Frames(), QList<QByteArray>(c.nFrames, frame));
        EXPECT_EQ(b.ElapsedMs(), c.nMs);
        EXPECT_FALSE(b.line.IsOpen());
    }
}

TEST(LinkUnlock, CancelledDialogTouchesNoLine)
{
    SBench b;
    EXPECT_FALSE(b.link.Unlock(true, QString()));
    EXPECT_EQ(b.op.nAccessAsked, 1);
    EXPECT_TRUE(b.line.Log().isEmpty());
    EXPECT_EQ(b.line.NowMs(), 0);
}

// ---- connection check ----------------------------------------------------

TEST(LinkCheck, EchoesAndShortReplies)
{
    const QByteArray echo = Request(CMD_CHECK, 0);
    QByteArray busyEcho = echo;
    busyEcho[22] = char(STATUS_BUSY);
    QByteArray wrongChecksum = echo;
    wrongChecksum[24] = char(echo[24] ^ 1);
    const SShown noAnswer{LinkText::NoAnswer(), EMsgIcon::Stop};
    const SShown lineError{LinkText::LineError(), EMsgIcon::Stop};

    const struct {
        const char *pName;
        SReply reply;
        int nGot;
        bool bOk;
        quint8 nTail;
        SMessages shown;
        qint64 nMs;
    } cases[] = {
        {"echo: the 26th byte is waited for, then listened for", SReply::Now(echo), 25, 1, 1, {},
         100 + 200 + LISTEN_MS},
        {"echo and a tail byte", SReply::Now(echo + '\x7E'), 26, 1, 2, {}, 100},
        {"echo and two bytes more", SReply::Now(echo + "\x7E\x7E"), 26, 1, 2, {}, 100},
        {"header only", SReply::Now(echo.left(24)), 24, 0, 1, {noAnswer}, 100 + 200},
        {"silent meter", SILENCE, 0, 0, 1, {noAnswer}, 100 + 1260},
        {"wrong checksum", SReply::Now(wrongChecksum), 25, 0, 1, {lineError}, 100 + 200},
        {"busy status in the echo", SReply::Now(busyEcho + TAIL_BYTE), 26, 0, 1, {lineError}, 100},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        SBench b;
        b.line.QueueReply(c.reply);
        EXPECT_EQ(b.link.CheckConnection(), c.bOk);
        EXPECT_EQ(b.link.ReplyTail(), c.nTail);
        EXPECT_EQ(b.op.shown, c.shown);
        QStringList log = {"open", "purge out", "purge in", "write 24", "write 1", "pause 100",
                           QStringLiteral("read 26: %1").arg(c.nGot), "close"};
        if (c.bOk && c.nTail == 1)
            log.insert(log.size() - 1, QStringLiteral("listen %1 ms: 0").arg(LISTEN_MS));
        EXPECT_EQ(b.line.Log(), log);
        EXPECT_EQ(b.line.Frames(), QList<QByteArray>({echo}));
        EXPECT_EQ(b.ElapsedMs(), c.nMs);
    }
}

TEST(LinkCheck, TailByteLengthensTheUnlockAnswer)
{
    SBench b;
    b.line.QueueReply(SReply::Now(Request(CMD_CHECK, 0) + TAIL_BYTE));
    ASSERT_TRUE(b.link.CheckConnection());
    b.line.QueueReply(Answer(STATUS_OK));
    EXPECT_TRUE(b.link.Unlock(false, "1"));
    EXPECT_EQ(b.Reads().last(), "read 26: 26");
}

// ---- late bytes ------------------------------------------------------------

// Second data in which a shift by one byte changes every value.
QByteArray PatternData()
{
    QByteArray data(SECOND_SIZE, '\0');
    for (int i = 0; i < data.size(); ++i)
        data[i] = char((i * 37 + 11) & 0xFF);
    return data;
}

// A reply that comes as the link starts to read it, 100 ms after its request.
SReply AtRead(const QByteArray &reply)
{
    return After(100, reply);
}

// The same with one more byte nAtMs after its last byte (with bBefore: nAtMs
// before its first).
SReply WithStray(const QByteArray &reply, qint64 nAtMs, bool bBefore = false)
{
    SReply withStray = AtRead(reply);
    if (bBefore)
        withStray.parts = {{withStray.parts[0].nAfterMs - nAtMs, TAIL_BYTE}, {nAtMs, reply}};
    else
        withStray.parts.append({nAtMs, TAIL_BYTE});
    return withStray;
}

TEST(LinkLateByte, NeverShiftsTheDataRead)
{
    // The first read of a run: the unlock goes first, its answer is read at
    // 25 bytes, the port is closed, opened and purged for the data request.
    // A byte that comes after that purge would be read as the first byte of
    // the data reply: status 0 by chance, every value shifted by one byte.
    const QByteArray unlockAnswer = ReplyHeader(STATUS_OK) + REPLY_CHECKSUM;
    const QByteArray dataReply = ReplyHeader(STATUS_OK) + PatternData() + REPLY_CHECKSUM;
    const SShown lineError{LinkText::LineError(), EMsgIcon::Stop};
    const struct {
        const char *pName;
        quint32 nRate;
        SReply unlock;
        SReply data;
        bool bOk;
    } cases[] = {
        {"no tail", 9600, SReply::Now(unlockAnswer), AtRead(dataReply), 1},
        {"tail with the unlock answer: dropped", 9600, SReply::Now(unlockAnswer + TAIL_BYTE),
         AtRead(dataReply), 1},
        {"tail 1 ms after the unlock answer: dropped", 9600, WithStray(unlockAnswer, 1), AtRead(dataReply), 1},
        {"tail 1 ms late at 115200 bit/s: dropped", 115200, WithStray(unlockAnswer, 1), AtRead(dataReply), 1},
        {"tail 10 ms late: after the purge, caught at the data's end", 9600, WithStray(unlockAnswer, 10),
         AtRead(dataReply), 0},
        {"tail 60 ms late: after the purge, caught at the data's end", 9600, WithStray(unlockAnswer, 60),
         AtRead(dataReply), 0},
        {"stray byte before the data reply", 9600, SReply::Now(unlockAnswer), WithStray(dataReply, 20, true), 0},
        {"stray byte 1 ms after the data reply", 9600, SReply::Now(unlockAnswer), WithStray(dataReply, 1), 0},
        {"stray byte after the listen: the reply was read in step", 9600, SReply::Now(unlockAnswer),
         WithStray(dataReply, LISTEN_MS + 1), 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        SBench b;
        b.link.SetBaudRate(qint32(c.nRate));
        b.op.accessAnswers = {{0, ""}};
        b.line.QueueReply(c.unlock);
        b.line.QueueReply(c.data);

        EXPECT_EQ(b.ReadSecond(), c.bOk);
        EXPECT_EQ(b.op.shown, c.bOk ? SMessages() : SMessages({lineError}));
        if (c.bOk) {
            EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(b.aReply), b.nLength), PatternData());
        }
        EXPECT_EQ(CommandsOf(b.line.Frames()), QList<quint8>({U, R}));
        EXPECT_FALSE(b.line.IsOpen());
    }
}

TEST(LinkLateByte, CheckDropsATailLaterThanItsRead)
{
    // An echo so slow that the read's total wait (1260 ms from 100 ms on)
    // ends 10 ms after its 25th byte; its tail byte follows 2 ms later. The unlock that comes next
    // must read its own answer, not that tail.
    const QByteArray echo = Request(CMD_CHECK, 0);
    SBench b;
    b.line.QueueReply({{{1000, echo.left(20)}, {190, echo.mid(20, 4)}, {160, echo.mid(24)}, {12, TAIL_BYTE}}});
    ASSERT_TRUE(b.link.CheckConnection());
    EXPECT_EQ(b.line.Log().mid(6), QStringList({"read 26: 25", QStringLiteral("listen %1 ms: 1").arg(LISTEN_MS),
                                                "close"}));
    b.line.QueueReply(SReply::Now(ReplyHeader(STATUS_OK) + REPLY_CHECKSUM));
    b.op.accessAnswers = {{1, "2222"}};
    EXPECT_TRUE(b.link.Unlock(false, QString()));
    EXPECT_EQ(b.link.AccessLevel(), 2);
}

// ---- waiting -------------------------------------------------------------

TEST(LinkWaiting, CancelEndsTheWaitWithinASlice)
{
    const struct {
        const char *pName;
        qint64 nCancelAtMs;
        QList<SReply> replies;
        QStringList logEnd;
    } cases[] = {
        {"in the reply delay", 50, {}, {"pause 100", "cancel", "close"}},
        {"in a silent header read", 700, {SILENCE}, {"read 24: 0", "cancel", "close"}},
        {"in the refusal pause",
         1000,
         {Answer(STATUS_LOCKED), Answer(STATUS_BAD_PASSWORD), Answer(STATUS_BAD_PASSWORD),
          Answer(STATUS_BAD_PASSWORD)},
         {"pause 3000", "cancel", "close"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        SBench b;
        b.OpenSecondLevel();
        for (const SReply &reply : c.replies)
            b.line.QueueReply(reply);
        b.op.yesNoAnswers = {true, true};
        b.op.keepWaiting = [&](qint64) { return b.ElapsedMs() < c.nCancelAtMs; };
        EXPECT_EQ(b.ReadSecond(), 0);
        EXPECT_TRUE(b.link.WasCancelled());
        for (const SShown &shown : b.op.shown)
            EXPECT_EQ(shown.icon, EMsgIcon::Question); // only the questions that went before
        EXPECT_EQ(b.line.Log().mid(b.line.Log().size() - 3), c.logEnd);
        EXPECT_GE(b.ElapsedMs(), c.nCancelAtMs);
        EXPECT_LT(b.ElapsedMs(), c.nCancelAtMs + ILine::WAIT_SLICE_MS);
    }
}

TEST(LinkWaiting, OperatorSeesTheBytesComeIn)
{
    // A reply trickling in at 9600 bit/s: the operator's progress grows with it.
    SBench b;
    b.OpenSecondLevel();
    SReply reply = SReply::Now(ReplyHeader(STATUS_OK));
    reply.parts.append({150, SecondData(100)});
    for (int i = 1; i < 10; ++i)
        reply.parts.append({100, SecondData(100)});
    reply.parts.append({100, SecondData(36) + REPLY_CHECKSUM});
    b.line.QueueReply(reply);
    QList<qint64> seen;
    b.op.keepWaiting = [&](qint64 nBytes) {
        if (seen.isEmpty() || seen.last() != nBytes)
            seen.append(nBytes);
        return true;
    };
    EXPECT_EQ(b.ReadSecond(), 1);
    EXPECT_EQ(b.nLength, SECOND_SIZE);
    EXPECT_EQ(seen, QList<qint64>({0, 24, 124, 224, 324, 424, 524, 624, 724, 824, 924, 1024, 1061}));
    EXPECT_EQ(b.ElapsedMs(), 1150 + LISTEN_MS);
}

} // namespace
