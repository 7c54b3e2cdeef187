#include "link/meter_link.h"

#include "link/operator.h"

#include <QStringEncoder>

#include <algorithm>

namespace {

// The meter wants a moment between the end of a request and the first read.
constexpr int REPLY_DELAY_MS = 100;
// After the third refused password the meter is given time before anyone
// may try again.
constexpr int REFUSAL_PAUSE_MS = 3000;
// A request the meter keeps answering with STATUS_LOCKED is sent this often.
constexpr int MAX_SENDS = 3;
// What follows the header of a reply without payload: checksum, maybe a tail.
constexpr int MAX_REPLY_TAIL = 2;
// Bits on the wire for one byte: start, 8 data, stop.
constexpr int BITS_PER_BYTE = 10;
// Room for a USB adapter's and the system's delays between the wire and the
// link when bytes follow each other closely.
constexpr int LATE_BYTE_MARGIN_MS = 3;

quint16 StatusOf(const quint8 *pHeader)
{
    return quint16(pHeader[22] | (pHeader[23] << 8));
}

} // namespace

CMeterLink::CMeterLink(IOperator *pOperator)
    : CMeterLink(std::make_unique<CSerialPort>(), pOperator)
{
}

CMeterLink::CMeterLink(std::unique_ptr<ILine> pLine, IOperator *pOperator)
    : m_pLine(std::move(pLine))
{
    SetOperator(pOperator);
}

CMeterLink::~CMeterLink() = default;

void CMeterLink::SetOperator(IOperator *pOperator)
{
    m_pOperator = pOperator;
    m_pLine->SetOperator(pOperator);
}

void CMeterLink::SetPortName(const QString &strName)
{
    m_strPortName = strName;
}

void CMeterLink::SetBaudRate(qint32 nRate)
{
    m_nBaudRate = nRate;
}

void CMeterLink::SetDeviceNumber(quint16 nNumber)
{
    m_nDeviceNumber = nNumber;
}

bool CMeterLink::Fail(const SLinkFailure &failure)
{
    m_failure = failure;
    if (m_pOperator)
        m_pOperator->ShowFailure(failure);
    return false;
}

bool CMeterLink::Quit(ELinkFailure eKind)
{
    m_failure = SLinkFailure{eKind, QString(), SPortProblem()};
    return false;
}

bool CMeterLink::FailAndClose(ELinkFailure eKind)
{
    Fail(eKind);
    m_pLine->Close();
    return false;
}

bool CMeterLink::OpenPort()
{
    if (m_pLine->Open(m_strPortName, quint32(m_nBaudRate)))
        return true;
    return Fail(SLinkFailure{ELinkFailure::Port, m_strPortName, m_pLine->OpenProblem()});
}

bool CMeterLink::SendRequest(const quint8 *pPayload, quint16 nPayloadLength)
{
    // A port an earlier unlock left open is closed first, so every request
    // starts on a freshly opened, purged line.
    if (m_pLine->IsOpen())
        m_pLine->Close();
    if (!OpenPort())
        return false;
    m_pLine->PurgeOutput();
    m_pLine->PurgeInput();
    m_pLine->Write(m_header, HEADER_SIZE);
    if (pPayload && nPayloadLength)
        m_pLine->Write(pPayload, nPayloadLength);
    m_pLine->WriteByte(Checksum(m_header, HEADER_SIZE, pPayload, nPayloadLength));
    return m_pLine->Pause(REPLY_DELAY_MS) || Quit(ELinkFailure::Cancelled);
}

int CMeterLink::LateByteWindowMs(quint32 nRate)
{
    if (nRate == 0)
        return LATE_BYTE_MARGIN_MS;
    const quint32 nTwoBytesMs = (2u * BITS_PER_BYTE * 1000u + nRate - 1) / nRate;
    return int(nTwoBytesMs) + LATE_BYTE_MARGIN_MS;
}

bool CMeterLink::LateByteCame()
{
    quint8 nByte = 0;
    return m_pLine->Listen(&nByte, 1, LateByteWindowMs(quint32(m_nBaudRate))) > 0;
}

