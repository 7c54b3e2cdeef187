// Messages that wait on disk, in order, until they are delivered: a folder
// of append-only segment files and the position of the first message not
// yet delivered. What was pushed survives a restart of the program; a power
// cut loses at most the pushes of the last moment (the disk is synced in
// groups, not at every push). The folder is bounded: when it is full, the
// oldest messages go first, and the outbox counts them.
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

class COutbox {
public:
    COutbox();
    ~COutbox(); // syncs what was pushed
    COutbox(const COutbox &) = delete;
    COutbox &operator=(const COutbox &) = delete;

    // Opens (making it when missing) the folder and finds what waits in it
    // from an earlier run. nMaxBytes bounds the folder's segments.
    EOutboxResult Open(const QString &strFolder, std::int64_t nMaxBytes);
    bool IsOpen() const;

    // Appends a message; when the folder would grow past its bound, the
    // oldest messages are dropped first (DroppedSinceOpen counts them).
    EOutboxResult Push(const SOutboxMessage &message);
    // Up to nMax messages from the first not yet delivered, in order; they
    // stay in the outbox until Ack.
    std::vector<SOutboxMessage> Peek(int nMax);
    // The first n messages of the last Peek are delivered: they go.
    EOutboxResult Ack(int n);
    // Puts on the disk what was pushed and acknowledged so far.
    EOutboxResult Sync();

    std::int64_t Count() const;         // messages waiting
    std::int64_t Bytes() const;         // bytes the segments hold on disk
    std::int64_t DroppedSinceOpen() const;
    // The system's reason for the last failure.
    QString ErrorText() const;

private:
    struct SImpl;
    std::unique_ptr<SImpl> m_p;
};
