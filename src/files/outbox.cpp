// The outbox on disk, in a folder of its own:
//
//   <16 hex digits>.seg  segments, numbered in the order they were started;
//                        each is "VARIKOB1" (naming the format) and then
//                        records, appended one write a record:
//                          F7 'V' 'K' 1E           the mark of a record
//                          u32 topic bytes, u32 payload bytes
//                          u32 CRC-32 of the two lengths, topic and payload
//                          topic, payload
//   position             two slots of 32 bytes, written in turn, so a torn
//                        write spoils only the slot being written:
//                          "VKPO", u64 sequence, u64 segment, u64 offset,
//                          u32 CRC-32 of the 28 bytes before it
//                        the slot of the higher sequence that checks wins.
//   <16 hex>-<16 hex>.held
//                        a segment set aside because it could not be read,
//                        and the offset its undelivered records start at.
//                        Older outboxes leave such names alone.
//
// All integers are little-endian. The position names the first message not
// yet delivered; segments numbered below it were delivered (deleting them is
// what Ack does, so one left behind by a crash goes on the next Open). The
// position is written in the same group commit as the data, so after a crash
// it may lag: what was delivered since is delivered again (at least once,
// which MQTT's QoS 1 already allows). When no position checks (a lost or
// corrupt file) the outbox starts at the oldest segment, for the same reason.
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
#include "files/outbox.h"

#include "files/descriptor_io.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using CClock = std::chrono::steady_clock;

constexpr char SEGMENT_MAGIC[] = "VARIKOB1";
constexpr qint64 SEGMENT_HEADER = 8;
// Not a byte of UTF-8 text (F7) and not printable (1E): JSON payloads never
// hold the mark, so searching for it after damage meets few false starts.
constexpr char RECORD_MARK[] = "\xF7VK\x1E";
constexpr qint64 RECORD_HEADER = 16;
constexpr qint64 MAX_TOPIC = 65535; // MQTT's own limit
// Far above any reading; it bounds what a damaged length can make a reader
// load.
constexpr qint64 MAX_PAYLOAD = 16 * 1024 * 1024;
// Dropping for the bound goes a whole segment at a time: an eighth of the
// bound loses little, and 4 MiB keeps the file count small for a large one.
constexpr qint64 MAX_SEGMENT = 4 * 1024 * 1024;
constexpr qint64 MIN_SEGMENT = 4096;
constexpr qint64 READ_CHUNK = 256 * 1024;
constexpr auto SYNC_EVERY = std::chrono::milliseconds(200);

constexpr char POSITION_FILE[] = "position";
constexpr char POSITION_MAGIC[] = "VKPO";
constexpr qint64 POSITION_SLOT = 32;

