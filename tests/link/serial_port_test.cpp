// The serial channel against the simulated meter on a pseudo-terminal.
#include "link/frame.h"
#include "link/link_messages.h"
#include "link/meter_link.h"
#include "sim/meter_sim.h"
#include "scripted_operator.h"
#include "link/serial_port.h"
#include "unprivileged.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A connection-check request to device 1: the meter echoes it.
QByteArray CheckRequest()
{
    QByteArray frame = RequestHeader::Request(CMD_CHECK, 0, 1, 0, 0).ToBytes();
    frame.append(char(CMeterLink::Checksum(reinterpret_cast<const quint8 *>(frame.constData()), HEADER_SIZE,
                                           nullptr, 0)));
    return frame;
}

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString strError;
        ASSERT_TRUE(sim.Start(&strError)) << strError.toStdString();
        strPath = sim.SlavePath();
        port.SetOperator(&op);
    }

    int SendCheck()
    {
        const QByteArray request = CheckRequest();
        return port.Write(reinterpret_cast<const quint8 *>(request.constData()), int(request.size()));
    }

    CMeterSim sim;
    CScriptedOperator op;
    CSerialPort port;
    QString strPath;
};

TEST_F(SerialPortTest, HeldPortCannotBeOpenedAgainByAnyNameUntilClosed)
{
    QTemporaryDir dir;
    const QString strLink = dir.filePath("meter");
    ASSERT_TRUE(QFile::link(strPath, strLink));

    ASSERT_TRUE(port.Open(strPath, 115200));
    EXPECT_TRUE(port.IsOpen());
    CSerialPort other;
    EXPECT_FALSE(other.Open(strPath, 115200));
    EXPECT_FALSE(other.Open(strLink, 115200));
    EXPECT_FALSE(other.IsOpen());
    EXPECT_EQ(ProbePort(strPath), 0);
    EXPECT_EQ(ProbePort(strLink), 0);

    port.Close();
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(ProbePort(strPath), 1);
    EXPECT_EQ(ProbePort(strLink), 1); // probing leaves the port free
    ASSERT_TRUE(other.Open(strLink, 115200));
    EXPECT_FALSE(port.Open(strPath, 115200));
    other.Close();
    EXPECT_EQ(ProbePort(strPath), 1);
    EXPECT_TRUE(op.shown.isEmpty());
}

TEST_F(SerialPortTest, HeldPortIsRefusedToAnotherProgramThatIgnoresLockFiles)
{
    if (!CanActAsNobody())
        GTEST_SKIP() << "needs root to open the device as nobody; root itself is never refused";
    ASSERT_EQ(::chmod(QFile::encodeName(strPath).constData(), 0666), 0); // only the hold can refuse it
    // A plain open(2) by an ordinary user: the errno it ends with, 0 if it opened.
    const auto openAsNobody = [&] {
        const SNobodyRun run = RunAsNobody([&] {
            const int fd = ::open(QFile::encodeName(strPath).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            const int nError = fd < 0 ? errno : 0;
            if (fd >= 0)
                ::close(fd);
            return QByteArray::number(nError);
        });
        EXPECT_TRUE(run.bRan);
        return run.out.toInt();
    };

    EXPECT_EQ(openAsNobody(), 0);
    ASSERT_TRUE(port.Open(strPath, 9600));
    EXPECT_EQ(openAsNobody(), EBUSY);
    EXPECT_EQ(ProbePort(strPath), 0);
    port.Close();
    EXPECT_EQ(openAsNobody(), 0); // closing ends the exclusive mode
    EXPECT_EQ(ProbePort(strPath), 1);
}

TEST_F(SerialPortTest, OpenRefusesAbsentPortAndRateZeroQuietly)
{
    EXPECT_FALSE(port.Open("/dev/varik-no-such-port", 115200));
    EXPECT_EQ(ProbePort("/dev/varik-no-such-port"), 0);
    EXPECT_FALSE(port.Open(strPath, 0));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(ProbePort(strPath), 1); // nothing was left holding it
    EXPECT_TRUE(op.shown.isEmpty());
}

TEST_F(SerialPortTest, OpenOnAnOpenPortKeepsIt)
{
    ASSERT_TRUE(port.Open(strPath, 115200));
    EXPECT_TRUE(port.Open("/dev/varik-no-such-port", 9600));
    EXPECT_TRUE(port.IsOpen());
}

TEST_F(SerialPortTest, ClosedPortReadsAndWritesNothing)
{
    quint8 buffer[4] = {1, 2, 3, 4};
    EXPECT_EQ(port.Write(buffer, 4), 0);
    EXPECT_EQ(port.WriteByte(1), 0);
    EXPECT_EQ(port.Read(buffer, 4), 0u);
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    EXPECT_TRUE(sim.Requests().isEmpty());
}

TEST_F(SerialPortTest, WritesReachTheMeterAndItsEchoIsRead)
{
    ASSERT_TRUE(port.Open(strPath, 115200));
    EXPECT_EQ(port.Write(nullptr, 0), 0);
    EXPECT_EQ(SendCheck(), HEADER_SIZE + 1);

    quint8 reply[26] = {};
    EXPECT_EQ(port.Read(reply, 25), 25u);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(reply), 25), CheckRequest());
    EXPECT_EQ(sim.Requests(), QList<QByteArray>{CheckRequest()});
    EXPECT_EQ(port.BytesReceived(), 25);
}

