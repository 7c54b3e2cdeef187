// The one conversation partner of the meter: link settings, access state,
// the line to the meter and the header of the current frame.
#pragma once

#include "link/frame.h"
#include "link/link_failure.h"
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
    // reply, false after a failure the link has already shown the operator
    // (LastFailure says which).
    bool Exchange(quint8 nCommand, quint8 nArgument, quint8 *pReply, quint16 *pReplyLength,
                 const quint8 *pPayload, quint16 nPayloadLength);
    // CMD_CHECK: the meter must echo the request. Learns m_nReplyTail.
    bool CheckConnection();
    // Opens an access level. An empty password asks the operator for the
    // level and the password; a password given opens the level open now
    // (the first level while none is), as when a meter that restarted wants
    // its level back.
    bool Unlock(bool bShowMessage, QString strPassword);

    // Why the last of the three calls above failed; None after a success.
    const SLinkFailure &LastFailure() const { return m_failure; }

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
    // End a call with a failure: it is kept for LastFailure, and Fail also
    // shows it to the operator. Both give false, the call's result.
    bool Fail(const SLinkFailure &failure);
    bool Fail(ELinkFailure eKind) { return Fail(SLinkFailure{eKind, QString(), SPortProblem()}); }
    bool Quit(ELinkFailure eKind);
    // Fail, then close the port.
    bool FailAndClose(ELinkFailure eKind);
    // The level an unlock asks for: the dialog's choice (nDialogLevel 0 or
    // 1) when the operator was asked, otherwise the one open now.
    int LevelToOpen(bool bAsked, int nDialogLevel) const;
    // Opens the line with the link's settings (an open port is kept as it is);
    // on failure reports the port, with what the line knows of why, and
    // gives false.
    bool OpenPort();
    // Sends m_header, the payload and their checksum on a freshly opened
    // port and gives the meter its moment. False when the port would not
    // open or the operator cancelled (kept as the failure either way).
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
    SLinkFailure m_failure;
};