constexpr std::array<quint32, 256> MakeCrcTable()
{
    std::array<quint32, 256> table{};
    for (quint32 i = 0; i < 256; ++i) {
        quint32 c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}
constexpr std::array<quint32, 256> CRC_TABLE = MakeCrcTable();

// CRC-32 as zlib's crc32() counts it, continued from crc (0 to start).
quint32 Crc32(quint32 crc, const char *p, qint64 n)
{
    crc = ~crc;
    for (qint64 i = 0; i < n; ++i)
        crc = CRC_TABLE[(crc ^ quint8(p[i])) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

QByteArray EncodeRecord(const SOutboxMessage &message)
{
    const qint64 nTopic = message.topic.size();
    const qint64 nPayload = message.payload.size();
    QByteArray record(RECORD_HEADER + nTopic + nPayload, Qt::Uninitialized);
    char *p = record.data();
    std::memcpy(p, RECORD_MARK, 4);
    qToLittleEndian<quint32>(quint32(nTopic), p + 4);
    qToLittleEndian<quint32>(quint32(nPayload), p + 8);
    std::memcpy(p + RECORD_HEADER, message.topic.constData(), size_t(nTopic));
    std::memcpy(p + RECORD_HEADER + nTopic, message.payload.constData(), size_t(nPayload));
    const quint32 nCheck = Crc32(Crc32(0, p + 4, 8), p + RECORD_HEADER, nTopic + nPayload);
    qToLittleEndian<quint32>(nCheck, p + 12);
    return record;
}

int CloseFd(int &fd)
{
    int nResult = 0;
    if (fd >= 0)
        nResult = ::close(fd); // never retried: Linux frees it even on error
    fd = -1;
    return nResult;
}

// Reads a segment front to back through a buffer: records are a few KiB,
// and Open and Peek go through them in order.
class CSegmentReader {
public:
    CSegmentReader() = default;
    ~CSegmentReader() { Close(); }
    CSegmentReader(const CSegmentReader &) = delete;
    CSegmentReader &operator=(const CSegmentReader &) = delete;

    bool Open(const QString &strPath, qint64 nEnd)
    {
        Close();
        m_nErrno = 0;
        do {
            m_fd = ::open(QFile::encodeName(strPath).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
        } while (m_fd < 0 && errno == EINTR);
        m_nEnd = nEnd;
        return m_fd >= 0;
    }
    void Close()
    {
        CloseFd(m_fd);
        m_buffer.clear();
        m_nStart = 0;
    }
    // Bytes past the end are never read: the end of a segment being written
    // is what was written whole.
    void SetEnd(qint64 nEnd) { m_nEnd = nEnd; }
    qint64 End() const { return m_nEnd; }
    // The errno of a read that failed; after one, nothing more is read.
    int Error() const { return m_nErrno; }

    // The bytes [nOffset, nOffset + n); nullptr past the end or when the
    // read fails. Valid until the next call.
    const char *At(qint64 nOffset, qint64 n)
    {
        if (m_nErrno != 0 || nOffset < 0 || n < 0 || nOffset + n > m_nEnd)
            return nullptr;
        if (nOffset >= m_nStart && nOffset + n <= m_nStart + m_buffer.size())
            return m_buffer.constData() + (nOffset - m_nStart);
        const qint64 nLoad = std::min(std::max(n, READ_CHUNK), m_nEnd - nOffset);
        if (m_buffer.capacity() > 2 * std::max(nLoad, READ_CHUNK))
            m_buffer = QByteArray(); // one large record does not keep its room
        m_buffer.resize(nLoad);
        qint64 nDone = 0;
        while (nDone < nLoad) {
            const ssize_t nRead = ::pread(m_fd, m_buffer.data() + nDone, size_t(nLoad - nDone), nOffset + nDone);
            if (nRead > 0) {
                nDone += nRead;
            } else if (nRead == 0) {
                break;
            } else if (errno != EINTR) {
                m_nErrno = errno;
                break;
            }
        }
        m_buffer.resize(nDone);
        m_nStart = nOffset;
        return nDone >= n ? m_buffer.constData() : nullptr;
    }

private:
    int m_fd = -1;
    int m_nErrno = 0;
    qint64 m_nEnd = 0;
    QByteArray m_buffer;
    qint64 m_nStart = 0;
};

// The record at nOffset when it is whole and checks; *pEnd is where it ends.
bool ReadRecord(CSegmentReader &reader, qint64 nOffset, SOutboxMessage *pMessage, qint64 *pEnd)
{
    const char *pHead = reader.At(nOffset, RECORD_HEADER);
    if (!pHead || std::memcmp(pHead, RECORD_MARK, 4) != 0)
        return false;
    const qint64 nTopic = qFromLittleEndian<quint32>(pHead + 4);
    const qint64 nPayload = qFromLittleEndian<quint32>(pHead + 8);
    const quint32 nCheck = qFromLittleEndian<quint32>(pHead + 12);
    if (nTopic > MAX_TOPIC || nPayload > MAX_PAYLOAD)
        return false;
    const quint32 nLengthsCrc = Crc32(0, pHead + 4, 8); // before At moves the buffer
    const char *pBody = reader.At(nOffset + RECORD_HEADER, nTopic + nPayload);
    if (!pBody || Crc32(nLengthsCrc, pBody, nTopic + nPayload) != nCheck)
        return false;
    if (pMessage) {
        pMessage->topic = QByteArray(pBody, nTopic);
        pMessage->payload = QByteArray(pBody + nTopic, nPayload);
    }
    *pEnd = nOffset + RECORD_HEADER + nTopic + nPayload;
    return true;
}

// The first whole record at nOffset or after it: what does not check is
// passed over up to the next mark whose record does. nOffset moves to the
// record's end (to the reader's end when there is none); *pStart is where it
// starts.
bool NextRecord(CSegmentReader &reader, qint64 &nOffset, SOutboxMessage *pMessage, qint64 *pStart = nullptr)
{
    for (qint64 n = nOffset; n + RECORD_HEADER <= reader.End(); ++n) {
        const char *p = reader.At(n, 1);
        if (!p)
            break;
        qint64 nEnd = 0;
        if (*p == RECORD_MARK[0] && ReadRecord(reader, n, pMessage, &nEnd)) {
            if (pStart)
                *pStart = n;
            nOffset = nEnd;
            return true;
        }
    }
    nOffset = reader.End();
    return false;
}

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

struct SSegment {
    quint64 nNumber = 0;
    qint64 nBytes = 0;   // on disk; of the segment being written, what was written whole
    qint64 nRecords = 0; // whole records
};

struct SPosition {
    quint64 nSequence = 0;
    quint64 nSegment = 0;
    qint64 nOffset = 0;
};

// The slot of the newer position that checks; false when neither does.
bool ParsePosition(const QByteArray &bytes, SPosition *pPosition)
{
    bool bFound = false;
    for (qint64 nSlot = 0; (nSlot + 1) * POSITION_SLOT <= bytes.size(); ++nSlot) {
        const char *p = bytes.constData() + nSlot * POSITION_SLOT;
        if (std::memcmp(p, POSITION_MAGIC, 4) != 0 || qFromLittleEndian<quint32>(p + 28) != Crc32(0, p, 28))
            continue;
        const SPosition position{qFromLittleEndian<quint64>(p + 4), qFromLittleEndian<quint64>(p + 12),
                                 qint64(qFromLittleEndian<quint64>(p + 20))};
        if (!bFound || position.nSequence > pPosition->nSequence)
            *pPosition = position;
        bFound = true;
    }
    return bFound;
}

QByteArray PositionSlot(const SPosition &position)
{
    QByteArray slot(POSITION_SLOT, '\0');
    char *p = slot.data();
    std::memcpy(p, POSITION_MAGIC, 4);
    qToLittleEndian<quint64>(position.nSequence, p + 4);
    qToLittleEndian<quint64>(position.nSegment, p + 12);
    qToLittleEndian<quint64>(quint64(position.nOffset), p + 20);
    qToLittleEndian<quint32>(Crc32(0, p, 28), p + 28);
    return slot;
}

} // namespace

struct COutbox::SImpl {
    mutable std::mutex mutex;

    QString strFolder;
    qint64 nMaxBytes = 0;
    qint64 nSegmentTarget = MAX_SEGMENT;
    int fdFolder = -1;
    int fdPosition = -1;
    quint64 nPositionSequence = 0;

    std::deque<SSegment> segments; // oldest first; the first holds the head
    quint64 nNextNumber = 1;
    int fdTail = -1; // segments.back() while pushes append to it

    // The first message not delivered: its offset in segments.front(), and
    // the records of that segment before it.
    qint64 nHeadOffset = SEGMENT_HEADER;
    qint64 nHeadOrdinal = 0;
    qint64 nHeadIndex = 0; // messages delivered or dropped since Open

    qint64 nCount = 0;
    qint64 nBytes = 0;
    qint64 nDropped = 0;

    // Where each message of the last Peek ends, so Ack can move the head
    // there; nPeekStart is the head's index when Peek read them.
    struct SPeekEnd {
        quint64 nSegment;
        qint64 nOffset;
        qint64 nOrdinal;
    };
    qint64 nPeekStart = 0;
    std::vector<SPeekEnd> peekEnds;

    CSegmentReader reader;
    quint64 nReaderSegment = 0; // 0: none (segments count from 1)

    bool bDataDirty = false;
    bool bFolderDirty = false;
    bool bPositionDirty = false;
    CClock::time_point lastSync;

    QString strError;
    std::vector<SOutboxHeld> held; // set aside since the last TakeHeld

    bool IsOpen() const { return fdFolder >= 0; }
    bool IsTail(const SSegment &segment) const { return fdTail >= 0 && &segment == &segments.back(); }

    QString SegmentPath(quint64 nNumber) const
    {
        return strFolder + u'/' + QStringLiteral("%1.seg").arg(nNumber, 16, 16, QLatin1Char('0'));
    }
    QString PositionPath() const { return strFolder + u'/' + QLatin1String(POSITION_FILE); }
    QString HeldPath(quint64 nNumber, qint64 nFrom) const
    {
        return strFolder + u'/'
               + QStringLiteral("%1-%2.held").arg(nNumber, 16, 16, QLatin1Char('0')).arg(quint64(nFrom), 16, 16, QLatin1Char('0'));
    }

    bool Fail(int nErrno, const QString &strPath)
    {
        strError = strPath + QStringLiteral(": ") + qt_error_string(nErrno);
        return false;
    }
    bool Fail(const QString &strText)
    {
        strError = strText;
        return false;
    }
    EOutboxResult Refuse(const QString &strText)
    {
        strError = strText;
        return EOutboxResult::Failed;
    }
    EOutboxResult NotOpen() { return Refuse(QStringLiteral("the outbox is not open")); }

    bool Open(const QString &strPath, qint64 nMax);
    void Close();
    void Forget();
    bool Abandon(int nErrno, const QString &strPath);
    void ReadPosition(SPosition *pPosition, bool *pValid);
    bool ScanSegment(quint64 nNumber, qint64 nDeliveredBefore, SSegment *pSegment, qint64 *pOrdinal,
                     qint64 *pHeadOffset);
    bool SetAside(quint64 nNumber, qint64 nFrom, int nErrno);
    bool HoldSegment(std::size_t i, int nErrno);
    void TakeBackHeld(const QString &strName, qint64 nFrom);
    EOutboxResult Append(const SOutboxMessage &message);
    bool WritePosition();
    bool StartSegment();
    void SealTail();
    void UndoPartialWrite();
    void RemoveFront();
    void DropFront();
    void PassDelivered();
    CSegmentReader *ReaderFor(const SSegment &segment);
    bool Sync();
    void SyncIfDue();
};

bool COutbox::SImpl::Open(const QString &strPath, qint64 nMax)
{
    if (nMax <= 0)
        return Fail(QStringLiteral("the outbox has no room"));
    strFolder = QDir::cleanPath(strPath);
    nMaxBytes = nMax;
    nSegmentTarget = std::clamp(nMax / 8, MIN_SEGMENT, MAX_SEGMENT);

    QDir().mkpath(strFolder); // when it fails, opening the folder says why
    do {
        fdFolder = ::open(QFile::encodeName(strFolder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fdFolder < 0 && errno == EINTR);
    if (fdFolder < 0)
        return Fail(errno, strFolder);
    // Listed before anything is written: a position worked out from a list
    // cut short would pass over segments that wait.
    QStringList names;
    if (!ListFiles(fdFolder, &names))
        return Abandon(errno, strFolder);
    fdPosition = OpenForWriting(QFile::encodeName(PositionPath()), O_CREAT, true);
    if (fdPosition < 0)
        return Abandon(errno, PositionPath());

    SPosition position;
    bool bPositionValid = false;
    ReadPosition(&position, &bPositionValid);

    // Only names the outbox gives are its files: anything else in the folder
    // is left alone.
    static const QRegularExpression segmentName(QStringLiteral("^([0-9a-f]{16})\\.seg$"));
    static const QRegularExpression heldName(QStringLiteral("^([0-9a-f]{16})-([0-9a-f]{16})\\.held$"));
    std::vector<quint64> numbers;
    std::vector<std::pair<quint64, QString>> heldNames;
    quint64 nHighest = 0;
    for (const QString &strName : names) {
        if (const QRegularExpressionMatch match = segmentName.match(strName); match.hasMatch()) {
            numbers.push_back(match.captured(1).toULongLong(nullptr, 16));
        } else if (const QRegularExpressionMatch held = heldName.match(strName); held.hasMatch()) {
            heldNames.emplace_back(held.captured(1).toULongLong(nullptr, 16), strName);
            nHighest = std::max(nHighest, heldNames.back().first);
        }
    }
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::remove(numbers.begin(), numbers.end(), 0), numbers.end());
    std::sort(heldNames.begin(), heldNames.end());

    const quint64 nFirstWaiting = bPositionValid ? position.nSegment : 0;
    for (const quint64 nNumber : numbers) {
        if (nNumber < nFirstWaiting) {
            // Delivered: the run that acknowledged it stopped before deleting it.
            ::unlink(QFile::encodeName(SegmentPath(nNumber)).constData());
            bFolderDirty = true;
            continue;
        }
        qint64 nOrdinal = 0;
        qint64 nHeadAt = SEGMENT_HEADER;
        const qint64 nDeliveredBefore = nNumber == nFirstWaiting ? position.nOffset : 0;
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
    nNextNumber = std::max({numbers.empty() ? 0 : numbers.back(), nFirstWaiting, nHighest}) + 1;
    PassDelivered();
    for (const auto &[nNumber, strName] : heldNames) // in the order they were written
        TakeBackHeld(strName, qint64(strName.mid(17, 16).toULongLong(nullptr, 16)));
    bPositionDirty = true;
    Sync();
    strError.clear();
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
    CloseFd(fdTail);
    CloseFd(fdPosition);
    CloseFd(fdFolder);
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

void COutbox::SImpl::ReadPosition(SPosition *pPosition, bool *pValid)
{
    QByteArray bytes(2 * POSITION_SLOT, '\0');
    ssize_t nRead;
    do {
        nRead = ::pread(fdPosition, bytes.data(), size_t(bytes.size()), 0);
    } while (nRead < 0 && errno == EINTR);
    bytes.resize(std::max<ssize_t>(nRead, 0));
    *pValid = ParsePosition(bytes, pPosition);
    nPositionSequence = *pValid ? pPosition->nSequence : 0;
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
    CSegmentReader scan;
    if (!scan.Open(strPath, pSegment->nBytes))
        return false;
    // The header is not relied on: every record checks by itself, so a bad
    // byte there costs nothing, and a file not ours yields no records.
    qint64 nOffset = SEGMENT_HEADER;
    qint64 nStart = 0;
    while (NextRecord(scan, nOffset, nullptr, &nStart)) {
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

// Sets aside the i-th segment of those that wait; what it holds no longer
// counts as waiting.
bool COutbox::SImpl::HoldSegment(std::size_t i, int nErrno)
{
    const SSegment segment = segments[i];
    const bool bFront = i == 0;
    if (IsTail(segment))
        SealTail();
    if (nReaderSegment == segment.nNumber) {
        reader.Close();
        nReaderSegment = 0;
    }
    if (!SetAside(segment.nNumber, bFront ? nHeadOffset : SEGMENT_HEADER, nErrno)) {
        Fail(errno, SegmentPath(segment.nNumber));
        return false;
    }
    nBytes -= segment.nBytes;
    nCount -= segment.nRecords - (bFront ? nHeadOrdinal : 0);
    segments.erase(segments.begin() + std::ptrdiff_t(i));
    if (bFront) {
        nHeadOffset = SEGMENT_HEADER;
        nHeadOrdinal = 0;
    }
    bPositionDirty = true;
    return true;
}

// A segment set aside earlier: when it can be read now, its records from
// nFrom on are pushed anew, behind what waits, and it goes once they are on
// the disk. Read whole first, so a read that fails copies nothing twice.
void COutbox::SImpl::TakeBackHeld(const QString &strName, qint64 nFrom)
{
    const QString strPath = strFolder + u'/' + strName;
    struct stat st {};
    CSegmentReader scan;
    std::vector<SOutboxMessage> messages;
    bool bRead = ::stat(QFile::encodeName(strPath).constData(), &st) == 0 && scan.Open(strPath, st.st_size);
    if (bRead) {
        qint64 nOffset = std::max(nFrom, SEGMENT_HEADER);
        SOutboxMessage message;
        while (NextRecord(scan, nOffset, &message))
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

bool COutbox::SImpl::WritePosition()
{
    SPosition position{nPositionSequence + 1, nNextNumber, SEGMENT_HEADER};
    if (!segments.empty()) {
        position.nSegment = segments.front().nNumber;
        position.nOffset = nHeadOffset;
    }
    const QByteArray slot = PositionSlot(position);
    const off_t nAt = off_t(position.nSequence % 2) * POSITION_SLOT;
    ssize_t nWritten;
    do {
        nWritten = ::pwrite(fdPosition, slot.constData(), size_t(slot.size()), nAt);
    } while (nWritten < 0 && errno == EINTR);
    if (nWritten != slot.size())
        return Fail(nWritten < 0 ? errno : EIO, PositionPath());
    if (::fdatasync(fdPosition) != 0)
        return Fail(errno, PositionPath());
    nPositionSequence = position.nSequence;
    bPositionDirty = false;
    return true;
}

bool COutbox::SImpl::StartSegment()
{
    const quint64 nNumber = nNextNumber;
    const QString strPath = SegmentPath(nNumber);
    const QByteArray name = QFile::encodeName(strPath);
    const int fd = OpenForWriting(name, O_CREAT | O_EXCL | O_APPEND);
    if (fd < 0)
        return Fail(errno, strPath);
    const int nErrno = WriteAll(fd, QByteArray::fromRawData(SEGMENT_MAGIC, SEGMENT_HEADER));
    if (nErrno != 0) {
        ::close(fd);
        ::unlink(name.constData());
        return Fail(nErrno, strPath);
    }
    ++nNextNumber;
    if (segments.empty()) {
        nHeadOffset = SEGMENT_HEADER;
        nHeadOrdinal = 0;
    }
    segments.push_back({nNumber, SEGMENT_HEADER, 0});
    nBytes += SEGMENT_HEADER;
    fdTail = fd;
    bFolderDirty = true;
    return true;
}

// Pushes go to a new segment from now on; what this one holds goes on the
// disk before its descriptor closes.
void COutbox::SImpl::SealTail()
{
    if (fdTail < 0)
        return;
    if (bDataDirty && ::fdatasync(fdTail) != 0)
        Fail(errno, SegmentPath(segments.back().nNumber));
    bDataDirty = false;
    CloseFd(fdTail);
}

// A write cut short (a full disk) takes its part of a record back out, so
// the next record follows the last whole one; where the cut fails, the next
// push starts a new segment and readers stop at the last whole record.
void COutbox::SImpl::UndoPartialWrite()
{
    int nResult;
    do {
        nResult = ::ftruncate(fdTail, segments.back().nBytes);
    } while (nResult < 0 && errno == EINTR);
    if (nResult != 0)
        SealTail();
}

void COutbox::SImpl::RemoveFront()
{
    const SSegment &front = segments.front();
    if (IsTail(front)) {
        CloseFd(fdTail); // going anyway: no need to put it on the disk
        bDataDirty = false;
    }
    if (nReaderSegment == front.nNumber) {
        reader.Close();
        nReaderSegment = 0;
    }
    ::unlink(QFile::encodeName(SegmentPath(front.nNumber)).constData());
    nBytes -= front.nBytes;
    segments.pop_front();
    nHeadOffset = SEGMENT_HEADER;
    nHeadOrdinal = 0;
    bFolderDirty = true;
    bPositionDirty = true;
}

void COutbox::SImpl::DropFront()
{
    const qint64 nWaiting = segments.front().nRecords - nHeadOrdinal;
    nDropped += nWaiting;
    nCount -= nWaiting;
    nHeadIndex += nWaiting;
    RemoveFront();
}

// A segment no longer written whose every record was delivered goes.
void COutbox::SImpl::PassDelivered()
{
    while (!segments.empty() && !IsTail(segments.front()) && nHeadOrdinal >= segments.front().nRecords)
        RemoveFront();
}

CSegmentReader *COutbox::SImpl::ReaderFor(const SSegment &segment)
{
    if (nReaderSegment != segment.nNumber) {
        nReaderSegment = 0;
        if (!reader.Open(SegmentPath(segment.nNumber), segment.nBytes)) {
            const int nErrno = errno;
            Fail(nErrno, SegmentPath(segment.nNumber));
            errno = nErrno;
            return nullptr;
        }
        nReaderSegment = segment.nNumber;
    }
    reader.SetEnd(segment.nBytes);
    return &reader;
}

// Data first, then the names in the folder, then the position: a position
// on the disk never names what is not.
bool COutbox::SImpl::Sync()
{
    bool bOk = true;
    lastSync = CClock::now();
    if (bDataDirty && fdTail >= 0 && ::fdatasync(fdTail) != 0)
        bOk = Fail(errno, SegmentPath(segments.back().nNumber));
    bDataDirty = false;
    if (bFolderDirty && ::fsync(fdFolder) != 0)
        bOk = Fail(errno, strFolder);
    bFolderDirty = false;
    if (bPositionDirty && !WritePosition())
        bOk = false;
    return bOk;
}

void COutbox::SImpl::SyncIfDue()
{
    if (CClock::now() - lastSync >= SYNC_EVERY)
        Sync();
}

COutbox::COutbox() : m_p(std::make_unique<SImpl>()) {}

COutbox::~COutbox()
{
    const std::lock_guard lock(m_p->mutex);
    m_p->Close();
}

EOutboxResult COutbox::Open(const QString &strFolder, std::int64_t nMaxBytes)
{
    const std::lock_guard lock(m_p->mutex);
    m_p->Close();
    return m_p->Open(strFolder, nMaxBytes) ? EOutboxResult::Ok : EOutboxResult::Failed;
}

bool COutbox::IsOpen() const
{
    const std::lock_guard lock(m_p->mutex);
    return m_p->IsOpen();
}

void COutbox::SetMaxBytes(std::int64_t nMaxBytes)
{
    const std::lock_guard lock(m_p->mutex);
    if (nMaxBytes <= 0)
        return;
    m_p->nMaxBytes = nMaxBytes;
    m_p->nSegmentTarget = std::clamp(qint64(nMaxBytes) / 8, MIN_SEGMENT, MAX_SEGMENT);
}

EOutboxResult COutbox::Push(const SOutboxMessage &message)
{
    const std::lock_guard lock(m_p->mutex);
    return m_p->Append(message);
}

EOutboxResult COutbox::SImpl::Append(const SOutboxMessage &message)
{
    SImpl &d = *this;
    if (!d.IsOpen())
        return d.NotOpen();
    if (message.topic.size() > MAX_TOPIC || message.payload.size() > MAX_PAYLOAD)
        return d.Refuse(qt_error_string(EMSGSIZE));
    const QByteArray record = EncodeRecord(message);
    if (SEGMENT_HEADER + record.size() > d.nMaxBytes)
        return d.Refuse(QStringLiteral("the message is larger than the outbox"));

    bool bNewSegment = d.fdTail < 0 || d.segments.back().nBytes >= d.nSegmentTarget;
    while (!d.segments.empty() && d.nBytes + record.size() + (bNewSegment ? SEGMENT_HEADER : 0) > d.nMaxBytes) {
        if (d.IsTail(d.segments.front()))
            bNewSegment = true; // the last segment goes too
        d.DropFront();
    }
    if (bNewSegment) {
        d.SealTail();
        if (!d.StartSegment())
            return EOutboxResult::Failed;
        d.PassDelivered(); // the sealed one, when all of it was delivered
    }

    SSegment &tail = d.segments.back();
    const int nErrno = WriteAll(d.fdTail, record);
    if (nErrno != 0) {
        d.Fail(nErrno, d.SegmentPath(tail.nNumber));
        d.UndoPartialWrite();
        return EOutboxResult::Failed;
    }
    tail.nBytes += record.size();
    ++tail.nRecords;
    d.nBytes += record.size();
    ++d.nCount;
    d.bDataDirty = true;
    d.SyncIfDue();
    return EOutboxResult::Ok;
}

std::vector<SOutboxMessage> COutbox::Peek(int nMax)
{
    const std::lock_guard lock(m_p->mutex);
    SImpl &d = *m_p;
    std::vector<SOutboxMessage> messages;
    d.peekEnds.clear();
    d.nPeekStart = d.nHeadIndex;
    if (!d.IsOpen() || nMax <= 0)
        return messages;

    for (std::size_t i = 0; i < d.segments.size() && qsizetype(messages.size()) < nMax;) {
        const SSegment &segment = d.segments[i];
        qint64 nOffset = i == 0 ? d.nHeadOffset : SEGMENT_HEADER;
        qint64 nOrdinal = i == 0 ? d.nHeadOrdinal : 0;
        if (nOrdinal >= segment.nRecords) {
            ++i;
            continue;
        }
        const std::size_t nBefore = messages.size();
        CSegmentReader *pReader = d.ReaderFor(segment);
        if (pReader) {
            SOutboxMessage message;
            while (qsizetype(messages.size()) < nMax && nOrdinal < segment.nRecords
                   && NextRecord(*pReader, nOffset, &message)) {
                messages.push_back(std::move(message));
                ++nOrdinal;
                d.peekEnds.push_back({segment.nNumber, nOffset, nOrdinal});
            }
        }
        const int nErrno = pReader ? pReader->Error() : errno;
        if (nErrno == 0) {
            ++i;
            continue;
        }
        // A segment that cannot be read is set aside rather than holding up
        // all that follows it; one read in part waits for the next Peek,
        // which starts where its readable part ends.
        if (messages.size() > nBefore || !d.HoldSegment(i, nErrno))
            break;
    }
    return messages;
}

EOutboxResult COutbox::Ack(int n)
{
    const std::lock_guard lock(m_p->mutex);
    SImpl &d = *m_p;
    if (!d.IsOpen())
        return d.NotOpen();
    if (n < 0 || std::size_t(n) > d.peekEnds.size())
        return d.Refuse(QStringLiteral("more acknowledged than peeked"));
    const qint64 nNewHead = d.nPeekStart + n;
    if (nNewHead <= d.nHeadIndex)
        return EOutboxResult::Ok; // acknowledged before, or dropped meanwhile
    const SImpl::SPeekEnd &end = d.peekEnds[std::size_t(n - 1)];
    while (!d.segments.empty() && d.segments.front().nNumber < end.nSegment)
        d.RemoveFront();
    if (!d.segments.empty() && d.segments.front().nNumber == end.nSegment) {
        d.nHeadOffset = end.nOffset;
        d.nHeadOrdinal = end.nOrdinal;
    }
    d.nCount -= nNewHead - d.nHeadIndex;
    d.nHeadIndex = nNewHead;
    d.PassDelivered();
    d.bPositionDirty = true;
    d.SyncIfDue();
    return EOutboxResult::Ok;
}

EOutboxResult COutbox::Sync()
{
    const std::lock_guard lock(m_p->mutex);
    if (!m_p->IsOpen())
        return m_p->NotOpen();
    return m_p->Sync() ? EOutboxResult::Ok : EOutboxResult::Failed;
}

std::int64_t COutbox::Count() const
{
    const std::lock_guard lock(m_p->mutex);
    return m_p->nCount;
}

std::int64_t COutbox::Bytes() const
{
    const std::lock_guard lock(m_p->mutex);
    return m_p->nBytes;
}

std::int64_t COutbox::DroppedSinceOpen() const
{
    const std::lock_guard lock(m_p->mutex);
    return m_p->nDropped;
}

QString COutbox::ErrorText() const
{
    const std::lock_guard lock(m_p->mutex);
    return m_p->strError;
}

std::vector<SOutboxHeld> COutbox::TakeHeld()
{
    const std::lock_guard lock(m_p->mutex);
    std::vector<SOutboxHeld> held;
    held.swap(m_p->held);
    return held;
}
