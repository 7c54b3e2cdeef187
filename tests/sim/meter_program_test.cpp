// varik-meter as a user starts it: its help, its refusals of bad options,
// and a bus with faults given on the command line, talked to over the
// pseudo-terminal it prints.
#include "pty_client.h"

#include "link/frame.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <termios.h>

namespace {

constexpr int SILENCE = -1;
constexpr int MINUTE_REPLY = HEADER_SIZE + 500 + 1;

QByteArray Password(const char *p)
{
    return QByteArray(p) + '\0';
}

struct SRun {
    int nExit = -1;
    QByteArray out;
    QByteArray err;
};

SRun RunToEnd(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(VARIK_METER_PATH), args);
    EXPECT_TRUE(p.waitForFinished(10000));
    return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

TEST(MeterProgram, HelpListsTheBusOptionsAndTheSwitches)
{
    const SRun r = RunToEnd({"--help"});
    EXPECT_EQ(r.nExit, 0);
    for (const char *pOption : {"--devices <list>", "--fault <n=switch>", "7=silent", "4=password1:abc", "--busy",
                                "--silent", "--paced", "--password1 <text>", "--status <n>", "--hangup-after <n>"})
        EXPECT_TRUE(r.out.contains(pOption)) << pOption;
}

TEST(MeterProgram, BadBusOptionsAreRefusedWithTheReason)
{
    const struct {
        QStringList args;
        const char *pReason;
    } cases[] = {
        {{"--devices", "1,0"}, "--devices needs device numbers from 1 to 65535"},
        {{"--devices", "1,,2"}, "--devices needs device numbers"},
        {{"--fault", "1=busy"}, "--fault 1=busy: device 1 is not in --devices"},
        {{"--devices", "1,2", "--fault", "3=busy"}, "device 3 is not in --devices"},
        {{"--devices", "1,2", "--fault", "busy"}, "write it as <device>=<switch>"},
        {{"--devices", "1,2", "--fault", "2=loud"}, "no switch \"loud\""},
        {{"--devices", "1,2", "--fault", "2=status"}, "status needs a value, as in 2=status:<n>"},
        {{"--devices", "1,2", "--fault", "2=busy:1"}, "busy takes no value"},
        {{"--devices", "1,2", "--fault", "2=locked:-1"}, "locked needs a number of 0 or more"},
        {{"--status", "x"}, "--status needs a number of 0 or more"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args.join(u' ').toStdString());
        const SRun r = RunToEnd(c.args);
        EXPECT_EQ(r.nExit, 1);
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_TRUE(r.err.startsWith("varik-meter: ")) << r.err.constData();
        EXPECT_TRUE(r.err.contains(c.pReason)) << r.err.constData();
    }
}

// The program runs for the whole test; its first line is the device to open.
class MeterProgramBus : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_meter.start(QStringLiteral(VARIK_METER_PATH),
                      {"--devices", "1,2,7", "--fault", "7=silent", "--fault", "2=busy", "--fault",
                       "1=password1:abc", "--tail"});
        ASSERT_TRUE(m_meter.waitForReadyRead(10000)) << m_meter.readAllStandardError().constData();
        const QString strDevice = QString::fromLocal8Bit(m_meter.readLine().trimmed());
        ASSERT_TRUE(m_client.Open(strDevice, B9600)) << strDevice.toStdString();
    }

    void TearDown() override
    {
        m_meter.terminate();
        EXPECT_TRUE(m_meter.waitForFinished(5000));
        EXPECT_EQ(m_meter.exitCode(), 0);
    }

    // The status of the reply, SILENCE for none.
    int StatusOf(const QByteArray &request, int nExpected)
    {
        EXPECT_TRUE(m_client.Write(request));
        const QByteArray reply = nExpected ? m_client.Read(nExpected, 1000) : m_client.Read(8192, 600);
        return reply.isEmpty() ? SILENCE : ReplyStatus(reply);
    }

    QProcess m_meter;
    CPtyClient m_client;
};

TEST_F(MeterProgramBus, EachDevicePlaysItsOwnFaultAndTheSwitchesForAllReachEach)
{
    const QByteArray unlockEmpty = Password("");
    // Device 1 has its own level-1 password; 2 keeps the empty default.
    EXPECT_EQ(StatusOf(RequestFrameTo(1, 0, CMD_UNLOCK, UNLOCK_LEVEL_1, unlockEmpty), 26), STATUS_BAD_PASSWORD);
    EXPECT_EQ(StatusOf(RequestFrameTo(1, 0, CMD_UNLOCK, UNLOCK_LEVEL_1, Password("abc")), 26), STATUS_OK);
    EXPECT_EQ(StatusOf(RequestFrameTo(2, 0, CMD_UNLOCK, UNLOCK_LEVEL_1, unlockEmpty), 26), STATUS_OK);

    EXPECT_EQ(StatusOf(RequestFrameTo(1, 0, CMD_READ_MINUTE, 1), MINUTE_REPLY), STATUS_OK);
    EXPECT_EQ(StatusOf(RequestFrameTo(2, 0, CMD_READ_MINUTE, 1), 26), STATUS_BUSY);
    EXPECT_EQ(StatusOf(RequestFrameTo(7, 0, CMD_CHECK, 0), 0), SILENCE);
    EXPECT_EQ(StatusOf(RequestFrameTo(3, 0, CMD_CHECK, 0), 0), SILENCE);

    // --tail, given for every meter: the check's echo has its extra byte.
    const QByteArray check = RequestFrameTo(2, 1, CMD_CHECK, 0);
    ASSERT_TRUE(m_client.Write(check));
    EXPECT_EQ(m_client.Read(26, 1000), check + '\0');
}

} // namespace
