// Messages that wait on disk, in order, until they are delivered: a folder
// of append-only segment files and the position of the first message not
// yet delivered. What was pushed survives a restart of the program. The disk
// is synced in groups, not at every push: a Push or Ack syncs when the last
// sync is 200 ms old or more, so a push after a pause is on the disk when
// Push returns, and of a burst at most the pushes since the last sync (its
// last 200 ms) wait for the next Push, Ack or Sync(); the owner calls Sync()
// when it goes idle. A power cut loses no more than those; a record it tears
// is never delivered. Delivery is at least once: the position is synced in
// the same groups, so after a crash messages delivered since the last sync
// are delivered again (with the position file lost or spoiled, all from the
// oldest segment on). The folder is
// bounded: when it is full, the oldest messages go first, a whole segment
// at a time, and the outbox counts them. A segment that cannot be read is
// never taken for delivered: it is set aside, the rest goes on, and the next
// Open that can read it delivers it after what waits.
//
// Every member locks the outbox: pushes may come from any thread while
// another peeks and acknowledges.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

struct SOutboxMessage {
    QByteArray topic;
    QByteArray payload;
};

enum class EOutboxResult { Ok, Failed };

// A segment set aside because it could not be read: where it is now, and
// the system's reason.
struct SOutboxHeld {
    QString strPath;
    QString strReason;
};

class COutbox {
public:
    COutbox();
    ~COutbox(); // syncs what was pushed
    COutbox(const COutbox &) = delete;
    COutbox &operator=(const COutbox &) = delete;

    // Opens (making it when missing) the folder and finds what waits in it
    // from an earlier run, segments set aside before among it. nMaxBytes
    // bounds the folder's segments. Fails, changing nothing, when the folder
    // cannot be listed.
    EOutboxResult Open(const QString &strFolder, std::int64_t nMaxBytes);
    bool IsOpen() const;
    // A new bound; the next Push drops what is over it.
    void SetMaxBytes(std::int64_t nMaxBytes);

    // Appends a message with one write; when the folder would grow past its
    // bound, the oldest messages are dropped first (DroppedSinceOpen counts
    // them, acknowledged or not). Fails, with the outbox as it was, when the
    // write fails (a full disk) or the message is larger than the bound, its
    // topic longer than 65535 bytes or its payload than 16 MiB. *pDropped,
    // when given, is how many messages this push dropped for the bound, so
    // a caller counts its losses where they happen (also when the push
    // fails after making room).
    EOutboxResult Push(const SOutboxMessage &message, std::int64_t *pDropped = nullptr);
    // Up to nMax messages from the first not yet delivered, in order; they
    // stay in the outbox until Ack. A segment that cannot be read is set
    // aside (TakeHeld) and the messages after it follow.
    std::vector<SOutboxMessage> Peek(int nMax);
    // The first n messages of the last Peek are delivered: they go. Saying
    // so again, or of messages dropped since the Peek, changes nothing; more
    // than the Peek gave fails.
    EOutboxResult Ack(int n);
    // Puts on the disk what was pushed and acknowledged so far.
    EOutboxResult Sync();

    std::int64_t Count() const;         // messages waiting
    std::int64_t Bytes() const;         // bytes the segments hold on disk
    std::int64_t DroppedSinceOpen() const;
    // The system's reason for the last failure.
    QString ErrorText() const;
    // The segments set aside since the last call, each named once.
    std::vector<SOutboxHeld> TakeHeld();

private:
    struct SImpl;
    std::unique_ptr<SImpl> m_p;
};
