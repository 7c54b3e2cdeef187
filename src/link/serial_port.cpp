#include "link/serial_port.h"

#include "link/device_access.h"
#include "link/operator.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QSerialPort>
#include <QThread>

#include <algorithm>

#include <sys/ioctl.h>

namespace {

// A port name is a device path on this platform. A symlink (say a stable
// name for a pseudo-terminal) is resolved first so that the lock taken on
// open is per device, not per name.
QString DevicePath(const QString &strName)
{
    const QFileInfo info(strName);
    if (!info.isAbsolute())
        return strName; // a bare name such as ttyUSB0; QSerialPort looks it up under /dev
    const QString strCanonical = info.canonicalFilePath();
    return strCanonical.isEmpty() ? strName : strCanonical;
}

// The highest rate the port can take, 0 when it names none. Serial devices
// here report no maximum: a rate the hardware cannot do is refused when the
// line setting is applied.
quint32 MaxBaudRate(const QSerialPort &)
{
    return 0;
}

// The port's own time-out error just means "nothing yet"; every other error
// (an unplugged adapter gives ResourceError) means nothing more will come.
bool PortFailed(QSerialPort &port)
{
    if (port.error() == QSerialPort::TimeoutError)
        port.clearError();
    return port.error() != QSerialPort::NoError;
}

} // namespace

CSerialPort::CSerialPort() = default;

CSerialPort::~CSerialPort() = default;

bool CSerialPort::Open(QString strName, quint32 nRate)
{
    if (m_bOpen)
        return true;
    m_openProblem = SPortProblem();
    // The time-outs divide by the rate.
    if (nRate == 0)
        return false;

    const QString strDevice = DevicePath(strName);
    auto port = std::make_unique<QSerialPort>();
    port->setPortName(strDevice);
    // QSerialPort applies these when it opens the device (raw mode, no
    // XON/XOFF, receiver on). Its lock file makes the open exclusive, also
    // against a second open from this program; the kernel's exclusive mode
    // (below) against programs that take no notice of lock files.
    if (!port->setBaudRate(qint32(nRate)) || !port->setDataBits(QSerialPort::Data8)
        || !port->setParity(QSerialPort::NoParity) || !port->setStopBits(QSerialPort::OneStop)
        || !port->setFlowControl(QSerialPort::NoFlowControl))
        return false;
    if (!port->open(QIODevice::ReadWrite)) {
        // The port's own error cannot tell a lock held by someone else from
        // a device this user may not open, so the device itself is asked.
        m_openProblem = DeviceAccessProblem(strDevice.startsWith(u'/') ? strDevice : QStringLiteral("/dev/") + strDevice);
        return false;
    }

    // While the port is held, the kernel refuses the device to anyone else
    // but root, as serial ports are held elsewhere. Qt's serial port asks
    // for this itself on this platform; it is asked for here too so that the
    // refusal does not rest on that. Closing the device ends it; a device
    // that will not do it is used all the same.
    ::ioctl(int(port->handle()), TIOCEXCL);

    const quint32 nMaxRate = MaxBaudRate(*port);
    if (nMaxRate != 0 && nMaxRate < nRate) {
        port->close();
        m_openProblem.eKind = EPortProblem::Rate;
        return false;
    }
    if (!port->clear(QSerialPort::AllDirections)) {
        port->close();
        return false;
    }
    // Hold DTR and RTS off. A pseudo-terminal has no modem lines and refuses
    // both requests; that is no reason to fail the open.
    port->setDataTerminalReady(false);
    port->setRequestToSend(false);
    port->clearError();
    // Queue sizes: serial devices here have fixed kernel buffers and no call
    // to size them, so there is nothing to set.

    m_hPort = std::move(port);
    m_bOpen = true;
    m_strOpenPort = strName;
    m_nRate = nRate;
    m_nReceived = 0;
    return true;
}

void CSerialPort::Close()
{
    if (!m_bOpen || !m_hPort)
        return;
    m_hPort->clear(QSerialPort::AllDirections);
    m_hPort->close();
    m_hPort.reset();
    m_bOpen = false;
    m_strOpenPort.clear();
}

