#include "files/csv_log_file.h"

#include "data/csv_log.h"
#include "files/descriptor_io.h"
#include "files/file_text.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
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

// A regular file is opened for reading as well, so that its last row can be
// looked at; a FIFO or a device for writing alone, as a shell's ">>" opens
// it (a FIFO opened for reading too would neither wait for its reader nor
// see it leave). A file this user may write but not read is appended to
// unread.
int OpenLog(const QByteArray &name, bool *pReadable)
{
    struct stat st {};
    if (::stat(name.constData(), &st) == 0 && S_ISREG(st.st_mode)) {
        const int fd = OpenForWriting(name, O_APPEND | O_CREAT, true);
        *pReadable = fd >= 0;
        if (fd >= 0 || errno != EACCES)
            return fd;
    }
    *pReadable = false;
    return OpenForWriting(name, O_APPEND | O_CREAT);
}

int TruncateTo(int fd, off_t nSize)
{
    while (::ftruncate(fd, nSize) != 0) {
        if (errno != EINTR)
            return errno;
    }
    return 0;
}

// Where a regular file's last whole line ends: just after its last line
// feed, 0 when it has none. Read backwards in blocks, so that a long log
// costs no more than its last row. -1 with errno set when a read fails.
off_t EndOfLastLine(int fd, off_t nSize)
{
    char buffer[64 * 1024];
    for (off_t nEnd = nSize; nEnd > 0;) {
        const off_t nStart = nEnd > off_t(sizeof buffer) ? nEnd - off_t(sizeof buffer) : 0;
        const ssize_t n = ::pread(fd, buffer, size_t(nEnd - nStart), nStart);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return -1;
        }
        for (ssize_t i = n; i > 0; --i) {
            if (buffer[i - 1] == '\n')
                return nStart + i;
        }
        nEnd = nStart;
    }
    return 0;
}

} // namespace

CCsvLogFile::~CCsvLogFile()
{
    Close();
}

EFileResult CCsvLogFile::Open(const QString &strPath, EDataSet set)
{
    Close();
    m_nErrno = 0;
    m_nCut = 0;
    m_bOtherHeader = false;
    m_eSet = set;
    if (strPath.isEmpty()) {
        m_nErrno = ENOENT;
        return EFileResult::OpenFailed;
    }
    {
        const CSigpipeHeld held;
        m_fd = OpenLog(QFile::encodeName(strPath), &m_bReadable);
    }
    struct stat st {};
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0) {
        Fail(errno);
        return EFileResult::OpenFailed;
    }
    m_bRegular = S_ISREG(st.st_mode);
    m_bSyncs = m_bRegular || S_ISBLK(st.st_mode);
    const QByteArray header = CsvHeader(set);
    if (m_bRegular && st.st_size > 0) {
        if (!HasHeader(header, st.st_size) || !CutTornRow(st.st_size))
            return EFileResult::OpenFailed;
        if (st.st_size > m_nCut)
            return EFileResult::Ok;
    }
    if (!Write(header))
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
    if (m_bOtherHeader)
        return FileText::CsvOtherHeader(m_eSet);
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
    // Should the part of the row that went in stay (the cut failed too), the
    // next Open takes it out before it appends.
    if (nEnd >= 0)
        TruncateTo(m_fd, nEnd);
    Fail(nError);
    return false;
}

bool CCsvLogFile::HasHeader(const QByteArray &header, off_t nSize)
{
    // Rows of one set under another's header (or under any other first
    // line) would be columns that mean something else. A torn first line
    // alone, the header cut short, is still this log's.
    if (!m_bReadable)
        return true;
    QByteArray start(qsizetype(std::min<off_t>(nSize, off_t(header.size()))), '\0');
    for (qsizetype nDone = 0; nDone < start.size();) {
        const ssize_t n = ::pread(m_fd, start.data() + nDone, size_t(start.size() - nDone), off_t(nDone));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            Fail(n == 0 ? EIO : errno);
            return false;
        }
        nDone += n;
    }
    if (header.startsWith(start))
        return true;
    Fail(0);
    m_bOtherHeader = true;
    return false;
}

bool CCsvLogFile::CutTornRow(off_t nSize)
{
    // A power cut, or a failed cut back, mid-row leaves the file ending
    // without a line feed; a row appended after that would be glued onto the
    // torn one, a line with too many fields that strict readers refuse.
    if (!m_bReadable)
        return true;
    const off_t nWhole = EndOfLastLine(m_fd, nSize);
    int nError = nWhole < 0 ? errno : 0;
    if (nError == 0 && nWhole < nSize)
        nError = TruncateTo(m_fd, nWhole);
    if (nError != 0) {
        Fail(nError);
        return false;
    }
    m_nCut = qint64(nSize - nWhole);
    return true;
}

void CCsvLogFile::Fail(int nErrno)
{
    Close();
    m_nErrno = nErrno;
}
