// The outbox as a queue: pushes append to the last segment, peeks read from
// the head, acknowledgements move it, and the bound drops the oldest
// segments. What an earlier run left is taken up in outbox_open.cpp; the
// bytes on the disk are made in outbox_codec.cpp.
#include "files/outbox.h"

#include "files/descriptor_io.h"
#include "files/outbox_queue.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

using namespace OutboxFormat;
using OutboxQueue::CClock;
using OutboxQueue::SSegment;

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

bool COutbox::SImpl::WritePosition()
{
    SOutboxPosition position{nPositionSequence + 1, nNextNumber, SEGMENT_HEADER};
    if (!segments.empty()) {
        position.nSegment = segments.front().nNumber;
        position.nOffset = nHeadOffset;
    }
    const QByteArray slot = EncodeOutboxPositionSlot(position);
    const off_t nAt = off_t(OutboxPositionSlotAt(position));
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
    CloseDescriptor(fdTail);
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
        CloseDescriptor(fdTail); // going anyway: no need to put it on the disk
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

COutboxSegmentReader *COutbox::SImpl::ReaderFor(const SSegment &segment)
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
    if (CClock::now() - lastSync >= OutboxQueue::SYNC_EVERY)
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
    m_p->nSegmentTarget = std::clamp(qint64(nMaxBytes) / 8, OutboxQueue::MIN_SEGMENT, OutboxQueue::MAX_SEGMENT);
}

EOutboxResult COutbox::Push(const SOutboxMessage &message, std::int64_t *pDropped)
{
    const std::lock_guard lock(m_p->mutex);
    const qint64 nDroppedBefore = m_p->nDropped;
    const EOutboxResult result = m_p->Append(message);
    if (pDropped)
        *pDropped = m_p->nDropped - nDroppedBefore;
    return result;
}

EOutboxResult COutbox::SImpl::Append(const SOutboxMessage &message)
{
    SImpl &d = *this;
    if (!d.IsOpen())
        return d.NotOpen();
    if (message.topic.size() > MAX_TOPIC || message.payload.size() > MAX_PAYLOAD)
        return d.Refuse(qt_error_string(EMSGSIZE));
    const QByteArray record = EncodeOutboxRecord(message);
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
        COutboxSegmentReader *pReader = d.ReaderFor(segment);
        if (pReader) {
            SOutboxMessage message;
            while (qsizetype(messages.size()) < nMax && nOrdinal < segment.nRecords
                   && NextOutboxRecord(*pReader, nOffset, &message)) {
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
