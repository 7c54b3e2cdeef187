#include "files/outbox_codec.h"

#include "files/outbox_format.h"

#include <QRegularExpression>
#include <QtEndian>

#include <array>
#include <cstring>

using namespace OutboxFormat;

namespace {

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

QString Hex16(quint64 n)
{
    return QStringLiteral("%1").arg(n, 16, 16, QLatin1Char('0'));
}

} // namespace

quint32 OutboxCrc32(quint32 crc, const char *p, qint64 n)
{
    crc = ~crc;
    for (qint64 i = 0; i < n; ++i)
        crc = CRC_TABLE[(crc ^ quint8(p[i])) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

QByteArray EncodeOutboxRecord(const SOutboxMessage &message)
{
    const qint64 nTopic = message.topic.size();
    const qint64 nPayload = message.payload.size();
    QByteArray record(RECORD_HEADER + nTopic + nPayload, Qt::Uninitialized);
    char *p = record.data();
    std::memcpy(p, RECORD_MARK, RECORD_MARK_BYTES);
    qToLittleEndian<quint32>(quint32(nTopic), p + 4);
    qToLittleEndian<quint32>(quint32(nPayload), p + 8);
    std::memcpy(p + RECORD_HEADER, message.topic.constData(), size_t(nTopic));
    std::memcpy(p + RECORD_HEADER + nTopic, message.payload.constData(), size_t(nPayload));
    const quint32 nCheck = OutboxCrc32(OutboxCrc32(0, p + 4, 8), p + RECORD_HEADER, nTopic + nPayload);
    qToLittleEndian<quint32>(nCheck, p + 12);
    return record;
}

std::optional<SOutboxRecordHead> DecodeOutboxRecordHead(const char *pHead)
{
    if (std::memcmp(pHead, RECORD_MARK, RECORD_MARK_BYTES) != 0)
        return std::nullopt;
    SOutboxRecordHead head;
    head.nTopic = qFromLittleEndian<quint32>(pHead + 4);
    head.nPayload = qFromLittleEndian<quint32>(pHead + 8);
    head.nCheck = qFromLittleEndian<quint32>(pHead + 12);
    if (head.nTopic > MAX_TOPIC || head.nPayload > MAX_PAYLOAD)
        return std::nullopt;
    head.nLengthsCrc = OutboxCrc32(0, pHead + 4, 8);
    return head;
}

bool OutboxRecordBodyChecks(const SOutboxRecordHead &head, const char *pBody)
{
    return OutboxCrc32(head.nLengthsCrc, pBody, head.BodyBytes()) == head.nCheck;
}

SOutboxMessage DecodeOutboxRecordBody(const SOutboxRecordHead &head, const char *pBody)
{
    return {QByteArray(pBody, head.nTopic), QByteArray(pBody + head.nTopic, head.nPayload)};
}

std::optional<SOutboxPosition> DecodeOutboxPosition(const QByteArray &bytes)
{
    std::optional<SOutboxPosition> found;
    for (qint64 nSlot = 0; (nSlot + 1) * POSITION_SLOT <= bytes.size(); ++nSlot) {
        const char *p = bytes.constData() + nSlot * POSITION_SLOT;
        if (std::memcmp(p, POSITION_MAGIC, 4) != 0
            || qFromLittleEndian<quint32>(p + POSITION_CHECKED) != OutboxCrc32(0, p, POSITION_CHECKED))
            continue;
        const SOutboxPosition position{qFromLittleEndian<quint64>(p + 4), qFromLittleEndian<quint64>(p + 12),
                                       qint64(qFromLittleEndian<quint64>(p + 20))};
        if (!found || position.nSequence > found->nSequence)
            found = position;
    }
    return found;
}

QByteArray EncodeOutboxPositionSlot(const SOutboxPosition &position)
{
    QByteArray slot(POSITION_SLOT, '\0');
    char *p = slot.data();
    std::memcpy(p, POSITION_MAGIC, 4);
    qToLittleEndian<quint64>(position.nSequence, p + 4);
    qToLittleEndian<quint64>(position.nSegment, p + 12);
    qToLittleEndian<quint64>(quint64(position.nOffset), p + 20);
    qToLittleEndian<quint32>(OutboxCrc32(0, p, POSITION_CHECKED), p + POSITION_CHECKED);
    return slot;
}

qint64 OutboxPositionSlotAt(const SOutboxPosition &position)
{
    return qint64(position.nSequence % POSITION_SLOTS) * POSITION_SLOT;
}

QString OutboxSegmentName(quint64 nNumber)
{
    return Hex16(nNumber) + QStringLiteral(".seg");
}

QString OutboxHeldName(quint64 nNumber, qint64 nFrom)
{
    return Hex16(nNumber) + u'-' + Hex16(quint64(nFrom)) + QStringLiteral(".held");
}

// Only names the outbox gives are its files: anything else in the folder is
// left alone.
std::optional<quint64> ParseOutboxSegmentName(const QString &strName)
{
    static const QRegularExpression segmentName(QStringLiteral("^([0-9a-f]{16})\\.seg$"));
    const QRegularExpressionMatch match = segmentName.match(strName);
    const quint64 nNumber = match.hasMatch() ? match.captured(1).toULongLong(nullptr, 16) : 0;
    return nNumber != 0 ? std::optional(nNumber) : std::nullopt;
}

std::optional<SOutboxHeldName> ParseOutboxHeldName(const QString &strName)
{
    static const QRegularExpression heldName(QStringLiteral("^([0-9a-f]{16})-([0-9a-f]{16})\\.held$"));
    const QRegularExpressionMatch match = heldName.match(strName);
    if (!match.hasMatch())
        return std::nullopt;
    return SOutboxHeldName{match.captured(1).toULongLong(nullptr, 16),
                           qint64(match.captured(2).toULongLong(nullptr, 16))};
}
