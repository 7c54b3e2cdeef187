#include "files/file_output.h"

#include "files/descriptor_io.h"

#include <QFile>
#include <QSaveFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Opens the name as open() does, symbolic links followed, and writes every
// byte into what it finds there: no temporary file, no rename. Opening a
// FIFO waits until a reader opens it, as a shell's "> fifo" does. A write
// that stops short (a full disk, a reader gone) is a failure.
EFileResult WriteInPlace(const QString &strPath, const QByteArray &bytes, int nFlags)
{
    if (strPath.isEmpty())
        return EFileResult::OpenFailed;
    const CSigpipeHeld held;
    const int fd = OpenForWriting(QFile::encodeName(strPath), nFlags);
    if (fd < 0)
        return EFileResult::OpenFailed;

    bool bWritten = WriteAll(fd, bytes) == 0;
    // Linux frees the descriptor even when close() reports an error, so it
    // is never retried; the error (a deferred write on a network file
    // system) still counts.
    bWritten = ::close(fd) == 0 && bWritten;
    return bWritten ? EFileResult::Ok : EFileResult::WriteFailed;
}

// Gives the temporary file the owner and group of the file it replaces, as
// the file itself would keep them: saving as root over a user's file must
// leave it the user's. Only root may give a file away (and a user only to a
// group of the user's own), so false when the kernel refuses.
bool TakeOwnerOf(int fd, const struct stat &existing)
{
    struct stat own {};
    if (::fstat(fd, &own) != 0)
        return false;
    if (own.st_uid == existing.st_uid && own.st_gid == existing.st_gid)
        return true;
    return ::fchown(fd, existing.st_uid, existing.st_gid) == 0;
}

// pExisting: the file the name stands for now, nullptr for a new name.
EFileResult ReplaceRegularFile(const QString &strPath, const QByteArray &bytes, const struct stat *pExisting)
{
    // QSaveFile follows a symbolic link and renames onto its target, so the
    // link stays; a dangling link gets its target created, as open() with
    // O_CREAT would create it. The mode of an existing file is kept.
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
    if (pExisting && !TakeOwnerOf(int(file.handle()), *pExisting)) {
        // A file of another owner that this user may write is written in
        // place, which keeps its owner; one it may not write stays as it is.
        file.cancelWriting();
        file.commit(); // removes the temporary file
        return WriteInPlace(strPath, bytes, O_TRUNC);
    }
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
        return errno == ENOENT ? ReplaceRegularFile(strPath, bytes, nullptr) : EFileResult::OpenFailed;
    }
    if (S_ISREG(st.st_mode))
        return ReplaceRegularFile(strPath, bytes, &st);
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
