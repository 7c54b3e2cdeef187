#include "service/regular_file.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct SFileTypeName {
    mode_t nType;
    const char *pName;
};
constexpr SFileTypeName kFileTypeNames[] = {
    {S_IFIFO, "a FIFO"},       {S_IFDIR, "a directory"}, {S_IFCHR, "a character device"},
    {S_IFBLK, "a block device"}, {S_IFSOCK, "a socket"},
};

SFileRead SystemFault()
{
    SFileRead read;
    read.eFault = EFileFault::System;
    read.nErrno = errno;
    return read;
}

SFileRead NotRegular(mode_t nMode)
{
    SFileRead read;
    read.eFault = EFileFault::NotRegular;
    read.nType = nMode & S_IFMT;
    return read;
}

// Reads up to nMaxBytes (all when negative) from fd into bytes.
bool ReadUpTo(int fd, qint64 nMaxBytes, QByteArray &bytes)
{
    char buffer[65536];
    while (nMaxBytes < 0 || bytes.size() < nMaxBytes) {
        const qint64 nWant = nMaxBytes < 0 ? qint64(sizeof buffer)
                                           : std::min<qint64>(qint64(sizeof buffer), nMaxBytes - bytes.size());
        const ssize_t nRead = ::read(fd, buffer, size_t(nWant));
        if (nRead < 0 && errno == EINTR)
            continue;
        if (nRead < 0)
            return false;
        if (nRead == 0)
            break;
        bytes.append(buffer, qsizetype(nRead));
    }
    return true;
}

} // namespace

// The kind is looked at before the open, so that a device is never opened,
// and again on what was opened, in case the name was replaced in between;
// O_NONBLOCK keeps even that open from waiting.
SFileRead ReadRegularFile(const QString &strPath, qint64 nMaxBytes)
{
    const QByteArray path = QFile::encodeName(strPath);
    struct stat named {};
    if (::stat(path.constData(), &named) != 0)
        return SystemFault();
    if (!S_ISREG(named.st_mode))
        return NotRegular(named.st_mode);
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return SystemFault();
    SFileRead read;
    struct stat opened {};
    if (::fstat(fd, &opened) != 0) {
        read = SystemFault();
    } else if (!S_ISREG(opened.st_mode)) {
        read = NotRegular(opened.st_mode);
    } else {
        read.nMode = opened.st_mode & 07777;
        if (nMaxBytes != 0 && !ReadUpTo(fd, nMaxBytes, read.bytes))
            read = SystemFault();
    }
    ::close(fd);
    return read;
}

QString FileFaultText(const SFileRead &read)
{
    switch (read.eFault) {
    case EFileFault::None: break;
    case EFileFault::System: return qt_error_string(read.nErrno);
    case EFileFault::NotRegular:
        for (const SFileTypeName &type : kFileTypeNames)
            if (type.nType == read.nType)
                return QStringLiteral("it is %1, not a regular file").arg(QLatin1String(type.pName));
        return QStringLiteral("it is not a regular file");
    }
    return QString();
}
