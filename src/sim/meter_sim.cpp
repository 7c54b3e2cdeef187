#include "sim/meter_sim.h"
#include "sim/meter_values.h"

#include "link/frame.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// A meter drops a half-received frame after this much silence on the line.
constexpr auto RESYNC_GAP = std::chrono::milliseconds(500);
// How often the serving thread looks at the stop flag while the line is quiet.
constexpr int POLL_MS = 50;

// Before closing the line after a partial reply, the client gets this long
// to take in what was sent: a hung-up tty discards its unread input.
constexpr auto HANGUP_GRACE_MIN = std::chrono::milliseconds(50);
constexpr auto HANGUP_GRACE_MAX = std::chrono::milliseconds(2000);

constexpr quint16 STATUS_UNKNOWN_COMMAND = 1;

// Bits per second of a termios speed constant; 9600 for anything unusual.
int BitsPerSecond(speed_t speed)
{
    static const struct {
        speed_t speed;
        int nBits;
    } table[] = {
        {B50, 50},       {B75, 75},         {B110, 110},       {B134, 134},       {B150, 150},
        {B200, 200},     {B300, 300},       {B600, 600},       {B1200, 1200},     {B1800, 1800},
        {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
        {B57600, 57600}, {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B921600, 921600},
    };
    for (const auto &row : table)
        if (row.speed == speed)
            return row.nBits;
    return 9600;
}

int DataSize(quint8 nCommand)
{
    switch (nCommand) {
    case CMD_READ_SECOND: return 1036;
    case CMD_READ_MINUTE: return 500;
    case CMD_READ_DAY: return 2204;
    default: return -1;
    }
}

void LogFrame(const char *pDirection, const QByteArray &frame)
{
    QByteArray line(pDirection);
    for (char c : frame)
        line += ' ' + QByteArray::number(quint8(c), 16).rightJustified(2, '0').toUpper();
    line += '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

} // namespace

// One meter on the line: how it behaves and what it has let the client do.
struct SDevice {
    SMeterBehaviour behaviour;
    int nUnlockedLevel = 0;
};

struct CMeterSim::SImpl {
    mutable std::mutex mutex; // guards everything below but the fds and the thread
    // The lone meter that answers every device number while no list is set,
    // and the state each listed meter starts from.
    SDevice anyDevice;
    // When not empty, the meters on the bus; no other number is answered.
    std::map<quint16, SDevice> devices;
    QList<QByteArray> requests;
    int nBadChecksums = 0;
    bool bLogFrames = false;
    QString strSlavePath;

    // Owned by the serving thread while it runs; Start/Stop touch them only
    // when the thread is not running.
    int fdMaster = -1;
    int fdSlave = -1;
    std::thread thread;
    std::atomic<bool> bStop{false};
    std::atomic<bool> bRunning{false};
    Clock::time_point started;

    void Serve();
    void CloseLine();
    void Answer(const QByteArray &request);
    QByteArray BuildReply(const QByteArray &request, SDevice &device);
    void WaitForClientToRead();
    // Sends the reply honouring the cut, the hang-up and the pacing.
    void Send(QByteArray reply, const SMeterBehaviour &b);
    bool WriteAll(const char *p, int n);
    bool LogFrames() const
    {
        std::lock_guard lock(mutex);
        return bLogFrames;
    }

    // The meter that answers nDevice, or null when none does. Under the mutex.
    SDevice *Addressed(quint16 nDevice)
    {
        if (devices.empty())
            return &anyDevice;
        const auto it = devices.find(nDevice);
        return it == devices.end() ? nullptr : &it->second;
    }
    const SDevice *Addressed(quint16 nDevice) const { return const_cast<SImpl *>(this)->Addressed(nDevice); }

    // Runs fn on the lone meter and on every listed one. Under the mutex.
    template <typename F> void ForEveryDevice(F fn)
    {
        fn(anyDevice);
        for (auto &[nNumber, device] : devices)
            fn(device);
    }
};

CMeterSim::CMeterSim() : m_p(std::make_unique<SImpl>()) {}

CMeterSim::~CMeterSim()
{
    Stop();
}

bool CMeterSim::Start(QString *pError)
{
    if (m_p->bRunning)
        return true;
    if (m_p->thread.joinable()) // the line was hung up earlier
        m_p->thread.join();

    int fdMaster = -1;
    int fdSlave = -1;
    if (openpty(&fdMaster, &fdSlave, nullptr, nullptr, nullptr) != 0) {
        if (pError)
            *pError = QStringLiteral("openpty: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    // Raw: no echo, no line editing, no CR/LF translation, 8 bits through.
    termios tio{};
    tcgetattr(fdSlave, &tio);
    cfmakeraw(&tio);
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    tcsetattr(fdSlave, TCSANOW, &tio);
    // The master never blocks the serving thread, so Stop always gets through.
    fcntl(fdMaster, F_SETFL, fcntl(fdMaster, F_GETFL) | O_NONBLOCK);
    fcntl(fdMaster, F_SETFD, FD_CLOEXEC);
    fcntl(fdSlave, F_SETFD, FD_CLOEXEC);

    {
        std::lock_guard lock(m_p->mutex);
        m_p->strSlavePath = QString::fromLocal8Bit(ptsname(fdMaster));
    }
    m_p->fdMaster = fdMaster;
    m_p->fdSlave = fdSlave;
    m_p->started = Clock::now();
    m_p->bStop = false;
    m_p->bRunning = true;
    m_p->thread = std::thread([this] { m_p->Serve(); });
    return true;
}

void CMeterSim::Stop()
{
    m_p->bStop = true;
    if (m_p->thread.joinable())
        m_p->thread.join();
    m_p->CloseLine();
}

bool CMeterSim::IsRunning() const
{
    return m_p->bRunning;
}

QString CMeterSim::SlavePath() const
{
    std::lock_guard lock(m_p->mutex);
    return m_p->strSlavePath;
}

void CMeterSim::SetDevices(const QList<quint16> &devices)
{
    std::lock_guard lock(m_p->mutex);
    m_p->devices.clear();
    for (quint16 nDevice : devices)
        m_p->devices[nDevice] = {m_p->anyDevice.behaviour, 0};
}

QList<quint16> CMeterSim::Devices() const
{
    std::lock_guard lock(m_p->mutex);
    QList<quint16> numbers;
    for (const auto &[nNumber, device] : m_p->devices)
        numbers.append(nNumber);
    return numbers;
}

SMeterBehaviour CMeterSim::Behaviour() const
{
    std::lock_guard lock(m_p->mutex);
    return m_p->anyDevice.behaviour;
}

void CMeterSim::SetBehaviour(const SMeterBehaviour &behaviour)
{
    std::lock_guard lock(m_p->mutex);
    m_p->ForEveryDevice([&](SDevice &device) { device.behaviour = behaviour; });
}

void CMeterSim::ChangeBehaviour(const std::function<void(SMeterBehaviour &)> &fnChange)
{
    std::lock_guard lock(m_p->mutex);
    m_p->ForEveryDevice([&](SDevice &device) { fnChange(device.behaviour); });
}

bool CMeterSim::ChangeDeviceBehaviour(quint16 nDevice, const std::function<void(SMeterBehaviour &)> &fnChange)
{
    std::lock_guard lock(m_p->mutex);
    const auto it = m_p->devices.find(nDevice);
    if (it == m_p->devices.end())
        return false;
    fnChange(it->second.behaviour);
    return true;
}

SMeterBehaviour CMeterSim::DeviceBehaviour(quint16 nDevice) const
{
    std::lock_guard lock(m_p->mutex);
    const SDevice *pDevice = m_p->Addressed(nDevice);
    return (pDevice ? pDevice : &m_p->anyDevice)->behaviour;
}

QList<QByteArray> CMeterSim::Requests() const
{
    std::lock_guard lock(m_p->mutex);
    return m_p->requests;
}

void CMeterSim::ClearRequests()
{
    std::lock_guard lock(m_p->mutex);
    m_p->requests.clear();
}

int CMeterSim::BadChecksums() const
{
    std::lock_guard lock(m_p->mutex);
    return m_p->nBadChecksums;
}

int CMeterSim::UnlockedLevel() const
{
    std::lock_guard lock(m_p->mutex);
    if (m_p->devices.empty())
        return m_p->anyDevice.nUnlockedLevel;
    int nLevel = 0;
    for (const auto &[nNumber, device] : m_p->devices)
        nLevel = std::max(nLevel, device.nUnlockedLevel);
    return nLevel;
}

void CMeterSim::SetUnlockedLevel(int nLevel)
{
    std::lock_guard lock(m_p->mutex);
    m_p->ForEveryDevice([nLevel](SDevice &device) { device.nUnlockedLevel = nLevel; });
}

int CMeterSim::DeviceUnlockedLevel(quint16 nDevice) const
{
    std::lock_guard lock(m_p->mutex);
    const SDevice *pDevice = m_p->Addressed(nDevice);
    return pDevice ? pDevice->nUnlockedLevel : -1;
}

void CMeterSim::SetLogFrames(bool bLog)
{
    std::lock_guard lock(m_p->mutex);
    m_p->bLogFrames = bLog;
}

// Closing both ends is what a pulled cable looks like to the client: its
// port reports a hang-up once no slave descriptor but its own is left and the
// master is gone.
void CMeterSim::SImpl::CloseLine()
{
    if (fdMaster >= 0)
        ::close(fdMaster);
    if (fdSlave >= 0)
        ::close(fdSlave);
    fdMaster = -1;
    fdSlave = -1;
    bRunning = false;
}

void CMeterSim::SImpl::Serve()
{
    QByteArray pending;
    auto lastByte = Clock::now();
    char chunk[512];

    while (!bStop) {
        pollfd pfd{fdMaster, POLLIN, 0};
        const int nReady = ::poll(&pfd, 1, POLL_MS);
        if (nReady < 0 && errno != EINTR) {
            CloseLine(); // the line is unusable; the meter is gone
            return;
        }
        // A pause before these bytes ends whatever came before them.
        if (!pending.isEmpty() && Clock::now() - lastByte > RESYNC_GAP)
            pending.clear();
        if (nReady > 0 && (pfd.revents & POLLIN)) {
            const ssize_t n = ::read(fdMaster, chunk, sizeof chunk);
            if (n > 0) {
                pending.append(chunk, int(n));
                lastByte = Clock::now();
            }
        }

        // Header, then exactly PayloadLength bytes, then the checksum.
        while (pending.size() >= HEADER_SIZE) {
            const auto header = RequestHeader::FromBytes(reinterpret_cast<const quint8 *>(pending.constData()));
            const int nFrame = HEADER_SIZE + header.PayloadLength + 1;
            if (pending.size() < nFrame)
                break;
            const QByteArray request = pending.left(nFrame);
            pending.remove(0, nFrame);
            Answer(request);
            if (fdMaster < 0 || bStop)
                return;
        }
    }
}

void CMeterSim::SImpl::Answer(const QByteArray &request)
{
    if (LogFrames())
        LogFrame("<-", request);

    const auto *p = reinterpret_cast<const quint8 *>(request.constData());
    const int nPayload = int(request.size()) - HEADER_SIZE - 1;
    const quint8 nExpected = FrameChecksum(p, HEADER_SIZE, p + HEADER_SIZE, nPayload);
    const bool bChecksumOk = nExpected == p[HEADER_SIZE + nPayload];

    SMeterBehaviour b;
    QByteArray reply;
    {
        std::lock_guard lock(mutex);
        requests.append(request);
        if (!bChecksumOk) {
            ++nBadChecksums; // a meter stays silent on a damaged frame
            return;
        }
        // A frame for a number no meter here has is another meter's business.
        SDevice *pDevice = Addressed(RequestHeader::FromBytes(p).DeviceNumber);
        if (!pDevice || pDevice->behaviour.bSilent)
            return;
        reply = BuildReply(request, *pDevice);
        b = pDevice->behaviour;
        if (b.nHangupAfter >= 0)
            pDevice->behaviour.nHangupAfter = -1; // applies to one reply; the line is gone after it
    }
    Send(reply, b);
}

// Called under the mutex: it reads and changes the meter's state.
QByteArray CMeterSim::SImpl::BuildReply(const QByteArray &request, SDevice &device)
{
    SMeterBehaviour &b = device.behaviour;
    const auto *p = reinterpret_cast<const quint8 *>(request.constData());
    RequestHeader header = RequestHeader::FromBytes(p);

    if (header.Command == CMD_CHECK) {
        QByteArray echo = request;
        if (b.bWrongEcho)
            echo[8] = char(echo[8] ^ 0x01); // the device number comes back wrong
        if (b.bTailByte)
            echo.append('\0');
        return echo;
    }

    QByteArray data;
    quint16 nStatus = STATUS_OK;
    const int nDataSize = DataSize(header.Command);
    if (header.Command == CMD_UNLOCK) {
        const int nLevel = header.Argument == UNLOCK_LEVEL_1 ? 1 : header.Argument == UNLOCK_LEVEL_2 ? 2 : 0;
        const QByteArray payload = request.mid(HEADER_SIZE, header.PayloadLength);
        if (nLevel == 0) {
            nStatus = STATUS_UNKNOWN_COMMAND;
        } else if (payload == b.aPasswords[nLevel - 1] + QByteArray(1, '\0')) {
            device.nUnlockedLevel = nLevel;
        } else {
            nStatus = STATUS_BAD_PASSWORD;
        }
    } else if (nDataSize < 0) {
        nStatus = STATUS_UNKNOWN_COMMAND;
    } else if (b.bRequireUnlock && device.nUnlockedLevel == 0) {
        nStatus = STATUS_LOCKED;
    } else if (b.nLockedReplies > 0) {
        --b.nLockedReplies;
        nStatus = STATUS_LOCKED;
    } else if (b.nForcedStatus >= 0) {
        nStatus = quint16(b.nForcedStatus);
    } else {
        const int nSet = header.Command - CMD_READ_SECOND;
        const double dNow = b.dFixedMoment >= 0 ? b.dFixedMoment
                                                 : std::chrono::duration<double>(Clock::now() - started).count();
        const double t = dNow + (devices.empty() ? 0.0 : SimHistoryOffset(header.DeviceNumber, header.Feeder));
        data = !b.aFixedData[nSet].isEmpty()         ? b.aFixedData[nSet]
             : header.Command == CMD_READ_SECOND ? SimSecondData(t)
             : header.Command == CMD_READ_MINUTE ? SimMinuteData(t)
                                                 : SimDayData(t);
    }

    header.Status = nStatus;
    header.PayloadLength = quint16(data.size());
    QByteArray reply = header.ToBytes() + data;
    const auto *r = reinterpret_cast<const quint8 *>(reply.constData());
    reply.append(char(FrameChecksum(r, HEADER_SIZE, r + HEADER_SIZE, int(data.size()))));
    if (data.isEmpty() && b.bTailByte)
        reply.append('\0');
    return reply;
}

void CMeterSim::SImpl::Send(QByteArray reply, const SMeterBehaviour &b)
{
    const bool bWithData = reply.size() >= HEADER_SIZE
        && RequestHeader::FromBytes(reinterpret_cast<const quint8 *>(reply.constData())).PayloadLength > 0;
    if (b.nReplyBytes >= 0 && b.nReplyBytes < reply.size())
        reply.truncate(b.nReplyBytes);
    const bool bHangup = b.nHangupAfter >= 0;
    if (bHangup && b.nHangupAfter < reply.size())
        reply.truncate(b.nHangupAfter);

    if (LogFrames())
        LogFrame("->", reply);

    // The time from one byte to the next; none: all at once.
    Clock::duration byteGap{};
    if (b.nSlowReplyMs > 0 && !bWithData) {
        byteGap = std::chrono::milliseconds(b.nSlowReplyMs);
    } else if (b.bPaced) {
        // 10 bits a byte (start, 8 data, stop) at the speed the client set.
        termios tio{};
        tcgetattr(fdSlave, &tio);
        byteGap = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(10.0 / BitsPerSecond(cfgetospeed(&tio))));
    }
    if (byteGap > Clock::duration::zero()) {
        const auto start = Clock::now();
        for (int i = 0; i < reply.size(); ++i) {
            std::this_thread::sleep_until(start + byteGap * (i + 1));
            if (!WriteAll(reply.constData() + i, 1))
                break;
        }
    } else {
        WriteAll(reply.constData(), int(reply.size()));
    }

    if (bHangup) {
        if (!reply.isEmpty())
            WaitForClientToRead();
        CloseLine();
    }
}

bool CMeterSim::SImpl::WriteAll(const char *p, int n)
{
    while (n > 0) {
        if (bStop)
            return false;
        const ssize_t nWritten = ::write(fdMaster, p, size_t(n));
        if (nWritten > 0) {
            p += nWritten;
            n -= int(nWritten);
            continue;
        }
        if (nWritten < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        // The client's input queue is full: wait until it reads or purges.
        pollfd pfd{fdMaster, POLLOUT, 0};
        ::poll(&pfd, 1, POLL_MS);
    }
    return true;
}

void CMeterSim::SImpl::WaitForClientToRead()
{
    const auto start = Clock::now();
    std::this_thread::sleep_for(HANGUP_GRACE_MIN);
    int nUnread = 0;
    while (!bStop && Clock::now() - start < HANGUP_GRACE_MAX && ::ioctl(fdSlave, TIOCINQ, &nUnread) == 0
           && nUnread > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}
