// A line in memory with a scripted meter on the far end and a virtual clock
// in place of waiting, so that the exchanges, time-outs included, can be
// driven in microseconds by the tests and the fuzzer.
#pragma once

#include "link/line.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QStringList>

// A piece of a reply: its bytes arrive together, nAfterMs after the piece
// before (the first piece: after the request was written).
struct SReplyPart {
    qint64 nAfterMs = 0;
    QByteArray bytes;
};

// What the meter sends back to one request. No parts: it stays silent.
struct SReply {
    QList<SReplyPart> parts;

    // All the bytes at once, right after the request.
    static SReply Now(const QByteArray &bytes) { return {{{0, bytes}}}; }
};

enum class ELineEvent { Open, OpenRefused, Close, PurgeOutput, PurgeInput, Write, Pause, Read, Listen, Cancel };

struct SLineEvent {
    ELineEvent kind;
    qint64 nAtMs;     // virtual time when the call began
    int nCount;       // bytes written, bytes a read wanted, ms a pause or a listen asked for
    QByteArray bytes; // bytes written, bytes a read got
};

class CMemoryLine : public ILine {
public:
    // ---- the far end ----------------------------------------------------
    // Each request written is answered by the next reply in the queue, from
    // the first read after it on; with the queue empty the meter is silent.
    // A reply goes on when the line is closed: what comes meanwhile is lost,
    // what comes after the next open is there to be read.
    void QueueReply(const SReply &reply) { m_replies.append(reply); }
    int RepliesLeft() const { return int(m_replies.size()); }
    // A stream the meter sends as fast as it is read, from the first read
    // on, untouched by purges; it follows whatever the replies put there.
    void SetStream(const QByteArray &stream);
    // The nAttempt-th open from now on is refused (1: the next one).
    void RefuseOpen(int nAttempt) { m_refusedOpens.insert(m_nOpenAttempts + nAttempt); }
    // Why a refused open failed, as the line reports it (None by default).
    void SetOpenProblem(const SPortProblem &problem) { m_openProblem = problem; }

    // ---- what happened ---------------------------------------------------
    qint64 NowMs() const { return m_nNowMs; }
    const QList<SLineEvent> &Events() const { return m_events; }
    // One line per event: "open", "write 24", "pause 100", "read 24: 0",
    // "listen 4 ms: 0", ...
    QStringList Log() const;
    // Each run of writes with nothing in between is one frame.
    QList<QByteArray> Frames() const;
    void ClearRecord() { m_events.clear(); }

    // ---- the line ----------------------------------------------------------
    void SetOperator(IOperator *pOperator) override { m_pOperator = pOperator; }
    bool Open(QString strName, quint32 nRate) override;
    SPortProblem OpenProblem() const override { return m_bOpen ? SPortProblem() : m_openProblem; }
    void Close() override;
    bool IsOpen() const override { return m_bOpen; }
    int Write(const quint8 *pBytes, int n) override;
    int WriteByte(quint8 b) override { return Write(&b, 1); }
    quint32 Read(quint8 *pBuffer, quint32 n) override;
    quint32 Listen(quint8 *pBuffer, quint32 n, int nMs) override;
    void PurgeOutput() override;
    void PurgeInput() override;
    bool Pause(int nMs) override;
    bool IsCancelled() const override { return m_bCancelled; }
    void ClearCancelled() override { m_bCancelled = false; }
    qint64 BytesReceived() const override { return m_nReceived; }

private:
    struct SArrival {
        qint64 nAtMs;
        QByteArray bytes;
    };

    void Record(ELineEvent kind, int nCount = 0, const QByteArray &bytes = QByteArray());
    // The meter starts on its reply to the request written last.
    void StartReply();
    // Moves what has arrived by now into the input buffer.
    void Arrive();
    quint32 Take(quint8 *pBuffer, quint32 n);
    // Up to n bytes within nTotalMs, and with bInterval no longer than
    // READ_INTERVAL_MS after the last byte; recorded as a kind event.
    quint32 Receive(ELineEvent kind, quint8 *pBuffer, quint32 n, qint64 nTotalMs, bool bInterval);
    // As the serial port: asks the operator at most once a wait slice.
    bool KeepWaiting();

    IOperator *m_pOperator = nullptr;
    bool m_bOpen = false;
    quint32 m_nRate = 0;
    qint64 m_nNowMs = 0;
    qint64 m_nAskedAtMs = -WAIT_SLICE_MS;
    bool m_bCancelled = false;
    qint64 m_nReceived = 0;
    int m_nOpenAttempts = 0;
    QSet<int> m_refusedOpens;
    SPortProblem m_openProblem;

    QList<SReply> m_replies;
    bool m_bRequestWritten = false;
    qint64 m_nRequestEndMs = 0;
    QList<SArrival> m_arrivals; // in order of time
    QByteArray m_input;
    QByteArray m_stream;
    qsizetype m_nStreamPos = 0;

    QList<SLineEvent> m_events;
};
