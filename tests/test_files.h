// Files as the tests see them: whole contents, kinds of names, paths as the
// system takes them. One place, so every test reads a file the same way.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <sys/stat.h>

namespace TestFiles {

inline QByteArray Native(const QString &strPath)
{
    return QFile::encodeName(strPath);
}

// The whole file; "<missing>" when it cannot be read, which no test writes.
inline QByteArray FileBytes(const QString &strPath)
{
    QFile file(strPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Replaces the file with bytes; false when it could not be written whole.
[[nodiscard]] inline bool PutFile(const QString &strPath, const QByteArray &bytes)
{
    QFile file(strPath);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size()
           && file.flush();
}

// The kind of the name itself (S_IFLNK for a link), 0 when it is missing.
inline mode_t Kind(const QString &strPath)
{
    struct stat st {};
    return ::lstat(Native(strPath).constData(), &st) == 0 ? st.st_mode & S_IFMT : 0;
}

} // namespace TestFiles
