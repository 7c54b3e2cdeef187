#include "file_output.h"

#include <QFile>
#include <QSaveFile>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A reader that leaves a FIFO before the end must not end the whole program
// with SIGPIPE: while this lives the signal is held for this thread, and one
// that the write raised is taken back, so the write just fails with EPIPE.
class CSigpipeHeld {
public:
    CSigpipeHeld()
    {
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        m_bWasPending = IsPending();
        pthread_sigmask(SIG_BLOCK, &m_pipe, &m_old);
    }
    ~CSigpipeHeld()
    {
        if (!m_bWasPending && IsPending()) {
            const timespec noWait{};
            while (sigtimedwait(&m_pipe, nullptr, &noWait) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
    }
    CSigpipeHeld(const CSigpipeHeld &) = delete;
    CSigpipeHeld &operator=(const CSigpipeHeld &) = delete;

private:
    static bool IsPending()
    {
        sigset_t pending;
        sigemptyset(&pending);
        return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    }

    sigset_t m_pipe;
    sigset_t m_old;
    bool m_bWasPending = false;
};

// Opens the name as open() does, symbolic links followed, and writes every
// byte into what it finds there: no temporary file, no rename. Opening a
// FIFO waits until a reader opens it, as a shell's "> fifo" does. A write
// that stops short (a full disk, a reader gone) is a failure.
EFileResult WriteInPlace(const QString &strPath, const QByteArray &bytes, int nFlags)
{
    if (strPath.isEmpty())
        return EFileResult::OpenFailed;
    const CSigpipeHeld held;
    const QByteArray name = QFile::encodeName(strPath);
    int fd;
    do {
        fd = ::open(name.constData(), O_WRONLY | O_CLOEXEC | O_NOCTTY | nFlags);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return EFileResult::OpenFailed;

    bool bWritten = true;
    for (qsizetype nDone = 0; nDone < bytes.size() && bWritten;) {
        const ssize_t n = ::write(fd, bytes.constData() + nDone, size_t(bytes.size() - nDone));
        if (n > 0)
            nDone += n;
        else if (n == 0 || errno != EINTR)
            bWritten = false;
    }
    // Linux frees the descriptor even when close() reports an error, so it
    // is never retried; the error (a deferred write on a network file
    // system) still counts.
    bWritten = ::close(fd) == 0 && bWritten;
    return bWritten ? EFileResult::Ok : EFileResult::WriteFailed;
}

EFileResult ReplaceRegularFile(const QString &strPath, const QByteArray &bytes)
{
    // QSaveFile follows a symbolic link and renames onto its target, so the
    // link stays; a dangling link gets its target created, as open() with
    // O_CREAT would create it.
    QSaveFile file(strPath);
    // An existing file in a folder that takes no temporary file (no write
    // right there) is written in place rather than not at all; such a write
    // cut short leaves the file cut short, as any in-place write does.
    file.setDirectWriteFallback(true);
    // Unbuffered, so that a full disk shows in the count written: a buffered
    // write that stops short on commit goes unnoticed and would replace the
    // earlier file with a truncated one.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return EFileResult::OpenFailed;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        file.commit(); // removes the temporary file
        return EFileResult::WriteFailed;
    }
    return file.commit() ? EFileResult::Ok : EFileResult::WriteFailed;
}

} // namespace

EFileResult ReplaceFile(const QString &strPath, const QByteArray &bytes)
{
    if (strPath.isEmpty())
        return EFileResult::OpenFailed;
    // stat() reads the inode, following links, and never opens the file, so
    // a FIFO with no reader cannot hold it up.
    const QByteArray name = QFile::encodeName(strPath);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0) {
        // A new name (or a dangling link) is created; anything else, such as
        // a loop of links or a folder that cannot be searched, fails as the
        // open would.
        return errno == ENOENT ? ReplaceRegularFile(strPath, bytes) : EFileResult::OpenFailed;
    }
    if (S_ISREG(st.st_mode))
        return ReplaceRegularFile(strPath, bytes);
    if (S_ISDIR(st.st_mode))
        return EFileResult::OpenFailed;
    // A FIFO, a device or a socket (which open() refuses) is what the name
    // stands for: putting a regular file in its place would lose it.
    return WriteInPlace(strPath, bytes, 0);
}

EFileResult AppendToExistingFile(const QString &strPath, const QByteArray &bytes)
{
    // O_APPEND follows links and suits a FIFO or a device as well; QFile's
    // append mode seeks to the end and warns on every FIFO.
    return WriteInPlace(strPath, bytes, O_APPEND);
}
