#include "link/frame.h"

namespace {

void PutU16(quint8 *p, quint16 v)
{
    p[0] = quint8(v & 0xFF);
    p[1] = quint8(v >> 8);
}

quint16 GetU16(const quint8 *p)
{
    return quint16(p[0] | (p[1] << 8));
}

quint8 ChecksumStep(quint8 s, quint8 x)
{
    s ^= x;
    s = quint8((s >> 1) | (s << 7));
    if (s & 0x80)
        s ^= 0x1E;
    return s;
}

} // namespace

RequestHeader RequestHeader::Request(quint8 nCommand, quint8 nArgument, quint16 nDeviceNumber, quint8 nFeeder,
                                     quint16 nPayloadLength)
{
    RequestHeader h;
    h.Feeder = nFeeder;
    h.PayloadLength = nPayloadLength;
    h.Command = nCommand;
    h.Argument = nArgument;
    h.DeviceNumber = nDeviceNumber;
    return h;
}

void RequestHeader::ToBytes(quint8 *p) const
{
    PutU16(p + 0, LeadWord);
    p[2] = Feeder;
    p[3] = Spare;
    PutU16(p + 4, PayloadLength);
    p[6] = Command;
    p[7] = Argument;
    PutU16(p + 8, DeviceNumber);
    PutU16(p + 10, FixedWord);
    for (int i = 0; i < 8; ++i)
        p[12 + i] = FixedBytes[i];
    PutU16(p + 20, FixedTail);
    PutU16(p + 22, Status);
}

QByteArray RequestHeader::ToBytes() const
{
    QByteArray a(HEADER_SIZE, '\0');
    ToBytes(reinterpret_cast<quint8 *>(a.data()));
    return a;
}

RequestHeader RequestHeader::FromBytes(const quint8 *p)
{
    RequestHeader h;
    h.LeadWord = GetU16(p + 0);
    h.Feeder = p[2];
    h.Spare = p[3];
    h.PayloadLength = GetU16(p + 4);
    h.Command = p[6];
    h.Argument = p[7];
    h.DeviceNumber = GetU16(p + 8);
    h.FixedWord = GetU16(p + 10);
    for (int i = 0; i < 8; ++i)
        h.FixedBytes[i] = p[12 + i];
    h.FixedTail = GetU16(p + 20);
    h.Status = GetU16(p + 22);
    return h;
}

quint8 FrameChecksum(const quint8 *pHeader, int nHeader, const quint8 *pPayload, int nPayload)
{
    quint8 s = 0;
    for (int i = 0; i < nHeader; ++i)
        s = ChecksumStep(s, pHeader[i]);
    if (pPayload)
        for (int i = 0; i < nPayload; ++i)
            s = ChecksumStep(s, pPayload[i]);
    return s ^ 0xEB;
}
