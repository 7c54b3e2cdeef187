// Opening the outbox: what an earlier run left in the folder becomes the
// queue again. The layout is in outbox_format.h.
//
// The position names the first message not yet delivered; segments
// numbered below it were delivered (deleting them is what Ack does, so one
// left behind by a crash goes on the next Open). The position is written in
// the same group commit as the data, so after a crash it may lag: what was
// delivered since is delivered again (at least once, which MQTT's QoS 1
// already allows). When no position checks (a lost or corrupt file) the
// outbox starts at the oldest segment, for the same reason.
//
// A segment that cannot be read (a descriptor short, a disk error) is not
// delivered and must not pass for delivered either: it is renamed to its
// held name, out of the position's reach, and the rest goes on. The next Open
// that can read it appends its undelivered records as new messages, after
// what waits, and deletes it; a crash between the two delivers them twice.
//
// A record that does not check (torn by a power cut, a byte gone bad) is
// never delivered: reading resumes at the next mark whose record checks, so
// the damage costs that record and not what follows. Open never appends to a
// segment of an earlier run: the first Push starts a new one.
#include "files/outbox_queue.h"

#include "files/descriptor_io.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

using namespace OutboxFormat;
using OutboxQueue::SSegment;

namespace {

// The regular files of the folder (links and folders are not the outbox's);
// false, with errno, when it cannot be listed whole.
bool ListFiles(int fdFolder, QStringList *pNames)
{
    const int fd = ::openat(fdFolder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    DIR *pDir = ::fdopendir(fd);
    if (!pDir) {
        const int nErrno = errno;
        ::close(fd);
        errno = nErrno;
        return false;
    }
    errno = 0;
    while (const dirent *pEntry = ::readdir(pDir)) {
        bool bFile = pEntry->d_type == DT_REG;
        if (pEntry->d_type == DT_UNKNOWN) {
            struct stat st {};
            bFile = ::fstatat(::dirfd(pDir), pEntry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
        }
        if (bFile)
            pNames->append(QFile::decodeName(pEntry->d_name));
        errno = 0;
    }
    const int nErrno = errno;
    ::closedir(pDir);
    errno = nErrno;
    return nErrno == 0;
}

// The outbox's own files among a folder's names, each kind in the order it
// was written: segments by number, held segments by number too.
struct SFolderNames {
    std::vector<quint64> segments;
    std::vector<std::tuple<quint64, QString, qint64>> held; // number, name, first offset
    quint64 nHighest = 0;                                   // of segments and held alike
};

SFolderNames SortNames(const QStringList &names)
{
    SFolderNames found;
    for (const QString &strName : names) {
        if (const std::optional<quint64> nNumber = ParseOutboxSegmentName(strName)) {
            found.segments.push_back(*nNumber);
        } else if (const std::optional<SOutboxHeldName> held = ParseOutboxHeldName(strName)) {
            found.held.emplace_back(held->nNumber, strName, held->nFrom);
        }
    }
    std::sort(found.segments.begin(), found.segments.end());
    std::sort(found.held.begin(), found.held.end());
    found.nHighest = found.segments.empty() ? 0 : found.segments.back();
    for (const auto &held : found.held)
        found.nHighest = std::max(found.nHighest, std::get<0>(held));
    return found;
}

} // namespace

bool COutbox::SImpl::Open(const QString &strPath, qint64 nMax)
{
    if (nMax <= 0)
        return Fail(QStringLiteral("the outbox has no room"));
    strFolder = QDir::cleanPath(strPath);
    nMaxBytes = nMax;
    nSegmentTarget = std::clamp(nMax / 8, OutboxQueue::MIN_SEGMENT, OutboxQueue::MAX_SEGMENT);

    QStringList names;
    if (!OpenFolder(&names))
        return false;
    const std::optional<SOutboxPosition> position = ReadPosition();
    const SFolderNames found = SortNames(names);
    if (!LoadSegments(found.segments, position))
        return false;
    nNextNumber = std::max(found.nHighest, position ? position->nSegment : 0) + 1;
    PassDelivered();
    for (const auto &[nNumber, strName, nFrom] : found.held) // in the order they were written
        TakeBackHeld(strName, nFrom);
    bPositionDirty = true;
    Sync();
    strError.clear();
    return true;
}

// Opens the folder (making it when missing) and the position file, and
// lists the folder; false, closed as before, when one fails.
bool COutbox::SImpl::OpenFolder(QStringList *pNames)
{
    QDir().mkpath(strFolder); // when it fails, opening the folder says why
    do {
        fdFolder = ::open(QFile::encodeName(strFolder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fdFolder < 0 && errno == EINTR);
    if (fdFolder < 0)
        return Fail(errno, strFolder);
    // Listed before anything is written: a position worked out from a list
    // cut short would pass over segments that wait.
    if (!ListFiles(fdFolder, pNames))
        return Abandon(errno, strFolder);
    fdPosition = OpenForWriting(QFile::encodeName(PositionPath()), O_CREAT, true);
    if (fdPosition < 0)
        return Abandon(errno, PositionPath());
    return true;
}

// The segments found, in order, become the queue; the position says where
// in them delivery stopped. False, closed as before, when a segment that
// cannot be read cannot be set aside either.
bool COutbox::SImpl::LoadSegments(const std::vector<quint64> &numbers, const std::optional<SOutboxPosition> &position)
{
    const quint64 nFirstWaiting = position ? position->nSegment : 0;
    for (const quint64 nNumber : numbers) {
        if (nNumber < nFirstWaiting) {
            // Delivered: the run that acknowledged it stopped before deleting it.
            ::unlink(QFile::encodeName(SegmentPath(nNumber)).constData());
            bFolderDirty = true;
            continue;
        }
        qint64 nOrdinal = 0;
        qint64 nHeadAt = SEGMENT_HEADER;
        const qint64 nDeliveredBefore = position && nNumber == nFirstWaiting ? position->nOffset : 0;
        SSegment segment;
        if (!ScanSegment(nNumber, nDeliveredBefore, &segment, &nOrdinal, &nHeadAt)) {
            if (errno == ENOENT)
                continue; // gone since the listing
            if (!SetAside(nNumber, std::max(nDeliveredBefore, SEGMENT_HEADER), errno))
                return Abandon(errno, SegmentPath(nNumber));
            continue;
        }
        if (segments.empty()) {
            nHeadOrdinal = nOrdinal;
            nHeadOffset = nHeadAt;
        }
        segments.push_back(segment);
        nBytes += segment.nBytes;
        nCount += segment.nRecords - nOrdinal; // only the first has delivered records
    }
    return true;
}

void COutbox::SImpl::Close()
{
    if (IsOpen())
        Sync();
    Forget();
}

// Back to closed, nothing synced.
void COutbox::SImpl::Forget()
{
    reader.Close();
    nReaderSegment = 0;
    CloseDescriptor(fdTail);
    CloseDescriptor(fdPosition);
    CloseDescriptor(fdFolder);
    segments.clear();
    peekEnds.clear();
    nHeadOffset = SEGMENT_HEADER;
    nHeadOrdinal = nHeadIndex = nPeekStart = 0;
    nCount = nBytes = nDropped = 0;
    nPositionSequence = 0;
    nNextNumber = 1;
    bDataDirty = bFolderDirty = bPositionDirty = false;
}

// An Open that cannot go on: closed as it was, the reason kept.
bool COutbox::SImpl::Abandon(int nErrno, const QString &strPath)
{
    Forget();
    return Fail(nErrno, strPath);
}

std::optional<SOutboxPosition> COutbox::SImpl::ReadPosition()
{
    QByteArray bytes(POSITION_SLOTS * POSITION_SLOT, '\0');
    ssize_t nRead;
    do {
        nRead = ::pread(fdPosition, bytes.data(), size_t(bytes.size()), 0);
    } while (nRead < 0 && errno == EINTR);
    bytes.resize(std::max<ssize_t>(nRead, 0));
    const std::optional<SOutboxPosition> position = DecodeOutboxPosition(bytes);
    nPositionSequence = position ? position->nSequence : 0;
    return position;
}

// Counts the whole records of a segment found on Open. Those that start
// before nDeliveredBefore were delivered: *pOrdinal counts them, and
// *pHeadOffset is where the first one after them starts. False, with errno,
// when the segment cannot be read.
bool COutbox::SImpl::ScanSegment(quint64 nNumber, qint64 nDeliveredBefore, SSegment *pSegment, qint64 *pOrdinal,
                                 qint64 *pHeadOffset)
{
    *pSegment = {nNumber, 0, 0};
    const QString strPath = SegmentPath(nNumber);
    struct stat st {};
    if (::stat(QFile::encodeName(strPath).constData(), &st) != 0)
        return false;
    pSegment->nBytes = st.st_size;
    COutboxSegmentReader scan;
    if (!scan.Open(strPath, pSegment->nBytes))
        return false;
    // The header is not relied on: every record checks by itself, so a bad
    // byte there costs nothing, and a file not ours yields no records.
    qint64 nOffset = SEGMENT_HEADER;
    qint64 nStart = 0;
    while (NextOutboxRecord(scan, nOffset, nullptr, &nStart)) {
        ++pSegment->nRecords;
        if (nStart < nDeliveredBefore) {
            ++*pOrdinal;
            *pHeadOffset = nOffset;
        }
    }
    errno = scan.Error();
    return errno == 0;
}

// Renames a segment that cannot be read to its held name, where no position
// reaches it, and notes it. False, with errno, when it cannot be renamed.
bool COutbox::SImpl::SetAside(quint64 nNumber, qint64 nFrom, int nErrno)
{
    const QString strHeld = HeldPath(nNumber, nFrom);
    if (::rename(QFile::encodeName(SegmentPath(nNumber)).constData(), QFile::encodeName(strHeld).constData()) != 0)
        return false;
    bFolderDirty = true;
    held.push_back({strHeld, qt_error_string(nErrno)});
    return true;
}


// A segment set aside earlier: when it can be read now, its records from
// nFrom on are pushed anew, behind what waits, and it goes once they are on
// the disk. Read whole first, so a read that fails copies nothing twice.
void COutbox::SImpl::TakeBackHeld(const QString &strName, qint64 nFrom)
{
    const QString strPath = strFolder + u'/' + strName;
    struct stat st {};
    COutboxSegmentReader scan;
    std::vector<SOutboxMessage> messages;
    bool bRead = ::stat(QFile::encodeName(strPath).constData(), &st) == 0 && scan.Open(strPath, st.st_size);
    if (bRead) {
        qint64 nOffset = std::max(nFrom, SEGMENT_HEADER);
        SOutboxMessage message;
        while (NextOutboxRecord(scan, nOffset, &message))
            messages.push_back(std::move(message));
        errno = scan.Error();
        bRead = errno == 0;
    }
    if (!bRead) {
        held.push_back({strPath, qt_error_string(errno)});
        return;
    }
    for (const SOutboxMessage &message : messages) {
        if (Append(message) != EOutboxResult::Ok) {
            held.push_back({strPath, strError});
            return;
        }
    }
    if (!Sync())
        return; // kept: taken back again at the next start
    ::unlink(QFile::encodeName(strPath).constData());
    bFolderDirty = true;
}
