// The serial channel: one port, held for the length of one exchange.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QtGlobal>
#include <memory>

class IOperator;
class QSerialPort;

class CSerialPort {
public:
    CSerialPort();
    virtual ~CSerialPort();
    CSerialPort(const CSerialPort &) = delete;
    CSerialPort &operator=(const CSerialPort &) = delete;

    // Where the channel shows its own messages and asks whether to keep
    // waiting. May be null: then nothing is shown and nothing is cancelled.
    void SetOperator(IOperator *pOperator) { m_pOperator = pOperator; }

    // Opens the port exclusively at 8N1, no flow control, DTR and RTS off,
    // purges both directions. 1 on success; an open port returns 1 at once.
    int Open(QString strName, quint32 nRate);
    void Close();
    int IsOpen() const { return m_bOpen; }

    // One write per byte, then a flush. Returns the bytes written.
    int Write(const quint8 *pBytes, int n);
    int WriteByte(quint8 b);
    // Up to n bytes; gives up after (98000 / rate) * n + 1000 ms, or 200 ms
    // after the last byte once one has come. Returns the count that came.
    quint32 Read(quint8 *pBuffer, quint32 n);

    // Discards what waits to be sent or to be read.
    void PurgeOutput();
    void PurgeInput();

    // Waits nMs without blocking the operator's cancel. False if cancelled.
    bool Pause(int nMs);

    // True once the operator cancelled a wait since the last ClearCancelled;
    // the port is then closed and the link stops, showing nothing more.
    bool IsCancelled() const { return m_bCancelled; }
    void ClearCancelled() { m_bCancelled = false; }
    // Bytes received since the last Open.
    qint64 BytesReceived() const { return m_nReceived; }

    // Read time-out parts, exposed for the tests.
    static quint32 TimeoutMultiplier(quint32 nRate) { return nRate ? 98000u / nRate : 0u; }
    static constexpr int READ_INTERVAL_MS = 200;
    static constexpr int TOTAL_CONSTANT_MS = 1000;

private:
    bool KeepWaiting();

    std::unique_ptr<QSerialPort> m_hPort;
    int m_bOpen = 0;
    QString m_strOpenPort;
    quint32 m_nRate = 0;
    IOperator *m_pOperator = nullptr;
    bool m_bCancelled = false;
    qint64 m_nReceived = 0;
    QElapsedTimer m_sinceAsked; // the operator is asked at most once a wait slice
};

// 1 when a port of that name can be opened right now (exists and nobody,
// this program included, holds it), 0 otherwise. Nothing is configured.
int ProbePort(QString strName);
