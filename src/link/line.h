// The line the meter link talks over: opened for one exchange, written,
// read under the meter's time-outs, closed again. The program uses the
// serial port; the tests and the fuzzer use a line in memory.
#pragma once

#include "link/link_failure.h"

#include <QString>
#include <QtGlobal>

class IOperator;

class ILine {
public:
    virtual ~ILine() = default;

    // Where the line shows its own messages and asks whether to keep
    // waiting. May be null: then nothing is shown and nothing is cancelled.
    virtual void SetOperator(IOperator *pOperator) = 0;

    // Opens the line at the rate and purges both directions. True on
    // success; an open line gives true at once, whatever name and rate are
    // asked for.
    virtual bool Open(QString strName, quint32 nRate) = 0;
    // After a failed Open: why, when the operator can remedy it (their user
    // may not open the device, the port cannot do the rate); None otherwise.
    virtual SPortProblem OpenProblem() const = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;

    // Returns the bytes written; a closed line takes none.
    virtual int Write(const quint8 *pBytes, int n) = 0;
    virtual int WriteByte(quint8 b) = 0;
    // Up to n bytes; gives up after ReadTotalMs(rate, n), or
    // READ_INTERVAL_MS after the last byte once one has come. Returns the
    // count that came.
    virtual quint32 Read(quint8 *pBuffer, quint32 n) = 0;
    // Up to n bytes that are waiting or come within nMs; returns as soon as
    // n have come. For the moment after a reply, when the meter should be
    // quiet or send at most the byte it adds to some replies.
    virtual quint32 Listen(quint8 *pBuffer, quint32 n, int nMs) = 0;

    // Discards what waits to be sent or to be read.
    virtual void PurgeOutput() = 0;
    virtual void PurgeInput() = 0;

    // Waits nMs without blocking the operator's cancel. False if cancelled.
    virtual bool Pause(int nMs) = 0;

    // True once the operator cancelled a wait since the last ClearCancelled;
    // the line is then closed and the link stops, showing nothing more.
    virtual bool IsCancelled() const = 0;
    virtual void ClearCancelled() = 0;
    // Bytes received since the last Open.
    virtual qint64 BytesReceived() const = 0;

    // The read time-outs the meter protocol is built around.
    static quint32 TimeoutMultiplier(quint32 nRate) { return nRate ? 98000u / nRate : 0u; }
    static constexpr int READ_INTERVAL_MS = 200;
    static constexpr int TOTAL_CONSTANT_MS = 1000;
    static qint64 ReadTotalMs(quint32 nRate, quint32 n)
    {
        return qint64(TimeoutMultiplier(nRate)) * n + TOTAL_CONSTANT_MS;
    }
    // Longest stretch a wait goes without asking the operator whether to go
    // on; short enough that a cancel ends a wait well within 0.2 s.
    static constexpr int WAIT_SLICE_MS = 25;
};
