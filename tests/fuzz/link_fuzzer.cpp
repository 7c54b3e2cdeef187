// The meter link on fuzzed meters. The input sets up the link, scripts the
// operator, picks a few calls and supplies every byte the meter sends,
// played through a line in memory on a virtual clock. After every call the
// properties in CheckCall must hold; a broken one aborts like a crash.
//
// The input, read from the front (zeros once it runs out):
//   rate index (mod 8: 1200 to 115200 bit/s), device number (2 bytes LE),
//   flags (bit 0: second feeder; bit 1: the meter's bytes are a raw stream),
//   refused open (0: none; n: the nth open is refused),
//   wait cancel (2 bytes LE; n: the operator stops the nth wait; 0: never),
//   access dialog answers: count (mod 4), each a level byte (bit 0) and a
//     password (length byte mod 11, then its bytes in windows-1251),
//   yes/no answers: count (mod 8) and a mask (bit i: the ith is Yes),
//   given password: length byte (mod 9), then its bytes,
//   calls: count (mod 4, plus 1), then a byte each: low 3 bits mod 6 pick
//     check, unlock with the dialog, unlock with the given password, read
//     second, minute, day; bit 3 asks the unlock for its success message,
//   then what the meter sends. With the raw stream flag: the rest of the
//   input. Otherwise one reply to each request in turn, each: flags (bit 0:
//   a second piece; bit 1: pieces filled), delay (x8 ms), length (2 bytes
//   LE, mod 4096), with a second piece its gap (x4 ms) and length, then the
//   pieces' bytes. A filled piece takes at most 32 bytes from the input and
//   is padded with zero bytes to its length.
//
// The seed corpus in corpus/link_fuzzer/ is written by make_link_corpus.py
// in this folder, one input for each path worth starting from: a second
// read after the first unlock, busy, locked then the data, a refused
// password, the check's echo with and without the tail byte, an unlock tail
// too late for the read and a stray byte after a data reply, a raw stream.
#include "link/frame.h"
#include "link/link_messages.h"
#include "link/memory_line.h"
#include "link/meter_link.h"

#include "../link/scripted_operator.h"

#include <QStringDecoder>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

void Require(bool bHolds, const char *pWhat)
{
    if (!bHolds) {
        std::fprintf(stderr, "property broken: %s\n", pWhat);
        std::abort();
    }
}

// Reads the input from the front; zeros once it runs out.
class CInput {
public:
    CInput(const std::uint8_t *pData, std::size_t nSize) : m_pData(pData), m_nSize(nSize) {}
    bool AtEnd() const { return m_nPos >= m_nSize; }
    quint8 Byte() { return AtEnd() ? 0 : m_pData[m_nPos++]; }
    quint16 Word()
    {
        const quint8 nLow = Byte();
        return quint16(nLow | (Byte() << 8));
    }
    QByteArray Bytes(std::size_t n)
    {
        n = std::min(n, m_nSize - std::min(m_nPos, m_nSize));
        const QByteArray bytes(reinterpret_cast<const char *>(m_pData + m_nPos), qsizetype(n));
        m_nPos += n;
        return bytes;
    }
    QByteArray Rest() { return Bytes(m_nSize); }
    QString Password(int nMaxLength)
    {
        return QStringDecoder("windows-1251")(Bytes(Byte() % (nMaxLength + 1)));
    }

private:
    const std::uint8_t *m_pData;
    std::size_t m_nSize;
    std::size_t m_nPos = 0;
};

// What the operator did, in order.
enum class EDone { Message, Yes, No, DialogOk, DialogCancel, WaitCancelled };

class CFuzzOperator : public CScriptedOperator {
public:
    QList<EDone> done;

    void ShowMessage(const QString &strText, EMsgIcon icon) override
    {
        CScriptedOperator::ShowMessage(strText, icon);
        done.append(EDone::Message);
    }
    bool AskYesNo(const QString &strText) override
    {
        const bool bYes = CScriptedOperator::AskYesNo(strText);
        done.append(bYes ? EDone::Yes : EDone::No);
        return bYes;
    }
    bool AskAccess(int &nLevel, QString &strPassword) override
    {
        const bool bOk = CScriptedOperator::AskAccess(nLevel, strPassword);
        done.append(bOk ? EDone::DialogOk : EDone::DialogCancel);
        return bOk;
    }
    bool KeepWaiting(qint64 nBytesReceived) override
    {
        const bool bGoOn = CScriptedOperator::KeepWaiting(nBytesReceived);
        if (!bGoOn)
            done.append(EDone::WaitCancelled);
        return bGoOn;
    }
};

