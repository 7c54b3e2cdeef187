// A device the operator's user may not open: the advice under the port
// message, from the device's own mode and group, tried by a child process
// that has become nobody on a pseudo-terminal's device.
#include "link/device_access.h"
#include "link/link_messages.h"
#include "link/serial_port.h"
#include "unprivileged.h"

#include <QFile>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A pseudo-terminal whose device stands in for a serial adapter.
class CPty {
public:
    CPty()
    {
        m_fdMaster = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (m_fdMaster >= 0 && ::grantpt(m_fdMaster) == 0 && ::unlockpt(m_fdMaster) == 0)
            m_strDevice = QString::fromLocal8Bit(::ptsname(m_fdMaster));
    }
    ~CPty()
    {
        if (m_fdMaster >= 0)
            ::close(m_fdMaster);
    }
    CPty(const CPty &) = delete;
    CPty &operator=(const CPty &) = delete;

    const QString &Device() const { return m_strDevice; }
    bool SetAccess(mode_t mode, gid_t gid) const
    {
        const QByteArray path = QFile::encodeName(m_strDevice);
        return ::chown(path.constData(), 0, gid) == 0 && ::chmod(path.constData(), mode) == 0;
    }

private:
    int m_fdMaster = -1;
    QString m_strDevice;
};

// What nobody gets for the device: the advice, then the serial port's own
// open and the advice it keeps, one per line.
QStringList AsNobody(const QString &strDevice)
{
    const SNobodyRun run = RunAsNobody([&] {
        CSerialPort port;
        const int nOpened = port.Open(strDevice, 9600);
        return (LinkText::PortAdvice(DeviceAccessProblem(strDevice)) + u'\n' + QString::number(nOpened) + u'\n'
                + LinkText::PortAdvice(port.OpenProblem()))
            .toUtf8();
    });
    EXPECT_TRUE(run.bRan);
    return QString::fromUtf8(run.out).split(u'\n');
}

// The gid of a group by its name, or -1 when the system has none of that name.
gid_t GroupId(const char *pName)
{
    const group *pGroup = ::getgrnam(pName);
    return pGroup ? pGroup->gr_gid : gid_t(-1);
}

TEST(DeviceAccess, AdviceNamesTheGroupThatMayUseTheDevice)
{
    if (!CanActAsNobody())
        GTEST_SKIP() << "needs root to act as nobody";
    const gid_t dialout = GroupId("dialout");
    const gid_t uucp = GroupId("uucp");
    const gid_t disk = GroupId("disk");
    if (dialout == gid_t(-1) || uucp == gid_t(-1) || disk == gid_t(-1))
        GTEST_SKIP() << "no dialout, uucp or disk group here";
    gid_t unnamed = 4242;
    while (::getgrgid(unnamed))
        ++unnamed;

    CPty pty;
    ASSERT_FALSE(pty.Device().isEmpty());
    const QString strDevice = pty.Device();
    const QString strJoin = LinkText::NoRightToDevice(strDevice, QStringLiteral("dialout"));
    const QString strNoRight = LinkText::NoRightToDevice(strDevice);
    const struct {
        const char *pName;
        mode_t mode;
        gid_t gid;
        QString strHint; // empty: nobody may open the device
    } cases[] = {
        {"the group may read and write", 0660, dialout, strJoin},
        {"the other group kept for serial ports", 0660, uucp, LinkText::NoRightToDevice(strDevice, u"uucp"_qs)},
        // Joining any of these would give far more than a serial port.
        {"the group of disks", 0660, disk, strNoRight},
        {"root's group", 0660, 0, strNoRight},
        {"a group without a name", 0660, unnamed, strNoRight},
        {"the group may only read: joining would not help", 0640, dialout, strNoRight},
        {"only the owner", 0600, 0, strNoRight},
        {"everyone may", 0666, dialout, QString()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        ASSERT_TRUE(pty.SetAccess(c.mode, c.gid));
        const QString strOpened = c.strHint.isEmpty() ? u"1"_qs : u"0"_qs;
        EXPECT_EQ(AsNobody(strDevice), (QStringList{c.strHint, strOpened, c.strHint}));
    }
    EXPECT_EQ(strJoin, QStringLiteral("Нет прав на устройство ") + strDevice
                           + QStringLiteral(" (группа dialout). Добавьте пользователя в группу: "
                                            "sudo usermod -aG dialout $USER, затем войдите в систему заново."));
}

TEST(DeviceAccess, NoAdviceWhenTheDeviceIsMissingOrMayBeUsed)
{
    EXPECT_EQ(DeviceAccessProblem(QStringLiteral("/dev/varik-no-such-port")), SPortProblem());
    CPty pty;
    ASSERT_FALSE(pty.Device().isEmpty());
    EXPECT_EQ(DeviceAccessProblem(pty.Device()), SPortProblem()); // its owner may
    CSerialPort port;
    EXPECT_FALSE(port.Open(QStringLiteral("/dev/varik-no-such-port"), 9600));
    EXPECT_EQ(port.OpenProblem(), SPortProblem());
}

} // namespace