TEST_F(SerialPortTest, ReadGivesUpSoonAfterTheLastByte)
{
    // At 9600 bit/s a 100-byte read may take 2000 ms; once the 25-byte echo
    // is in, the line's silence ends it after 200 ms.
    qint64 nLastSeen = -1;
    op.keepWaiting = [&](qint64 n) {
        nLastSeen = n;
        return true;
    };
    ASSERT_TRUE(port.Open(strPath, 9600));
    SendCheck();
    QElapsedTimer timer;
    timer.start();
    quint8 reply[100];
    EXPECT_EQ(port.Read(reply, 100), 25u);
    EXPECT_GE(timer.elapsed(), CSerialPort::READ_INTERVAL_MS);
    EXPECT_LT(timer.elapsed(), 700);
    EXPECT_EQ(nLastSeen, 25); // the operator sees what came while it waits
}

TEST_F(SerialPortTest, ReadOfASilentLineWaitsItsTotalTimeout)
{
    // (98000 / 9600) * 24 + 1000 = 1240 ms.
    ASSERT_TRUE(port.Open(strPath, 9600));
    QElapsedTimer timer;
    timer.start();
    quint8 reply[24];
    EXPECT_EQ(port.Read(reply, 24), 0u);
    EXPECT_GE(timer.elapsed(), 1240);
    EXPECT_LT(timer.elapsed(), 1450);
    EXPECT_TRUE(port.IsOpen());
}

TEST(SerialPortTimeout, MultiplierPerRate)
{
    const struct {
        quint32 nRate, nMultiplier;
    } cases[] = {{110, 890}, {300, 326}, {600, 163}, {1200, 81}, {2400, 40}, {4800, 20},
                 {9600, 10}, {19200, 5}, {38400, 2}, {57600, 1}, {115200, 0}, {0, 0}};
    for (const auto &c : cases)
        EXPECT_EQ(CSerialPort::TimeoutMultiplier(c.nRate), c.nMultiplier) << c.nRate;
}

TEST_F(SerialPortTest, CancelEndsAWaitAndReleasesThePort)
{
    QElapsedTimer timer;
    timer.start();
    op.keepWaiting = [&](qint64) { return timer.elapsed() < 300; };
    ASSERT_TRUE(port.Open(strPath, 9600));
    quint8 reply[24];
    EXPECT_EQ(port.Read(reply, 24), 0u);
    EXPECT_LT(timer.elapsed(), 500);
    EXPECT_TRUE(port.IsCancelled());
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(ProbePort(strPath), 1);

    // A cancelled channel does not wait again until it is told to.
    timer.restart();
    EXPECT_FALSE(port.Pause(3000));
    EXPECT_LT(timer.elapsed(), 100);
    port.ClearCancelled();
    op.keepWaiting = nullptr;
    EXPECT_TRUE(port.Pause(50));
    EXPECT_TRUE(op.shown.isEmpty());
}

TEST_F(SerialPortTest, HangUpEndsTheReadWithWhatCameAndClosesThePort)
{
    SMeterBehaviour behaviour;
    behaviour.nHangupAfter = 10;
    sim.SetBehaviour(behaviour);
    ASSERT_TRUE(port.Open(strPath, 115200));
    SendCheck();
    quint8 reply[26];
    EXPECT_EQ(port.Read(reply, 26), 10u);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.Read(reply, 26), 0u);
    EXPECT_EQ(port.WriteByte(0), 0);
    EXPECT_TRUE(op.shown.isEmpty());
}

} // namespace
