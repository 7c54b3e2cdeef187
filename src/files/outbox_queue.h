// The outbox's state behind COutbox, shared by the files that work on it:
// outbox.cpp (pushes, peeks, acknowledgements, syncs) and outbox_open.cpp
// (what an earlier run left in the folder). Not for use outside them.
#pragma once

#include "files/outbox.h"
#include "files/outbox_codec.h"
#include "files/outbox_format.h"
#include "files/outbox_segment_reader.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

namespace OutboxQueue {

using CClock = std::chrono::steady_clock;

// Dropping for the bound goes a whole segment at a time: an eighth of the
// bound loses little, and 4 MiB keeps the file count small for a large one.
constexpr qint64 MAX_SEGMENT = 4 * 1024 * 1024;
constexpr qint64 MIN_SEGMENT = 4096;
constexpr auto SYNC_EVERY = std::chrono::milliseconds(200);

struct SSegment {
    quint64 nNumber = 0;
    qint64 nBytes = 0;   // on disk; of the segment being written, what was written whole
    qint64 nRecords = 0; // whole records
};

} // namespace OutboxQueue

struct COutbox::SImpl {
    mutable std::mutex mutex;

    QString strFolder;
    qint64 nMaxBytes = 0;
    qint64 nSegmentTarget = OutboxQueue::MAX_SEGMENT;
    int fdFolder = -1;
    int fdPosition = -1;
    quint64 nPositionSequence = 0;

    std::deque<OutboxQueue::SSegment> segments; // oldest first; the first holds the head
    quint64 nNextNumber = 1;
    int fdTail = -1; // segments.back() while pushes append to it

    // The first message not delivered: its offset in segments.front(), and
    // the records of that segment before it.
    qint64 nHeadOffset = OutboxFormat::SEGMENT_HEADER;
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

    COutboxSegmentReader reader;
    quint64 nReaderSegment = 0; // 0: none (segments count from 1)

    bool bDataDirty = false;
    bool bFolderDirty = false;
    bool bPositionDirty = false;
    OutboxQueue::CClock::time_point lastSync;

    QString strError;
    std::vector<SOutboxHeld> held; // set aside since the last TakeHeld

    bool IsOpen() const { return fdFolder >= 0; }
    bool IsTail(const OutboxQueue::SSegment &segment) const { return fdTail >= 0 && &segment == &segments.back(); }

    QString SegmentPath(quint64 nNumber) const { return strFolder + u'/' + OutboxSegmentName(nNumber); }
    QString PositionPath() const { return strFolder + u'/' + QLatin1String(OutboxFormat::POSITION_FILE); }
    QString HeldPath(quint64 nNumber, qint64 nFrom) const
    {
        return strFolder + u'/' + OutboxHeldName(nNumber, nFrom);
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
    bool OpenFolder(QStringList *pNames);
    std::optional<SOutboxPosition> ReadPosition();
    bool LoadSegments(const std::vector<quint64> &numbers, const std::optional<SOutboxPosition> &position);
    bool ScanSegment(quint64 nNumber, qint64 nDeliveredBefore, OutboxQueue::SSegment *pSegment, qint64 *pOrdinal,
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
    COutboxSegmentReader *ReaderFor(const OutboxQueue::SSegment &segment);
    bool Sync();
    void SyncIfDue();
};
