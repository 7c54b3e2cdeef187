#include "pty_client.h"

#include "link/frame.h"

#include <chrono>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {
using Clock = std::chrono::steady_clock;
}

CPtyClient::~CPtyClient()
{
    Close();
}

void CPtyClient::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool CPtyClient::Open(const QString &strPath, unsigned nSpeed)
{
    Close();
    m_fd = ::open(strPath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    return m_fd >= 0 && SetSpeed(nSpeed);
}

bool CPtyClient::SetSpeed(unsigned nSpeed)
{
    termios tio{};
    tcgetattr(m_fd, &tio);
    cfmakeraw(&tio);
    cfsetispeed(&tio, nSpeed);
    cfsetospeed(&tio, nSpeed);
    return tcsetattr(m_fd, TCSANOW, &tio) == 0;
}

bool CPtyClient::Write(const QByteArray &bytes)
{
    return ::write(m_fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
}

QByteArray CPtyClient::Read(int nMax, int nMs)
{
    QByteArray got;
    const auto deadline = Clock::now() + std::chrono::milliseconds(nMs);
    while (got.size() < nMax) {
        const auto nLeft = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (nLeft <= 0)
            break;
        pollfd pfd{m_fd, POLLIN, 0};
        if (::poll(&pfd, 1, int(nLeft)) <= 0 || !(pfd.revents & POLLIN))
            break;
        char buffer[4096];
        const ssize_t n = ::read(m_fd, buffer, size_t(std::min<qsizetype>(nMax - got.size(), sizeof buffer)));
        if (n <= 0)
            break;
        got.append(buffer, int(n));
    }
    return got;
}

bool CPtyClient::HungUp(int nMs)
{
    pollfd pfd{m_fd, POLLIN, 0};
    if (::poll(&pfd, 1, nMs) <= 0)
        return false;
    if (pfd.revents & (POLLHUP | POLLERR))
        return true;
    char c;
    return ::read(m_fd, &c, 1) <= 0 && errno != EAGAIN;
}

QByteArray RequestFrame(quint8 nCommand, quint8 nArgument, const QByteArray &payload)
{
    return RequestFrameTo(1, 0, nCommand, nArgument, payload);
}

QByteArray RequestFrameTo(quint16 nDevice, quint8 nFeeder, quint8 nCommand, quint8 nArgument,
                          const QByteArray &payload)
{
    const auto header = RequestHeader::Request(nCommand, nArgument, nDevice, nFeeder, quint16(payload.size()));
    QByteArray frame = header.ToBytes() + payload;
    const auto *p = reinterpret_cast<const quint8 *>(frame.constData());
    frame.append(char(FrameChecksum(p, HEADER_SIZE, p + HEADER_SIZE, int(payload.size()))));
    return frame;
}

int ReplyStatus(const QByteArray &reply)
{
    if (reply.size() < HEADER_SIZE)
        return -1;
    return quint8(reply[22]) | (quint8(reply[23]) << 8);
}

QByteArray CPtyClient::Ask(const QByteArray &request, int nExpected, int nReplyMs, int nQuietMs)
{
    if (!Write(request))
        return {};
    const QByteArray reply = Read(nExpected, nReplyMs);
    return reply + Read(8192, nQuietMs);
}
