// The serial channel: one port, held for the length of one exchange.
#pragma once

#include "link/line.h"

#include <QElapsedTimer>
#include <QString>
#include <QtGlobal>
#include <memory>

class IOperator;
class QSerialPort;

class CSerialPort : public ILine {
public:
    CSerialPort();
    ~CSerialPort() override;
    CSerialPort(const CSerialPort &) = delete;
    CSerialPort &operator=(const CSerialPort &) = delete;

    void SetOperator(IOperator *pOperator) override { m_pOperator = pOperator; }

    // Opens the port exclusively (a lock file and the kernel's exclusive
    // mode) at 8N1, no flow control, DTR and RTS off, purges both
    // directions. True on success; an open port gives true at once.
    bool Open(QString strName, quint32 nRate) override;
    SPortProblem OpenProblem() const override { return m_openProblem; }
    void Close() override;
    bool IsOpen() const override { return m_bOpen; }

    // One write per byte, then a flush. Returns the bytes written.
    int Write(const quint8 *pBytes, int n) override;
    int WriteByte(quint8 b) override;
    quint32 Read(quint8 *pBuffer, quint32 n) override;
    quint32 Listen(quint8 *pBuffer, quint32 n, int nMs) override;

    void PurgeOutput() override;
    void PurgeInput() override;

    bool Pause(int nMs) override;

    bool IsCancelled() const override { return m_bCancelled; }
    void ClearCancelled() override { m_bCancelled = false; }
    qint64 BytesReceived() const override { return m_nReceived; }

private:
    bool KeepWaiting();
    // Up to n bytes within nTotalMs, and with bInterval no longer than
    // READ_INTERVAL_MS after the last byte.
    quint32 Receive(quint8 *pBuffer, quint32 n, qint64 nTotalMs, bool bInterval);

    std::unique_ptr<QSerialPort> m_hPort;
    bool m_bOpen = false;
    QString m_strOpenPort;
    SPortProblem m_openProblem;
    quint32 m_nRate = 0;
    IOperator *m_pOperator = nullptr;
    bool m_bCancelled = false;
    qint64 m_nReceived = 0;
    QElapsedTimer m_sinceAsked; // the operator is asked at most once a wait slice
};

// 1 when a port of that name can be opened right now (exists and nobody,
// this program included, holds it), 0 otherwise. Nothing is configured.
int ProbePort(QString strName);
