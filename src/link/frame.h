// Frame layout of the meter protocol: the 24-byte header that opens every
// request and every reply, the command and status codes, the checksum.
#pragma once

#include <QByteArray>
#include <cstdint>

// Commands the program sends.
inline constexpr quint8 CMD_CHECK = 0x00;
inline constexpr quint8 CMD_UNLOCK = 0x0E;
inline constexpr quint8 CMD_READ_SECOND = 0x1F;
inline constexpr quint8 CMD_READ_MINUTE = 0x20;
inline constexpr quint8 CMD_READ_DAY = 0x21;

// Unlock arguments: first and second access level.
inline constexpr quint8 UNLOCK_LEVEL_1 = 0x81;
inline constexpr quint8 UNLOCK_LEVEL_2 = 0x82;

// Status codes in a reply header.
inline constexpr quint16 STATUS_OK = 0;
inline constexpr quint16 STATUS_BUSY = 7;
inline constexpr quint16 STATUS_LOCKED = 15;
inline constexpr quint16 STATUS_BAD_PASSWORD = 17;

inline constexpr int HEADER_SIZE = 24;
inline constexpr int MAX_PASSWORD_LENGTH = 8;

// The 24-byte little-endian header. Only Feeder, PayloadLength, Command,
// Argument and DeviceNumber vary in a request; a reply is read over the same
// layout and only its Status is looked at.
struct RequestHeader {
    quint16 LeadWord = 0;
    quint8 Feeder = 0;
    quint8 Spare = 0;
    quint16 PayloadLength = 0;
    quint8 Command = 0;
    quint8 Argument = 0;
    quint16 DeviceNumber = 0;
    quint16 FixedWord = 6;
    quint8 FixedBytes[8] = {0x01, 0x01, 0x00, 0x00, 0x00, 0x01, 0x01, 0x01};
    quint16 FixedTail = 1;
    quint16 Status = 0;

    // A request header with the fixed fields. nFeeder is the feeder byte
    // every request carries: 0 first feeder, 1 second.
    static RequestHeader Request(quint8 nCommand, quint8 nArgument, quint16 nDeviceNumber, quint8 nFeeder,
                                 quint16 nPayloadLength);

    // The 24 bytes on the line, little-endian whatever the host.
    QByteArray ToBytes() const;
    void ToBytes(quint8 *pOut) const;
    // Reads 24 bytes (the caller guarantees they are there).
    static RequestHeader FromBytes(const quint8 *pIn);
};

// Rotate-and-xor checksum over the header run and then the payload run (the
// payload may be null); the result is the running state xor 0xEB.
quint8 FrameChecksum(const quint8 *pHeader, int nHeader, const quint8 *pPayload, int nPayload);
