#include "link/device_access.h"

#include <QFile>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fcntl.h>
#include <vector>

namespace {

// The group's name, or an empty text when the system has no name for it.
QByteArray GroupName(gid_t gid)
{
    long nSize = ::sysconf(_SC_GETGR_R_SIZE_MAX);
    std::vector<char> buffer(nSize > 0 ? size_t(nSize) : 4096u);
    group entry {};
    group *pFound = nullptr;
    while (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &pFound) == ERANGE)
        buffer.resize(buffer.size() * 2);
    return pFound ? QByteArray(pFound->gr_name) : QByteArray();
}

// Only the groups the system keeps for serial ports are worth joining: a
// device that belongs to disk, root or a group of some program would give
// the operator far more than a port, and advice to join it would be wrong.
bool IsSerialPortGroup(const QByteArray &name)
{
    return name == "dialout" || name == "uucp";
}

} // namespace

SPortProblem DeviceAccessProblem(const QString &strDevice)
{
    const QByteArray path = QFile::encodeName(strDevice);
    // The effective ids decide, as they do for the open itself.
    if (::faccessat(AT_FDCWD, path.constData(), R_OK | W_OK, AT_EACCESS) == 0)
        return {};
    if (errno != EACCES && errno != EPERM)
        return {};
    struct stat info {};
    if (::stat(path.constData(), &info) != 0)
        return {};
    // Joining a group the device's mode keeps out would not help either.
    const QByteArray group = GroupName(info.st_gid);
    if ((info.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP) || !IsSerialPortGroup(group))
        return {EPortProblem::NoRight, strDevice, QString()};
    return {EPortProblem::JoinGroup, strDevice, QString::fromLatin1(group)};
}
