// Files as the tests see them: whole contents, kinds of names, paths as the
// system takes them. One place, so every test reads a file the same way.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <csignal>
#include <sys/resource.h>
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

// A disk that is full past nBytes of any file, as the file size limit makes
// it: a write beyond fails with EFBIG (the signal it would raise is ignored)
// until Lift, or the end of the scope.
class CFileSizeLimit {
public:
    explicit CFileSizeLimit(rlim_t nBytes) : m_oldHandler(std::signal(SIGXFSZ, SIG_IGN))
    {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit small = m_old;
        small.rlim_cur = nBytes;
        ::setrlimit(RLIMIT_FSIZE, &small);
    }
    ~CFileSizeLimit() { Lift(); }
    CFileSizeLimit(const CFileSizeLimit &) = delete;
    CFileSizeLimit &operator=(const CFileSizeLimit &) = delete;

    void Lift()
    {
        if (m_bLifted)
            return;
        m_bLifted = true;
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    void (*m_oldHandler)(int);
    rlimit m_old{};
    bool m_bLifted = false;
};

} // namespace TestFiles
