#include "link/memory_line.h"

#include "link/operator.h"

#include <algorithm>
#include <cstring>

void CMemoryLine::SetStream(const QByteArray &stream)
{
    m_stream = stream;
    m_nStreamPos = 0;
}

QStringList CMemoryLine::Log() const
{
    QStringList lines;
    for (const SLineEvent &e : m_events) {
        switch (e.kind) {
        case ELineEvent::Open: lines << QStringLiteral("open"); break;
        case ELineEvent::OpenRefused: lines << QStringLiteral("open refused"); break;
        case ELineEvent::Close: lines << QStringLiteral("close"); break;
        case ELineEvent::PurgeOutput: lines << QStringLiteral("purge out"); break;
        case ELineEvent::PurgeInput: lines << QStringLiteral("purge in"); break;
        case ELineEvent::Write: lines << QStringLiteral("write %1").arg(e.nCount); break;
        case ELineEvent::Pause: lines << QStringLiteral("pause %1").arg(e.nCount); break;
        case ELineEvent::Read: lines << QStringLiteral("read %1: %2").arg(e.nCount).arg(e.bytes.size()); break;
        case ELineEvent::Listen:
            lines << QStringLiteral("listen %1 ms: %2").arg(e.nCount).arg(e.bytes.size());
            break;
        case ELineEvent::Cancel: lines << QStringLiteral("cancel"); break;
        }
    }
    return lines;
}

QList<QByteArray> CMemoryLine::Frames() const
{
    QList<QByteArray> frames;
    bool bInFrame = false;
    for (const SLineEvent &e : m_events) {
        if (e.kind != ELineEvent::Write) {
            bInFrame = false;
            continue;
        }
        if (!bInFrame)
            frames.append(QByteArray());
        frames.last() += e.bytes;
        bInFrame = true;
    }
    return frames;
}

void CMemoryLine::Record(ELineEvent kind, int nCount, const QByteArray &bytes)
{
    m_events.append({kind, m_nNowMs, nCount, bytes});
}

bool CMemoryLine::Open(QString strName, quint32 nRate)
{
    Q_UNUSED(strName);
    if (m_bOpen)
        return true;
    ++m_nOpenAttempts;
    if (nRate == 0 || m_refusedOpens.contains(m_nOpenAttempts)) {
        Record(ELineEvent::OpenRefused);
        return false;
    }
    m_bOpen = true;
    m_nRate = nRate;
    m_nReceived = 0;
    // What came while the line was closed went nowhere.
    while (!m_arrivals.isEmpty() && m_arrivals.first().nAtMs <= m_nNowMs)
        m_arrivals.removeFirst();
    Record(ELineEvent::Open);
    return true;
}

void CMemoryLine::Close()
{
    if (!m_bOpen)
        return;
    // The meter sends on regardless; Open drops what came in between.
    m_bOpen = false;
    m_bRequestWritten = false;
    m_input.clear();
    Record(ELineEvent::Close);
}

int CMemoryLine::Write(const quint8 *pBytes, int n)
{
    if (!m_bOpen || n <= 0)
        return 0;
    Record(ELineEvent::Write, n, QByteArray(reinterpret_cast<const char *>(pBytes), n));
    m_bRequestWritten = true;
    m_nRequestEndMs = m_nNowMs;
    return n;
}

void CMemoryLine::StartReply()
{
    if (!m_bRequestWritten)
        return;
    m_bRequestWritten = false;
    if (m_replies.isEmpty())
        return;
    qint64 nAtMs = m_nRequestEndMs;
    for (const SReplyPart &part : m_replies.takeFirst().parts) {
        nAtMs += std::max<qint64>(part.nAfterMs, 0);
        const auto later = std::upper_bound(m_arrivals.begin(), m_arrivals.end(), nAtMs,
                                            [](qint64 nMs, const SArrival &a) { return nMs < a.nAtMs; });
        m_arrivals.insert(later, {nAtMs, part.bytes});
    }
}

void CMemoryLine::Arrive()
{
    while (!m_arrivals.isEmpty() && m_arrivals.first().nAtMs <= m_nNowMs)
        m_input += m_arrivals.takeFirst().bytes;
}

