// The client end of the simulator's line, with nothing but POSIX calls, so
// the simulator's tests do not lean on the program's own serial channel.
#pragma once

#include <QByteArray>
#include <QString>

class CPtyClient {
public:
    CPtyClient() = default;
    ~CPtyClient();
    CPtyClient(const CPtyClient &) = delete;
    CPtyClient &operator=(const CPtyClient &) = delete;

    // Opens the device raw at the given termios speed (B9600, B2400 ...).
    bool Open(const QString &strPath, unsigned nSpeed);
    bool SetSpeed(unsigned nSpeed);
    void Close();
    bool Write(const QByteArray &bytes);
    // Whatever arrives until nMax bytes are in or nMs have passed.
    QByteArray Read(int nMax, int nMs);
    // Sends a frame and collects the nExpected bytes of the answer (waiting
    // up to nReplyMs for them), and whatever follows within nQuietMs.
    QByteArray Ask(const QByteArray &request, int nExpected, int nReplyMs, int nQuietMs);
    // True when the line has gone (the meter hung up).
    bool HungUp(int nMs);

private:
    int m_fd = -1;
};

// A request frame to device 1, first feeder: header, payload, checksum.
QByteArray RequestFrame(quint8 nCommand, quint8 nArgument, const QByteArray &payload = QByteArray());
// The same to the device and feeder given.
QByteArray RequestFrameTo(quint16 nDevice, quint8 nFeeder, quint8 nCommand, quint8 nArgument,
                          const QByteArray &payload = QByteArray());
// The reply's 16-bit status (bytes 22 and 23).
int ReplyStatus(const QByteArray &reply);