enum class ECall { Check, UnlockAsking, UnlockGiven, Read };

constexpr quint32 RATES[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
constexpr quint8 READ_COMMANDS[] = {CMD_READ_SECOND, CMD_READ_MINUTE, CMD_READ_DAY};
constexpr quint16 READ_SIZES[] = {1036, 500, 2204};
// Bytes 10 to 23 of every request: the protocol's fixed fields and status 0.
constexpr quint8 FIXED_REQUEST_BYTES[] = {0x06, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00,
                                          0x01, 0x01, 0x01, 0x01, 0x00, 0x00, 0x00};

SReply ReadReply(CInput &in)
{
    const quint8 nFlags = in.Byte();
    const int nParts = (nFlags & 1) ? 2 : 1;
    qint64 aAfterMs[2] = {qint64(in.Byte()) * 8, 0};
    quint16 aLength[2] = {quint16(in.Word() % 4096), 0};
    if (nParts == 2) {
        aAfterMs[1] = qint64(in.Byte()) * 4;
        aLength[1] = quint16(in.Word() % 4096);
    }
    SReply reply;
    for (int i = 0; i < nParts; ++i) {
        QByteArray bytes = in.Bytes((nFlags & 2) ? std::min<quint16>(aLength[i], 32) : aLength[i]);
        if (nFlags & 2)
            bytes.append(QByteArray(aLength[i] - bytes.size(), '\0'));
        reply.parts.append({aAfterMs[i], bytes});
    }
    return reply;
}

quint16 StatusOf(const QByteArray &header)
{
    return quint16(quint8(header[22]) | (quint8(header[23]) << 8));
}

// Every frame on the line is a well-formed request for this link.
void CheckFrames(const CMemoryLine &line, quint16 nDevice, quint8 nFeeder, ECall call, quint8 nReadCommand)
{
    int nReadSends = 0;
    for (const QByteArray &frame : line.Frames()) {
        Require(frame.size() >= HEADER_SIZE + 1, "a frame holds a header and a checksum");
        const auto *p = reinterpret_cast<const quint8 *>(frame.constData());
        Require(p[0] == 0 && p[1] == 0 && p[3] == 0, "lead word and spare byte are 0");
        Require(p[2] == nFeeder, "the frame carries the feeder");
        Require(quint16(p[8] | (p[9] << 8)) == nDevice, "the frame carries the device number");
        Require(std::memcmp(p + 10, FIXED_REQUEST_BYTES, sizeof FIXED_REQUEST_BYTES) == 0,
                "bytes 10 to 23 are the fixed fields and status 0");
        const int nPayload = p[4] | (p[5] << 8);
        Require(frame.size() == HEADER_SIZE + nPayload + 1, "the payload length matches the frame");
        Require(p[frame.size() - 1] == FrameChecksum(p, int(frame.size()) - 1, nullptr, 0),
                "the last byte is the checksum of the rest");
        switch (p[6]) {
        case CMD_CHECK:
            Require(call == ECall::Check && p[7] == 0 && nPayload == 0, "a check request only from the check");
            break;
        case CMD_UNLOCK:
            Require(call != ECall::Check, "the check sends no unlock");
            Require(p[7] == UNLOCK_LEVEL_1 || p[7] == UNLOCK_LEVEL_2, "an unlock asks for level 1 or 2");
            Require(nPayload >= 1 && nPayload <= MAX_PASSWORD_LENGTH + 1 && p[HEADER_SIZE + nPayload - 1] == 0,
                    "an unlock carries at most 8 password bytes and a zero");
            break;
        default:
            Require(call == ECall::Read && p[6] == nReadCommand && p[7] == 1 && nPayload == 0,
                    "a data request is the read asked for");
            ++nReadSends;
        }
    }
    Require(nReadSends <= 3, "a request goes out at most three times in one exchange");
}

// A read's success rests on a whole header with status 0, read after the
// last data request went out, the data read after it, and no byte in the
// listen after their checksum.
void CheckReadSuccess(const CMemoryLine &line, quint8 nCommand, quint16 nWanted, const quint8 *pReply,
                      quint16 nLength)
{
    const QList<SLineEvent> &events = line.Events();
    qsizetype i = events.size();
    while (--i >= 0) {
        const SLineEvent &e = events[i];
        if (e.kind == ELineEvent::Write && e.bytes.size() == HEADER_SIZE && quint8(e.bytes[6]) == nCommand)
            break;
    }
    Require(i >= 0, "a successful read sent its request");
    while (++i < events.size() && events[i].kind != ELineEvent::Read) {
    }
    Require(i < events.size() && events[i].nCount == HEADER_SIZE && events[i].bytes.size() == HEADER_SIZE,
            "a successful read got a whole header");
    Require(StatusOf(events[i].bytes) == STATUS_OK, "a successful read got status 0");
    while (++i < events.size() && events[i].kind != ELineEvent::Read) {
    }
    Require(i < events.size() && events[i].nCount == nWanted, "the data are read after the header");
    Require(nLength == events[i].bytes.size() && nLength <= nWanted, "the reply length is what the data read got");
    Require(std::memcmp(pReply, events[i].bytes.constData(), nLength) == 0, "the reply holds the bytes read");
    while (++i < events.size())
        Require(events[i].kind != ELineEvent::Listen || events[i].bytes.isEmpty(),
                "nothing follows the checksum of a successful read");
}

// An unlock's third refusal ends without a message: the meter answered 17
// and the link waited out its 3 s before letting go of the line. A listen for
// a tail byte may stand between the answer and the wait.
bool EndedOnThirdRefusal(const CMemoryLine &line)
{
    QList<SLineEvent> events = line.Events();
    events.removeIf([](const SLineEvent &e) { return e.kind == ELineEvent::Listen; });
    const qsizetype n = events.size();
    return n >= 3 && events[n - 1].kind == ELineEvent::Close && events[n - 2].kind == ELineEvent::Pause
        && events[n - 2].nCount == 3000 && events[n - 3].kind == ELineEvent::Read
        && events[n - 3].bytes.size() >= HEADER_SIZE + 1 && StatusOf(events[n - 3].bytes) == STATUS_BAD_PASSWORD;
}

void CheckCall(CMeterLink &link, CMemoryLine &line, CFuzzOperator &op, ECall call, bool bResult)
{
    Require(!line.IsOpen(), "the line is closed when a call ends");

    const bool bCancelled = op.done.contains(EDone::WaitCancelled);
    Require(link.WasCancelled() == bCancelled, "the link knows when the operator stopped a wait");
    Require((link.LastFailure().eKind == ELinkFailure::Cancelled) == bCancelled,
            "a stopped wait, and only that, is the failure Cancelled");
    Require(bResult == (link.LastFailure().eKind == ELinkFailure::None), "a call fails with a code, and only then");
    if (bCancelled) {
        Require(!bResult, "a stopped wait fails the call");
        Require(op.done.last() == EDone::WaitCancelled, "nothing is shown after a stopped wait");
        return;
    }

    if (!bResult) {
        // Every failure is explained: by a message, by the operator's No or
        // cancelled dialog, or by the meter's third refusal of a password.
        const bool bShownOrDeclined = !op.done.isEmpty()
            && (op.done.last() == EDone::Message || op.done.last() == EDone::No
                || op.done.last() == EDone::DialogCancel);
        Require(bShownOrDeclined || EndedOnThirdRefusal(line), "a failure is shown, declined or a third refusal");
        return;
    }

    for (const SShown &shown : op.shown) {
        const bool bAccepted = call != ECall::Read && call != ECall::Check
            && (shown.strText == LinkText::PasswordAccepted(1) || shown.strText == LinkText::PasswordAccepted(2));
        Require(shown.icon == EMsgIcon::Question || bAccepted, "a success shows no failure");
    }
    if (call == ECall::Check) {
        const QList<SLineEvent> &events = line.Events();
        const auto read = std::find_if(events.begin(), events.end(),
                                       [](const SLineEvent &e) { return e.kind == ELineEvent::Read; });
        Require(read != events.end() && link.ReplyTail() == read->bytes.size() - HEADER_SIZE,
                "the check learns the tail from the echo's length");
    }
}

// With LINK_FUZZER_TRACE set, each call is told on standard error: handy
// when a seed or a crash input is to be understood.
void Trace(const CMemoryLine &line, const CFuzzOperator &op, quint8 nCall, bool bResult)
{
    static const bool bTrace = std::getenv("LINK_FUZZER_TRACE") != nullptr;
    if (!bTrace)
        return;
    std::fprintf(stderr, "call %d -> %d at %lld ms\n", nCall & 15, int(bResult), static_cast<long long>(line.NowMs()));
    for (const SShown &shown : op.shown)
        std::fprintf(stderr, "  shown: %s\n", qPrintable(shown.strText.section('\n', -1)));
    std::fprintf(stderr, "  line: %s\n", qPrintable(line.Log().join(", ")));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *pData, std::size_t nSize)
{
    CInput in(pData, nSize);
    const quint32 nRate = RATES[in.Byte() % 8];
    const quint16 nDevice = in.Word();
    const quint8 nFlags = in.Byte();
    const quint8 nRefusedOpen = in.Byte();
    const quint16 nCancelAt = in.Word();

    CFuzzOperator op;
    for (int n = in.Byte() % 4; n > 0; --n) {
        const int nLevel = in.Byte() & 1;
        op.accessAnswers.append({nLevel, in.Password(10)});
    }
    const int nYesNo = in.Byte() % 8;
    const quint8 nYesMask = in.Byte();
    for (int i = 0; i < nYesNo; ++i)
        op.yesNoAnswers.append((nYesMask >> i) & 1);
    const QString strGiven = in.Password(MAX_PASSWORD_LENGTH);
    if (nCancelAt)
        op.keepWaiting = [&op, nCancelAt](qint64) { return op.nKeepWaitingCalls != nCancelAt; };

    QList<quint8> calls;
    for (int n = in.Byte() % 4 + 1; n > 0; --n)
        calls.append(in.Byte());

    auto pOwnedLine = std::make_unique<CMemoryLine>();
    CMemoryLine &line = *pOwnedLine;
    if (nFlags & 2)
        line.SetStream(in.Rest());
    while (!in.AtEnd())
        line.QueueReply(ReadReply(in));
    if (nRefusedOpen)
        line.RefuseOpen(nRefusedOpen);

    CMeterLink link(std::move(pOwnedLine), &op);
    link.SetSecondFeeder((nFlags & 1) != 0);
    link.SetPortName(QStringLiteral("COM1"));
    link.SetBaudRate(qint32(nRate));
    link.SetDeviceNumber(nDevice);

    static quint8 aReply[2204];
    for (const quint8 nCall : calls) {
        op.shown.clear();
        op.done.clear();
        line.ClearRecord();
        const int nKind = (nCall & 7) % 6;
        const bool bShowMessage = ((nCall >> 3) & 1) != 0;
        ECall call = ECall::Read;
        quint8 nCommand = 0;
        bool bResult = false;
        if (nKind == 0) {
            call = ECall::Check;
            bResult = link.CheckConnection();
        } else if (nKind == 1) {
            call = ECall::UnlockAsking;
            bResult = link.Unlock(bShowMessage, QString());
        } else if (nKind == 2) {
            call = ECall::UnlockGiven;
            bResult = link.Unlock(bShowMessage, strGiven);
        } else {
            nCommand = READ_COMMANDS[nKind - 3];
            const quint16 nWanted = READ_SIZES[nKind - 3];
            quint16 nLength = nWanted;
            std::memset(aReply, 0xEE, sizeof aReply);
            bResult = link.Exchange(nCommand, 1, aReply, &nLength, nullptr, 0);
            if (bResult)
                CheckReadSuccess(line, nCommand, nWanted, aReply, nLength);
        }
        Trace(line, op, nCall, bResult);
        CheckFrames(line, nDevice, quint8(nFlags & 1), call, nCommand);
        CheckCall(link, line, op, call, bResult);
    }
    return 0;
}
