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
// All integers are little-endian; the CRC-32 is zlib's crc32().
//
// What may never change without a new format name ("VARIKOB2"): an outbox
// left by one release is read by the next, and one left by a newer release
// may meet an older one after a downgrade. So the record's mark, its header
// and the order of its fields, the CRC and what it covers, the position's
// mark, slot size and fields, the slot a sequence is written to (sequence
// mod 2), the file names, and the lengths past which a record is taken for
// damage (a reader that allowed less would drop records another wrote). The
// segment's header is written but never relied on: each record checks by
// itself, so a reader finds the records of any segment whose name it knows.
// What may change freely: segment sizes, the read buffer, how often the
// disk is synced; none of it is on the disk.
//
// The tests pin these bytes with golden folders (tests/files/outbox/).
#pragma once

#include <QtGlobal>

namespace OutboxFormat {

constexpr char SEGMENT_MAGIC[] = "VARIKOB1";
constexpr qint64 SEGMENT_HEADER = 8;

// Not a byte of UTF-8 text (F7) and not printable (1E): JSON payloads never
// hold the mark, so searching for it after damage meets few false starts.
constexpr char RECORD_MARK[] = "\xF7VK\x1E";
constexpr qint64 RECORD_MARK_BYTES = 4;
// Mark, topic length, payload length, CRC: 4 bytes each.
constexpr qint64 RECORD_HEADER = 16;
constexpr qint64 MAX_TOPIC = 65535; // MQTT's own limit
// Far above any reading; it bounds what a damaged length can make a reader
// load.
constexpr qint64 MAX_PAYLOAD = 16 * 1024 * 1024;

constexpr char POSITION_FILE[] = "position";
constexpr char POSITION_MAGIC[] = "VKPO";
// Mark, sequence, segment, offset, then the CRC of the 28 bytes before it.
constexpr qint64 POSITION_SLOT = 32;
constexpr qint64 POSITION_CHECKED = 28;
constexpr qint64 POSITION_SLOTS = 2;

} // namespace OutboxFormat