quint32 CMemoryLine::Take(quint8 *pBuffer, quint32 n)
{
    quint32 nTaken = std::min<quint32>(n, quint32(m_input.size()));
    if (nTaken > 0) {
        std::memcpy(pBuffer, m_input.constData(), nTaken);
        m_input.remove(0, nTaken);
    }
    const quint32 nFromStream = std::min<quint32>(n - nTaken, quint32(m_stream.size() - m_nStreamPos));
    if (nFromStream > 0) {
        std::memcpy(pBuffer + nTaken, m_stream.constData() + m_nStreamPos, nFromStream);
        m_nStreamPos += nFromStream;
        nTaken += nFromStream;
    }
    return nTaken;
}

quint32 CMemoryLine::Read(quint8 *pBuffer, quint32 n)
{
    return Receive(ELineEvent::Read, pBuffer, n, ReadTotalMs(m_nRate, n), true);
}

quint32 CMemoryLine::Listen(quint8 *pBuffer, quint32 n, int nMs)
{
    return Receive(ELineEvent::Listen, pBuffer, n, nMs, false);
}

quint32 CMemoryLine::Receive(ELineEvent kind, quint8 *pBuffer, quint32 n, qint64 nTotalMs, bool bInterval)
{
    if (!m_bOpen)
        return 0;
    StartReply();

    const qsizetype nEvent = m_events.size();
    Record(kind, int(kind == ELineEvent::Read ? n : nTotalMs));

    // The same waits as the serial port's, on the virtual clock.
    const qint64 nStartMs = m_nNowMs;
    qint64 nLastByteMs = -1;
    quint32 nGot = 0;
    while (nGot < n) {
        Arrive();
        const quint32 nTaken = Take(pBuffer + nGot, n - nGot);
        if (nTaken > 0) {
            nGot += nTaken;
            m_nReceived += nTaken;
            nLastByteMs = m_nNowMs;
            continue;
        }
        qint64 nLeftMs = nTotalMs - (m_nNowMs - nStartMs);
        if (bInterval && nLastByteMs >= 0)
            nLeftMs = std::min<qint64>(nLeftMs, READ_INTERVAL_MS - (m_nNowMs - nLastByteMs));
        if (nLeftMs <= 0)
            break;
        if (!KeepWaiting())
            break;
        // A slice at most, and no longer than until the next bytes arrive.
        qint64 nWakeMs = m_nNowMs + std::min<qint64>(nLeftMs, WAIT_SLICE_MS);
        if (!m_arrivals.isEmpty())
            nWakeMs = std::min(nWakeMs, m_arrivals.first().nAtMs);
        m_nNowMs = nWakeMs;
    }
    m_events[nEvent].bytes = QByteArray(reinterpret_cast<const char *>(pBuffer), nGot);
    return nGot;
}

void CMemoryLine::PurgeOutput()
{
    if (m_bOpen)
        Record(ELineEvent::PurgeOutput);
}

void CMemoryLine::PurgeInput()
{
    if (!m_bOpen)
        return;
    Arrive();
    m_input.clear();
    Record(ELineEvent::PurgeInput);
}

bool CMemoryLine::Pause(int nMs)
{
    Record(ELineEvent::Pause, nMs);
    const qint64 nEndMs = m_nNowMs + nMs;
    while (m_nNowMs < nEndMs) {
        if (!KeepWaiting())
            return false;
        m_nNowMs = std::min<qint64>(nEndMs, m_nNowMs + WAIT_SLICE_MS);
    }
    return true;
}

bool CMemoryLine::KeepWaiting()
{
    if (m_bCancelled)
        return false;
    if (!m_pOperator)
        return true;
    if (m_nNowMs - m_nAskedAtMs < WAIT_SLICE_MS)
        return true;
    m_nAskedAtMs = m_nNowMs;
    if (m_pOperator->KeepWaiting(m_nReceived))
        return true;
    m_bCancelled = true;
    Record(ELineEvent::Cancel);
    Close();
    return false;
}
