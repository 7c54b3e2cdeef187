#include "csv_log_file.h"

#include "csv_log.h"
#include "descriptor_io.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A new file's name is only safe from a power cut once its folder is on the
// disk too. Best effort: a folder that cannot be opened leaves the rows'
// own flushing as it is.
void SyncFolderOf(const QString &strPath)
{
    const QString strFile = QFileInfo(strPath).canonicalFilePath();
    if (strFile.isEmpty())
        return;
    const QByteArray folder = QFile::encodeName(QFileInfo(strFile).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

CCsvLogFile::~CCsvLogFile()
{
    Close();
}

EFileResult CCsvLogFile::Open(const QString &strPath)
{
    Close();
    m_nErrno = 0;
    if (strPath.isEmpty()) {
        m_nErrno = ENOENT;
        return EFileResult::OpenFailed;
    }
    {
        const CSigpipeHeld held;
        m_fd = OpenForWriting(QFile::encodeName(strPath), O_APPEND | O_CREAT);
    }
    struct stat st {};
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0) {
        Fail(errno);
        return EFileResult::OpenFailed;
    }
    m_bRegular = S_ISREG(st.st_mode);
    m_bSyncs = m_bRegular || S_ISBLK(st.st_mode);
    if (m_bRegular && st.st_size > 0)
        return EFileResult::Ok;
    if (!Write(CsvHeader()))
        return EFileResult::WriteFailed;
    if (m_bRegular)
        SyncFolderOf(strPath);
    return EFileResult::Ok;
}

EFileResult CCsvLogFile::Append(const QByteArray &row)
{
    if (m_fd < 0)
        return EFileResult::WriteFailed;
    return Write(row) ? EFileResult::Ok : EFileResult::WriteFailed;
}

void CCsvLogFile::Close()
{
    if (m_fd < 0)
        return;
    // Every row is on the disk already, so an error of close() loses nothing.
    ::close(m_fd);
    m_fd = -1;
}

QString CCsvLogFile::ErrorText() const
{
    return m_nErrno == 0 ? QString() : qt_error_string(m_nErrno);
}

bool CCsvLogFile::Write(const QByteArray &bytes)
{
    const off_t nEnd = m_bRegular ? ::lseek(m_fd, 0, SEEK_END) : off_t(-1);
    int nError;
    {
        const CSigpipeHeld held;
        nError = WriteAll(m_fd, bytes);
    }
    if (nError == 0 && m_bSyncs && ::fdatasync(m_fd) != 0)
        nError = errno;
    if (nError == 0)
        return true;
    if (nEnd >= 0)
        (void)!::ftruncate(m_fd, nEnd);
    Fail(nError);
    return false;
}

void CCsvLogFile::Fail(int nErrno)
{
    Close();
    m_nErrno = nErrno;
}