bool CMeterLink::Exchange(quint8 nCommand, quint8 nArgument, quint8 *pReply, quint16 *pReplyLength,
                         const quint8 *pPayload, quint16 nPayloadLength)
{
    m_failure = SLinkFailure();
    if (!pReply || !pReplyLength)
        return Quit(ELinkFailure::LineError); // a caller's mistake; nothing to show anyone
    m_pLine->ClearCancelled();
    if (m_nDeviceNumber == 0)
        return Fail(ELinkFailure::DeviceNumber);
    if (m_nAccessLevel == 0 && !Unlock(false, QString()))
        return false;

    const quint16 nWanted = *pReplyLength;
    for (int nSends = 1;; ++nSends) {
        Request(nCommand, nArgument, nPayloadLength).ToBytes(m_header);
        if (!SendRequest(pPayload, nPayloadLength))
            return false;

        // The status decides whether any data follow, so it is judged before
        // the data are waited for.
        const quint32 nHeader = m_pLine->Read(m_header, HEADER_SIZE);
        if (m_pLine->IsCancelled())
            return Quit(ELinkFailure::Cancelled);
        if (nHeader < quint32(HEADER_SIZE))
            return FailAndClose(ELinkFailure::NoAnswer);

        switch (StatusOf(m_header)) {
        case STATUS_OK: {
            const quint32 nGot = m_pLine->Read(pReply, nWanted);
            if (m_pLine->IsCancelled())
                return Quit(ELinkFailure::Cancelled);
            *pReplyLength = quint16(nGot);
            // The checksum byte is not checked. When the data came short the
            // line has gone quiet already, so nothing is gained by waiting.
            if (nGot == nWanted) {
                quint8 nReplyChecksum = 0;
                const bool bChecksumCame = m_pLine->Read(&nReplyChecksum, 1) == 1;
                if (m_pLine->IsCancelled())
                    return Quit(ELinkFailure::Cancelled);
                // Nothing follows a data reply. A byte that does means the
                // reply was read one byte late (a late byte of an earlier
                // reply came first), so every value in it would be shifted.
                const bool bOutOfStep = bChecksumCame && LateByteCame();
                if (m_pLine->IsCancelled())
                    return Quit(ELinkFailure::Cancelled);
                if (bOutOfStep)
                    return FailAndClose(ELinkFailure::LineError);
            }
            m_pLine->Close();
            return true;
        }
        case STATUS_BUSY:
            return FailAndClose(ELinkFailure::Busy);
        case STATUS_LOCKED: {
            // The unlock goes out on this same port, so the rest of this
            // reply (checksum, maybe a tail byte) must not be taken for the
            // start of its answer.
            quint8 aRest[MAX_REPLY_TAIL];
            m_pLine->Read(aRest, MAX_REPLY_TAIL);
            if (m_pLine->IsCancelled())
                return Quit(ELinkFailure::Cancelled);
            if (!Unlock(false, m_strPassword)) {
                m_pLine->Close();
                return false;
            }
            if (nSends < MAX_SENDS)
                continue;
            // Still locked after the last send: the meter is not being served.
            return FailAndClose(ELinkFailure::LineError);
        }
        default:
            return FailAndClose(ELinkFailure::LineError);
        }
    }
}

bool CMeterLink::CheckConnection()
{
    m_failure = SLinkFailure();
    m_pLine->ClearCancelled();
    Request(CMD_CHECK, 0, 0).ToBytes(m_header);
    const quint8 nChecksum = Checksum(m_header, HEADER_SIZE, nullptr, 0);
    if (!SendRequest(nullptr, 0))
        return false;

    // The meter echoes the request, perhaps with one tail byte after it.
    quint8 aReply[HEADER_SIZE + MAX_REPLY_TAIL] = {};
    const quint32 n = m_pLine->Read(aReply, sizeof aReply);
    if (m_pLine->IsCancelled())
        return Quit(ELinkFailure::Cancelled);
    if (n < quint32(HEADER_SIZE + 1))
        return FailAndClose(ELinkFailure::NoAnswer);
    if (std::equal(m_header, m_header + HEADER_SIZE, aReply) && aReply[HEADER_SIZE] == nChecksum) {
        m_nReplyTail = n == quint32(HEADER_SIZE + 1) ? 1 : 2;
        // The unlock follows at once: a tail byte slower than the read must
        // not become the first byte of its answer.
        if (m_nReplyTail == 1) {
            LateByteCame();
            if (m_pLine->IsCancelled())
                return Quit(ELinkFailure::Cancelled);
        }
        m_pLine->Close();
        return true;
    }
    return FailAndClose(ELinkFailure::LineError);
}

