// The outbox's bytes without files: records, positions and names made and
// read back, and each kind of damage the reader must refuse.
#include "files/outbox_codec.h"
#include "files/outbox_format.h"

#include <QtEndian>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using namespace OutboxFormat;

namespace {

TEST(OutboxCodecTest, Crc32IsZlibsAndContinues)
{
    const QByteArray check = "123456789";
    EXPECT_EQ(OutboxCrc32(0, check.constData(), check.size()), 0xCBF43926u);
    EXPECT_EQ(OutboxCrc32(OutboxCrc32(0, check.constData(), 4), check.constData() + 4, 5), 0xCBF43926u);
    EXPECT_EQ(OutboxCrc32(0, nullptr, 0), 0u);
}

struct SRoundTrip {
    const char *pName;
    SOutboxMessage message;
};

const SRoundTrip ROUND_TRIPS[] = {
    {"a reading", {"varik/ps12/vvod1/second", R"({"U":"230.1"})"}},
    {"empty topic and payload", {"", ""}},
    {"the mark itself in the payload", {"t", QByteArray(RECORD_MARK, RECORD_MARK_BYTES).repeated(3)}},
    {"zero bytes", {QByteArray("\0t", 2), QByteArray(5, '\0')}},
    {"the longest topic", {QByteArray(MAX_TOPIC, 't'), "p"}},
};

TEST(OutboxCodecTest, RecordsComeBackAsPushed)
{
    for (const SRoundTrip &c : ROUND_TRIPS) {
        SCOPED_TRACE(c.pName);
        const QByteArray record = EncodeOutboxRecord(c.message);
        ASSERT_EQ(record.size(), RECORD_HEADER + c.message.topic.size() + c.message.payload.size());
        const std::optional<SOutboxRecordHead> head = DecodeOutboxRecordHead(record.constData());
        ASSERT_TRUE(head);
        ASSERT_EQ(head->BodyBytes(), record.size() - RECORD_HEADER);
        const char *pBody = record.constData() + RECORD_HEADER;
        EXPECT_TRUE(OutboxRecordBodyChecks(*head, pBody));
        const SOutboxMessage back = DecodeOutboxRecordBody(*head, pBody);
        EXPECT_EQ(back.topic, c.message.topic);
        EXPECT_EQ(back.payload, c.message.payload);
    }
}

// Damage done to the record of {"topic", "payload"}; where the reader must
// see it: in the header, or only when the body is checked.
struct SRecordDamage {
    const char *pName;
    std::function<void(QByteArray &)> damage;
    bool bHeadRefused;
};

void PutU32(QByteArray &record, int nAt, quint32 n)
{
    qToLittleEndian<quint32>(n, record.data() + nAt);
}

const SRecordDamage RECORD_DAMAGES[] = {
    {"mark", [](QByteArray &r) { r[0] = 'X'; }, true},
    {"last byte of the mark", [](QByteArray &r) { r[3] = 0; }, true},
    {"topic longer than MQTT allows", [](QByteArray &r) { PutU32(r, 4, quint32(MAX_TOPIC + 1)); }, true},
    {"payload past the limit", [](QByteArray &r) { PutU32(r, 8, quint32(MAX_PAYLOAD + 1)); }, true},
    {"payload length within the limit but wrong", [](QByteArray &r) { PutU32(r, 8, 6); }, false},
    {"the CRC", [](QByteArray &r) { r[12] = char(r[12] ^ 1); }, false},
    {"a topic byte", [](QByteArray &r) { r[RECORD_HEADER] = 'T'; }, false},
    {"the last payload byte", [](QByteArray &r) { r[r.size() - 1] = 'D'; }, false},
};

TEST(OutboxCodecTest, DamagedRecordsDoNotCheck)
{
    for (const SRecordDamage &c : RECORD_DAMAGES) {
        SCOPED_TRACE(c.pName);
        QByteArray record = EncodeOutboxRecord({"topic", "payload"});
        c.damage(record);
        const std::optional<SOutboxRecordHead> head = DecodeOutboxRecordHead(record.constData());
        EXPECT_EQ(!head, c.bHeadRefused);
        if (head && head->BodyBytes() <= record.size() - RECORD_HEADER) {
            EXPECT_FALSE(OutboxRecordBodyChecks(*head, record.constData() + RECORD_HEADER));
        }
    }
}

QByteArray Slots(const std::vector<SOutboxPosition> &positions)
{
    QByteArray bytes(POSITION_SLOTS * POSITION_SLOT, '\0');
    for (const SOutboxPosition &position : positions)
        bytes.replace(OutboxPositionSlotAt(position), POSITION_SLOT, EncodeOutboxPositionSlot(position));
    return bytes;
}

struct SPositionCase {
    const char *pName;
    QByteArray bytes;
    std::optional<quint64> nSequence; // of the slot that wins
};

const SOutboxPosition OLDER{7, 3, 1234};
const SOutboxPosition NEWER{8, 4, 56};

QByteArray Spoiled(QByteArray bytes, qint64 nAt)
{
    bytes[nAt] = char(bytes[nAt] ^ 0x40);
    return bytes;
}

const SPositionCase POSITIONS[] = {
    {"both slots", Slots({OLDER, NEWER}), NEWER.nSequence},
    {"one slot", Slots({OLDER}), OLDER.nSequence},
    {"the newer slot's CRC spoiled", Spoiled(Slots({OLDER, NEWER}), OutboxPositionSlotAt(NEWER) + POSITION_CHECKED),
     OLDER.nSequence},
    {"the newer slot's offset spoiled", Spoiled(Slots({OLDER, NEWER}), OutboxPositionSlotAt(NEWER) + 20),
     OLDER.nSequence},
    {"the older slot torn off", Slots({OLDER, NEWER}).left(POSITION_SLOT + 5), NEWER.nSequence},
    {"shorter than a slot", Slots({OLDER, NEWER}).left(POSITION_SLOT - 1), std::nullopt},
    {"empty", QByteArray(), std::nullopt},
    {"zeros", QByteArray(POSITION_SLOTS * POSITION_SLOT, '\0'), std::nullopt},
};

TEST(OutboxCodecTest, ThePositionIsTheNewestSlotThatChecks)
{
    ASSERT_NE(OutboxPositionSlotAt(OLDER), OutboxPositionSlotAt(NEWER)); // slots take turns
    for (const SPositionCase &c : POSITIONS) {
        SCOPED_TRACE(c.pName);
        const std::optional<SOutboxPosition> position = DecodeOutboxPosition(c.bytes);
        ASSERT_EQ(position.has_value(), c.nSequence.has_value());
        if (!position)
            continue;
        const SOutboxPosition &expected = *c.nSequence == NEWER.nSequence ? NEWER : OLDER;
        EXPECT_EQ(position->nSequence, expected.nSequence);
        EXPECT_EQ(position->nSegment, expected.nSegment);
        EXPECT_EQ(position->nOffset, expected.nOffset);
    }
}

TEST(OutboxCodecTest, NamesAreTheOutboxsOwn)
{
    EXPECT_EQ(OutboxSegmentName(0x1a), QStringLiteral("000000000000001a.seg"));
    EXPECT_EQ(ParseOutboxSegmentName(OutboxSegmentName(0x1a)), 0x1au);
    EXPECT_EQ(OutboxHeldName(2, 0x1234), QStringLiteral("0000000000000002-0000000000001234.held"));
    const std::optional<SOutboxHeldName> held = ParseOutboxHeldName(OutboxHeldName(2, 0x1234));
    ASSERT_TRUE(held);
    EXPECT_EQ(held->nNumber, 2u);
    EXPECT_EQ(held->nFrom, 0x1234);
    // Anything else in the folder is left alone.
    for (const char *pForeign : {"0000000000000000.seg", "000000000000001A.seg", "1a.seg", "000000000000001a.seg~",
                                 "notes.txt", "0000000000000002-0000000000001234.seg"})
        EXPECT_FALSE(ParseOutboxSegmentName(QString::fromLatin1(pForeign))) << pForeign;
    for (const char *pForeign : {"0000000000000002-1234.held", "0000000000000002.held", "000000000000001a.seg"})
        EXPECT_FALSE(ParseOutboxHeldName(QString::fromLatin1(pForeign))) << pForeign;
}

} // namespace
