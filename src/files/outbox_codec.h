// The outbox's records, positions and file names to bytes and back: pure
// functions, no files, so each rule of the format is tested on bytes.
// The layout itself is in outbox_format.h.
#pragma once

#include "files/outbox.h"

#include <QByteArray>
#include <QString>

#include <optional>

// CRC-32 as zlib's crc32() counts it, continued from crc (0 to start).
quint32 OutboxCrc32(quint32 crc, const char *p, qint64 n);

// A message as one record, header and all. The caller keeps the topic and
// payload within the format's limits.
QByteArray EncodeOutboxRecord(const SOutboxMessage &message);

// What a record's header says. The CRC of its two lengths is taken from the
// header's own bytes, so a reader may let them go before the body comes.
struct SOutboxRecordHead {
    qint64 nTopic = 0;
    qint64 nPayload = 0;
    quint32 nLengthsCrc = 0;
    quint32 nCheck = 0;
    qint64 BodyBytes() const { return nTopic + nPayload; }
};

// The header at pHead (RECORD_HEADER bytes); nullopt when it does not start
// with the mark or names lengths no record of the outbox has.
std::optional<SOutboxRecordHead> DecodeOutboxRecordHead(const char *pHead);
// Whether the body at pHead's record (BodyBytes() of them) is the one its
// CRC was made for.
bool OutboxRecordBodyChecks(const SOutboxRecordHead &head, const char *pBody);
SOutboxMessage DecodeOutboxRecordBody(const SOutboxRecordHead &head, const char *pBody);

// The first message not yet delivered, and the sequence of the slot that
// says so.
struct SOutboxPosition {
    quint64 nSequence = 0;
    quint64 nSegment = 0;
    qint64 nOffset = 0;
};

// The position file's bytes: the slot of the higher sequence that checks;
// nullopt when none does (a lost, short or spoiled file).
std::optional<SOutboxPosition> DecodeOutboxPosition(const QByteArray &bytes);
QByteArray EncodeOutboxPositionSlot(const SOutboxPosition &position);
// Where in the file the slot of this position goes: the slots take turns.
qint64 OutboxPositionSlotAt(const SOutboxPosition &position);

QString OutboxSegmentName(quint64 nNumber);
QString OutboxHeldName(quint64 nNumber, qint64 nFrom);
// The number a segment's name gives; nullopt for a name the outbox does not
// give (or segment 0, which it never starts).
std::optional<quint64> ParseOutboxSegmentName(const QString &strName);
struct SOutboxHeldName {
    quint64 nNumber = 0;
    qint64 nFrom = 0;
};
std::optional<SOutboxHeldName> ParseOutboxHeldName(const QString &strName);