int CMeterLink::LevelToOpen(bool bAsked, int nDialogLevel) const
{
    if (bAsked)
        return nDialogLevel == 0 ? 1 : 2;
    // A password given is the one that opened the level open now: a meter
    // that restarted and wants its level back is asked for that level, which
    // is the only one the password is known to open.
    return m_nAccessLevel == 2 ? 2 : 1;
}

bool CMeterLink::Unlock(bool bShowMessage, QString strPassword)
{
    m_failure = SLinkFailure();
    m_pLine->ClearCancelled();
    const bool bAsk = strPassword.isEmpty();

    for (int nAttempt = 0;; ++nAttempt) {
        int nDialogLevel = 0;
        QString strTyped;
        if (bAsk) {
            if (!m_pOperator || !m_pOperator->AskAccess(nDialogLevel, strTyped)) {
                m_pLine->Close();
                return Quit(ELinkFailure::Declined);
            }
            m_strPassword.clear();
        }
        // The access dialog takes no more than 8 characters.
        const QString strSent = bAsk ? strTyped.left(MAX_PASSWORD_LENGTH) : strPassword;
        const int nNewLevel = LevelToOpen(bAsk, nDialogLevel);

        // Header, the password in the meter's code page, a zero byte, checksum.
        QStringEncoder toWire("windows-1251");
        QByteArray frame = toWire(strSent);
        frame.append('\0');
        const quint16 nPayloadLength = quint16(frame.size());
        frame.prepend(
            Request(CMD_UNLOCK, nNewLevel == 1 ? UNLOCK_LEVEL_1 : UNLOCK_LEVEL_2, nPayloadLength).ToBytes());
        const auto *pFrame = reinterpret_cast<const quint8 *>(frame.constData());
        frame.append(char(Checksum(pFrame, int(frame.size()), nullptr, 0)));

        // Within an exchange the port is open already and is used as it is.
        if (!OpenPort())
            return false;
        m_pLine->PurgeOutput();
        m_pLine->PurgeInput();
        m_pLine->Write(reinterpret_cast<const quint8 *>(frame.constData()), int(frame.size()));
        if (!m_pLine->Pause(REPLY_DELAY_MS))
            return Quit(ELinkFailure::Cancelled);

        quint8 aAnswer[HEADER_SIZE + MAX_REPLY_TAIL] = {};
        const quint32 n = m_pLine->Read(aAnswer, quint32(HEADER_SIZE + m_nReplyTail));
        if (m_pLine->IsCancelled())
            return Quit(ELinkFailure::Cancelled);
        if (n < quint32(HEADER_SIZE + 1))
            return FailAndClose(ELinkFailure::Channel);
        // A meter may add a tail byte, whatever the check found, and send it
        // after the read has stopped. Dropped here, it cannot reach the next
        // request's reply, which would then be read one byte late.
        if (n == quint32(HEADER_SIZE + 1)) {
            LateByteCame();
            if (m_pLine->IsCancelled())
                return Quit(ELinkFailure::Cancelled);
        }

        switch (StatusOf(aAnswer)) {
        case STATUS_BAD_PASSWORD:
            if (nAttempt == 2) {
                // A cancel closes the port itself.
                const bool bWaited = m_pLine->Pause(REFUSAL_PAUSE_MS);
                m_pLine->Close();
                return Quit(bWaited ? ELinkFailure::Refused : ELinkFailure::Cancelled);
            }
            if (!m_pOperator || !m_pOperator->AskRetryUnlock()) {
                m_pLine->Close();
                return Quit(ELinkFailure::Refused);
            }
            continue;
        case STATUS_OK:
            m_nAccessLevel = quint8(nNewLevel);
            if (bShowMessage && m_pOperator)
                m_pOperator->ShowUnlocked(nNewLevel);
            m_strPassword = strSent;
            m_pLine->Close();
            return true;
        default:
            // A status the meter gives for reasons of its own: taken as done.
            m_pLine->Close();
            return true;
        }
    }
}
