// The frame checksum and header layout, against worked examples.
#include "link/frame.h"
#include "link/meter_link.h"

#include <gtest/gtest.h>

namespace {

QByteArray Hex(const char *pText)
{
    return QByteArray::fromHex(QByteArray(pText).replace(' ', ""));
}

quint8 ChecksumOf(const QByteArray &bytes)
{
    return CMeterLink::Checksum(reinterpret_cast<const quint8 *>(bytes.constData()), int(bytes.size()), nullptr, 0);
}

TEST(FrameChecksum, EmptyRunAndAbc)
{
    EXPECT_EQ(ChecksumOf(QByteArray()), 0xEB);
    EXPECT_EQ(ChecksumOf("abc"), 0x77);
}

TEST(FrameChecksum, PayloadContinuesTheHeaderRun)
{
    const QByteArray header = Hex("00 00 00 00 09 00 0E 82 01 00 06 00 01 01 00 00 00 01 01 01 01 00 00 00");
    const QByteArray payload("abcdefgh\0", 9);
    const auto *pHeader = reinterpret_cast<const quint8 *>(header.constData());
    const auto *pPayload = reinterpret_cast<const quint8 *>(payload.constData());

    EXPECT_EQ(CMeterLink::Checksum(pHeader, HEADER_SIZE, pPayload, 9), ChecksumOf(header + payload));
    // A null payload and an empty one add nothing.
    EXPECT_EQ(CMeterLink::Checksum(pHeader, HEADER_SIZE, nullptr, 9), ChecksumOf(header));
    EXPECT_EQ(CMeterLink::Checksum(pHeader, HEADER_SIZE, pPayload, 0), ChecksumOf(header));
}

struct SHeaderCase {
    quint8 nFeeder;
    quint8 nCommand;
    quint8 nArgument;
    quint16 nDevice;
    const char *pBytes;
    quint8 nChecksum;
};

class RequestHeaderBytes : public ::testing::TestWithParam<SHeaderCase> {};

TEST_P(RequestHeaderBytes, MatchTheLineAndChecksum)
{
    const SHeaderCase &c = GetParam();
    const QByteArray bytes = RequestHeader::Request(c.nCommand, c.nArgument, c.nDevice, c.nFeeder, 0).ToBytes();
    EXPECT_EQ(bytes.toHex(' '), Hex(c.pBytes).toHex(' '));
    EXPECT_EQ(ChecksumOf(bytes), c.nChecksum);

    const RequestHeader back = RequestHeader::FromBytes(reinterpret_cast<const quint8 *>(bytes.constData()));
    EXPECT_EQ(back.Feeder, c.nFeeder);
    EXPECT_EQ(back.DeviceNumber, c.nDevice);
    EXPECT_EQ(back.Status, STATUS_OK);
}

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, RequestHeaderBytes,
    ::testing::Values(
        SHeaderCase{0, CMD_CHECK, 0, 1, "00 00 00 00 00 00 00 00 01 00 06 00 01 01 00 00 00 01 01 01 01 00 00 00", 0x3D},
        SHeaderCase{0, CMD_READ_SECOND, 1, 1,
                    "00 00 00 00 00 00 1F 01 01 00 06 00 01 01 00 00 00 01 01 01 01 00 00 00", 0x1C},
        SHeaderCase{1, CMD_READ_DAY, 1, 300,
                    "00 00 01 00 00 00 21 01 2C 01 06 00 01 01 00 00 00 01 01 01 01 00 00 00", 0x9A},
        SHeaderCase{0, CMD_READ_MINUTE, 1, 65535,
                    "00 00 00 00 00 00 20 01 FF FF 06 00 01 01 00 00 00 01 01 01 01 00 00 00", 0xB4}));

TEST(RequestHeader, StatusIsReadLittleEndian)
{
    QByteArray reply = Hex("00 00 00 00 00 00 1F 01 01 00 06 00 01 01 00 00 00 01 01 01 01 00 0F 01");
    EXPECT_EQ(RequestHeader::FromBytes(reinterpret_cast<const quint8 *>(reply.constData())).Status, 0x010F);
}

} // namespace
