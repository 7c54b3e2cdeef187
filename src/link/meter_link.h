// The one conversation partner of the meter: link settings, access state,
// the line to the meter and the header of the current frame.
#pragma once

#include "link/frame.h"
#include "link/operator.h"
#include "link/line.h"
#include "link/serial_port.h"

#include <QString>

#include <memory>

class CMeterLink {
public:
    // Talks over a serial port.
    explicit CMeterLink(IOperator *pOperator = nullptr);
    // Talks over the line given.
    explicit CMeterLink(std::unique_ptr<ILine> pLine, IOperator *pOperator = nullptr);
    virtual ~CMeterLink();

    void SetOperator(IOperator *pOperator);

    void SetPortName(const QString &strName);
    void SetBaudRate(qint32 nRate);
    void SetDeviceNumber(quint16 nNumber);
    // The feeder every request names, the check and the unlock included.
    void SetSecondFeeder(bool bSecond) { m_bSecondFeeder = bSecond; }
    bool SecondFeeder() const { return m_bSecondFeeder; }

    // One request/response exchange: unlocks first while no level is open,
    // judges the reply status, re-unlocks and repeats on STATUS_LOCKED.
    // *pReplyLength is in: bytes wanted, out: bytes got. True on a STATUS_OK
    // reply, false after a failure the link has already reported.
    bool Exchange(quint8 nCommand, quint8 nArgument, quint8 *pReply, quint16 *pReplyLength,
                 const quint8 *pPayload, quint16 nPayloadLength);
    // CMD_CHECK: the meter must echo the request. Learns m_nReplyTail.
    bool CheckConnection();
    // Opens an access level. An empty password asks the operator.
    bool Unlock(bool bShowMessage, QString strPassword);

    static quint8 Checksum(const quint8 *pHeader, int nHeader, const quint8 *pPayload, int nPayload)
    {
        return FrameChecksum(pHeader, nHeader, pPayload, nPayload);
    }

    // How long the link listens after a reply for a byte that may still
    // follow it: two byte times at the rate, and a margin for the delays of
    // the device and of the system between the wire and the link.
    static int LateByteWindowMs(quint32 nRate);

    quint8 AccessLevel() const { return m_nAccessLevel; }
    quint8 ReplyTail() const { return m_nReplyTail; }
    const QString &Password() const { return m_strPassword; }
    const QString &PortName() const { return m_strPortName; }
    // True when the last exchange ended because the operator cancelled it.
    bool WasCancelled() const { return m_pLine->IsCancelled(); }
    ILine &Port() { return *m_pLine; }

private:
    RequestHeader Request(quint8 nCommand, quint8 nArgument, quint16 nPayloadLength) const
    {
        return RequestHeader::Request(nCommand, nArgument, m_nDeviceNumber, m_bSecondFeeder ? 1 : 0,
                                      nPayloadLength);
    }
    void Show(const QString &strText, EMsgIcon icon);
    // Opens the line with the link's settings (an open port is kept as it is);
    // on failure shows the port message, with the line's advice under it, and
    // gives false.
    bool OpenPort();
    // Sends m_header, the payload and their checksum on a freshly opened
    // port and gives the meter its moment. False when the port would not
    // open (reported) or the operator cancelled.
    bool SendRequest(const quint8 *pPayload, quint16 nPayloadLength);
    // Listens the short window after a reply; true when a byte came in it.
    bool LateByteCame();

    quint8 m_nAccessLevel = 0;
    quint8 m_nReplyTail = 1;
    QString m_strPassword;
    QString m_strPortName;
    qint32 m_nBaudRate = 0;
    quint16 m_nDeviceNumber = 0;
    bool m_bSecondFeeder = false;
    std::unique_ptr<ILine> m_pLine;
    quint8 m_header[HEADER_SIZE] = {};
    IOperator *m_pOperator = nullptr;
};