int CSerialPort::WriteByte(quint8 b)
{
    if (!m_bOpen || !m_hPort)
        return 0;
    const char c = char(b);
    if (m_hPort->write(&c, 1) != 1)
        return 0;
    const int nTimeout = int(TimeoutMultiplier(m_nRate)) + TOTAL_CONSTANT_MS;
    if (m_hPort->bytesToWrite() > 0 && !m_hPort->waitForBytesWritten(nTimeout)) {
        if (PortFailed(*m_hPort))
            Close(); // the device is gone; later reads and writes give 0 at once
        return 0;
    }
    return 1;
}

int CSerialPort::Write(const quint8 *pBytes, int n)
{
    if (!m_bOpen || !m_hPort)
        return 0;
    int nWritten = 0;
    while (nWritten < n && WriteByte(pBytes[nWritten]))
        ++nWritten;
    if (m_hPort) // WriteByte may have closed a port that failed
        m_hPort->flush();
    return nWritten;
}

quint32 CSerialPort::Read(quint8 *pBuffer, quint32 n)
{
    return Receive(pBuffer, n, ReadTotalMs(m_nRate, n), true);
}

quint32 CSerialPort::Listen(quint8 *pBuffer, quint32 n, int nMs)
{
    return Receive(pBuffer, n, nMs, false);
}

quint32 CSerialPort::Receive(quint8 *pBuffer, quint32 n, qint64 nTotalMs, bool bInterval)
{
    if (!m_bOpen || !m_hPort)
        return 0;

    QElapsedTimer total;
    total.start();
    QElapsedTimer sinceLastByte;
    quint32 nGot = 0;

    while (nGot < n) {
        const qint64 nTaken = m_hPort->read(reinterpret_cast<char *>(pBuffer) + nGot, n - nGot);
        if (nTaken > 0) {
            nGot += quint32(nTaken);
            m_nReceived += nTaken;
            sinceLastByte.start();
            continue;
        }

        qint64 nLeftMs = nTotalMs - total.elapsed();
        if (bInterval && sinceLastByte.isValid())
            nLeftMs = std::min(nLeftMs, READ_INTERVAL_MS - sinceLastByte.elapsed());
        if (nLeftMs <= 0)
            break;
        if (!KeepWaiting())
            break;
        if (!m_hPort->waitForReadyRead(int(std::min<qint64>(nLeftMs, WAIT_SLICE_MS)))
            && PortFailed(*m_hPort)) {
            // What is still buffered came before the failure and counts.
            const qint64 nLast = m_hPort->read(reinterpret_cast<char *>(pBuffer) + nGot, n - nGot);
            if (nLast > 0) {
                nGot += quint32(nLast);
                m_nReceived += nLast;
            }
            Close();
            break;
        }
    }
    return nGot;
}

void CSerialPort::PurgeOutput()
{
    if (m_bOpen && m_hPort)
        m_hPort->clear(QSerialPort::Output);
}

void CSerialPort::PurgeInput()
{
    if (m_bOpen && m_hPort)
        m_hPort->clear(QSerialPort::Input);
}

bool CSerialPort::Pause(int nMs)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        const qint64 nLeftMs = nMs - timer.elapsed();
        if (nLeftMs <= 0)
            return true;
        if (!KeepWaiting())
            return false;
        QThread::msleep(ulong(std::min<qint64>(nLeftMs, WAIT_SLICE_MS)));
    }
}

bool CSerialPort::KeepWaiting()
{
    if (m_bCancelled)
        return false;
    if (!m_pOperator)
        return true;
    // Bytes may trickle in far more often than a wait slice; asking on every
    // one would only cost the operator's side time.
    if (m_sinceAsked.isValid() && m_sinceAsked.elapsed() < WAIT_SLICE_MS)
        return true;
    m_sinceAsked.start();
    if (m_pOperator->KeepWaiting(m_nReceived))
        return true;
    m_bCancelled = true;
    Close();
    return false;
}

int ProbePort(QString strName)
{
    // Opening is all the check does; QSerialPort gives the line setting it
    // found back on close.
    QSerialPort port;
    port.setPortName(DevicePath(strName));
    if (!port.open(QIODevice::ReadWrite))
        return 0;
    port.close();
    return 1;
}
