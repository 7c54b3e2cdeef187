#include "window/port_choice.h"

#include "sim/meter_sim.h"
#include "link/serial_port.h"
#include "unprivileged.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QStringList SPEEDS = {u"110"_qs,  u"300"_qs,   u"600"_qs,   u"1200"_qs,  u"2400"_qs,  u"4800"_qs,
                            u"9600"_qs, u"19200"_qs, u"38400"_qs, u"57600"_qs, u"115200"_qs};

TEST(FindRemembered, ExactNameFirstThenPrefixFromTheSecondEntry)
{
    const struct {
        QStringList entries;
        QString text;
        int expected;
    } cases[] = {
        {{u"COM1"_qs, u"COM12"_qs}, u"COM1"_qs, 0},  // exact beats the prefix rule's COM12
        {{u"COM1"_qs, u"COM12"_qs}, u"com12"_qs, 1}, // case does not count
        {{u"COM1"_qs, u"COM3"_qs}, u"COM"_qs, 1},    // the default finds the second entry first
        {{u"COM1"_qs}, u"COM"_qs, 0},
        {{u"COM2"_qs, u"COM4"_qs}, u"COM7"_qs, -1},
        {{}, u"COM"_qs, -1},
        {SPEEDS, u"1"_qs, 3},     // 1200, not 110 which is searched last
        {SPEEDS, u"110"_qs, 0},
        {SPEEDS, u"abc"_qs, -1},
        {SPEEDS, u"9600"_qs, 6},
        {{u"/dev/ttyUSB0"_qs, u"/dev/ttyUSB1"_qs}, u"/dev/ttyusb1"_qs, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.entries.join(u',').toStdString() + " <- " + c.text.toStdString());
        EXPECT_EQ(FindRemembered(c.entries, c.text), c.expected);
    }
}

TEST(PortCandidates, SystemAndGivenNamesInNaturalOrderWithoutDuplicates)
{
    EXPECT_EQ(PortCandidates({u"/dev/ttyS10"_qs, u"/dev/ttyS2"_qs, u"/dev/ttyUSB0"_qs},
                             {u"/dev/ttyS2"_qs, u"/tmp/COM12"_qs, u"/tmp/COM1"_qs, QString()}),
              (QStringList{u"/dev/ttyS2"_qs, u"/dev/ttyS10"_qs, u"/dev/ttyUSB0"_qs, u"/tmp/COM1"_qs,
                           u"/tmp/COM12"_qs}));
}

TEST(StablePortNames, TheLinksOfTheFolderInNaturalOrder)
{
    CMeterSim sim;
    ASSERT_TRUE(sim.Start());
    QTemporaryDir dir;
    const QString strAdapter10 = dir.filePath("usb-FTDI_FT232R_USB_UART_A10-if00-port0");
    const QString strAdapter9 = dir.filePath("usb-FTDI_FT232R_USB_UART_A9-if00-port0");
    const QString strUnplugged = dir.filePath("usb-Prolific_PL2303-if00-port0");
    ASSERT_TRUE(QFile::link(sim.SlavePath(), strAdapter10));
    ASSERT_TRUE(QFile::link(sim.SlavePath(), strAdapter9));
    ASSERT_TRUE(QFile::link(dir.filePath("ttyUSB7"), strUnplugged)); // listed; the probe weeds it out
    QFile notALink(dir.filePath("README"));
    ASSERT_TRUE(notALink.open(QIODevice::WriteOnly));

    EXPECT_EQ(StablePortNames(dir.path()), (QStringList{strAdapter9, strAdapter10, strUnplugged}));
    EXPECT_EQ(StablePortNames(dir.filePath("none")), QStringList());
    EXPECT_EQ(PortTarget(strAdapter9), sim.SlavePath());
    EXPECT_EQ(PortTarget(sim.SlavePath()), QString());
    EXPECT_FALSE(PortOffered(strUnplugged));
}

TEST(PortCandidates, EachLinkFollowsTheDeviceItStandsFor)
{
    CMeterSim first;
    CMeterSim second;
    ASSERT_TRUE(first.Start());
    ASSERT_TRUE(second.Start());
    QStringList devices{first.SlavePath(), second.SlavePath()};
    std::sort(devices.begin(), devices.end(), NaturalLess);
    QTemporaryDir dir;
    const QString strFirstB = dir.filePath("by-id-b");
    const QString strFirstA = dir.filePath("by-id-a");
    const QString strSecond = dir.filePath("by-id-c");
    const QString strElsewhere = dir.filePath("ttyS99"); // its device is not listed: it stays in order
    ASSERT_TRUE(QFile::link(devices.at(0), strFirstB));
    ASSERT_TRUE(QFile::link(devices.at(0), strFirstA));
    ASSERT_TRUE(QFile::link(devices.at(1), strSecond));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/null"), strElsewhere));

    EXPECT_EQ(PortCandidates(devices + StablePortNames(dir.path()), {strFirstA}),
              (QStringList{devices.at(0), strFirstA, strFirstB, devices.at(1), strSecond, strElsewhere}));
}

TEST(PortOffered, FreePortsAndPortsTheUserMayNotOpen)
{
    if (!CanActAsNobody())
        GTEST_SKIP() << "needs root to act as nobody";
    const group *pDialout = ::getgrnam("dialout");
    if (!pDialout)
        GTEST_SKIP() << "no dialout group here";
    CMeterSim sim;
    ASSERT_TRUE(sim.Start());
    const QString strDevice = sim.SlavePath();
    const QByteArray device = QFile::encodeName(strDevice);
    ASSERT_EQ(::chown(device.constData(), 0, pDialout->gr_gid), 0);
    const auto offeredToNobody = [](const QString &strName) {
        const SNobodyRun run = RunAsNobody([&] { return QByteArray(PortOffered(strName) ? "1" : "0"); });
        EXPECT_TRUE(run.bRan);
        return run.out == "1";
    };

    ASSERT_EQ(::chmod(device.constData(), 0666), 0);
    EXPECT_TRUE(offeredToNobody(strDevice));
    EXPECT_FALSE(offeredToNobody(QStringLiteral("/dev/varik-no-such-port")));
    {
        CSerialPort holder;
        ASSERT_TRUE(holder.Open(strDevice, 9600));
        EXPECT_FALSE(offeredToNobody(strDevice)); // held: not worth offering
    }
    // Only dialout may use it: listed, so that choosing it gives the advice.
    ASSERT_EQ(::chmod(device.constData(), 0660), 0);
    EXPECT_TRUE(offeredToNobody(strDevice));
    EXPECT_EQ(RunAsNobody([&] { return QByteArray::number(ProbePort(strDevice)); }).out, "0");
}

TEST(NaturalLess, DigitRunsCompareAsNumbers)
{
    EXPECT_TRUE(NaturalLess(u"/dev/ttyS2"_qs, u"/dev/ttyS10"_qs));
    EXPECT_FALSE(NaturalLess(u"/dev/ttyS10"_qs, u"/dev/ttyS2"_qs));
    EXPECT_TRUE(NaturalLess(u"/dev/ttyS9"_qs, u"/dev/ttyUSB0"_qs));
    EXPECT_TRUE(NaturalLess(u"COM1"_qs, u"COM1a"_qs));
    EXPECT_TRUE(NaturalLess(u"a007b"_qs, u"a8b"_qs));
    EXPECT_FALSE(NaturalLess(u"same"_qs, u"same"_qs));
}

} // namespace
