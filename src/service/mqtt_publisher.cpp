#include "service/mqtt_publisher.h"

#include "files/outbox.h"

#include <mqtt/async_client.h>

#include <QFileInfo>
#include <QUrl>

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Messages in flight at once. The broker keeps the order of one connection,
// so a window this wide keeps the order and still fills the pipe on a replay.
constexpr int kWindow = 100;
// A QoS 2 message in flight holds a place in the broker until its PUBREL,
// and a broker refuses those past its quota (mosquitto: 20) with a reason
// code MQTT 3.1.1 cannot carry, so the client takes the refusal for an
// acknowledgement and the message is lost. Under every common quota.
constexpr int kQos2Window = 10;
constexpr int kPahoInflight = 65535; // MQTT's packet ids: all a connection can have
constexpr int kMaxQueued = 100000;
constexpr auto kFirstBackoff = 1s;
constexpr auto kLastBackoff = 60s;
// A connection that stayed up this long starts the back-off afresh; one that
// drops at once (a twin with our client id, a broker that kicks us) keeps
// doubling, so the log does not fill with connects and losses.
constexpr auto kSteadyConnection = 60s;
constexpr int kConnectTimeoutSec = 10;
constexpr int kKeepAliveSec = 20;
// Pushes and acknowledgements reach the disk at least this often; an
// acknowledgement that leaves nothing waiting at once.
constexpr auto kSyncEvery = 1s;
// How long the answers of what is in flight are awaited before the outbox
// moves or the connection is made anew with other settings.
constexpr auto kSettle = 1s;
// An outbox that could not be opened is tried again this often (and at each
// reload).
constexpr auto kOutboxRetry = 60s;
// Readings moved at a time from an old outbox to a new one; pushes wait only
// for the last such batch.
constexpr int kMoveBatch = 512;

// Whether two settings connect alike: all but the outbox's bound.
bool SameConnection(SMqttConfig a, const SMqttConfig &b)
{
    a.nOutboxMaxBytes = b.nOutboxMaxBytes;
    return a == b;
}

bool IsTlsUrl(const QString &strUrl)
{
    return strUrl.startsWith(QLatin1String("ssl://")) || strUrl.startsWith(QLatin1String("mqtts://"));
}

std::string Std(const QString &strText)
{
    return strText.toStdString();
}

QString Text(const std::string &text)
{
    return QString::fromStdString(text);
}

// Why a connect failed, and whether an operator has to mend something.
struct SFailure {
    EPriority ePriority = EPriority::Warning;
    QString strReason;
};

// The refusals of a CONNACK (MQTT 3.1.1): the broker answered and said no.
std::optional<SFailure> RefusalOf(int nRc)
{
    switch (nRc) {
    case 1:
        return SFailure{EPriority::Error, QStringLiteral("the broker does not speak MQTT 3.1.1")};
    case 2:
        return SFailure{EPriority::Error, QStringLiteral("the broker refused the client id")};
    case 3:
        return SFailure{EPriority::Warning, QStringLiteral("the broker says it is unavailable")};
    case 4:
        return SFailure{EPriority::Error, QStringLiteral("the broker refused the user name or password")};
    case 5:
        // Mosquitto's answer to a wrong password as well.
        return SFailure{EPriority::Error, QStringLiteral("the broker refused: not authorised (the user name or "
                                                         "password is wrong, or the user may not connect)")};
    default:
        return std::nullopt;
    }
}

// Whether a TCP connection to the broker's host and port can be made, found
// by a thread of its own: a name lookup can hang far longer than a stop may
// wait, so the caller waits for it only as long as it likes.
class CReachProbe {
public:
    CReachProbe(const std::string &host, const std::string &port) : m_p(std::make_shared<SResult>())
    {
        std::thread([p = m_p, host, port] {
            const QString strError = TryConnect(host, port);
            const std::lock_guard<std::mutex> lock(p->mutex);
            p->strError = strError;
            p->bDone = true;
            p->cv.notify_all();
        }).detach();
    }

    // Empty: reachable; nullopt: no answer within the wait.
    std::optional<QString> Wait(std::chrono::milliseconds wait)
    {
        std::unique_lock<std::mutex> lock(m_p->mutex);
        if (!m_p->cv.wait_for(lock, wait, [this] { return m_p->bDone; }))
            return std::nullopt;
        return m_p->strError;
    }

private:
    struct SResult {
        std::mutex mutex;
        std::condition_variable cv;
        bool bDone = false;
        QString strError;
    };
    std::shared_ptr<SResult> m_p;

    static QString TryConnect(const std::string &host, const std::string &port)
    {
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *pFound = nullptr;
        const int nLookup = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &pFound);
        if (nLookup != 0)
            return QStringLiteral("cannot find %1: %2").arg(Text(host), QString::fromLocal8Bit(gai_strerror(nLookup)));
        int nErrno = 0;
        for (const addrinfo *p = pFound; p; p = p->ai_next) {
            const int fd = ::socket(p->ai_family, p->ai_socktype | SOCK_CLOEXEC, p->ai_protocol);
            if (fd < 0) {
                nErrno = errno;
                continue;
            }
            const timeval timeout{3, 0}; // bounds a connect on Linux
            ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
            const bool bConnected = ::connect(fd, p->ai_addr, p->ai_addrlen) == 0;
            nErrno = errno;
            ::close(fd);
            if (bConnected) {
                nErrno = 0;
                break;
            }
        }
        ::freeaddrinfo(pFound);
        return nErrno == 0 ? QString()
                           : QStringLiteral("cannot reach %1 port %2: %3")
                                 .arg(Text(host), Text(port), QString::fromLocal8Bit(std::strerror(nErrno)));
    }
};

} // namespace

struct CMqttPublisher::SImpl : mqtt::iaction_listener {
    SImpl(const SMqttConfig &config, const QString &strOutboxFolder, CJournal &journal)
        : journal(journal), config(config), strWantedFolder(strOutboxFolder), nMaxBytes(config.nOutboxMaxBytes),
          topicPrefix(config.strTopic.toUtf8()), wanted(config)
    {
    }

    CJournal &journal;
    // The settings of the connection; only the thread uses them, and takes
    // new ones from `wanted` between two connections.
    SMqttConfig config;

    // The outbox, and what the publisher counts of it. The callers push, the
    // thread peeks, acknowledges and replaces the outbox; only the thread
    // changes pOutbox, so it reads the pointer without the lock.
    std::mutex outboxMutex;
    std::unique_ptr<COutbox> pOutbox; // none while none could be opened
    QString strFolder;                // pOutbox's
    QString strWantedFolder;          // the configuration's
    qint64 nMaxBytes;
    QByteArray topicPrefix;           // of the readings pushed from now on
    bool bTendNow = false;            // a reload asks for the wanted folder at once
    Clock::time_point lastTend = Clock::now();
    QString strFailSaid;              // the folder whose failure to open was said
    qint64 nDroppedBefore = 0;        // dropped by outboxes no longer open
    qint64 nDroppedSeen = 0;          // dropped by every outbox, when last looked at
    qint64 nDroppedAtPeek = 0;        // pOutbox->DroppedSinceOpen at the last Peek
    int nAckedOfPeek = 0;             // of the last Peek's messages, those acknowledged
    qint64 nBurstFirst = -1;          // nDroppedSeen when the running burst of drops began; -1: none
    qint64 nUnkept = 0;               // readings no outbox took
    bool bPushFailing = false;        // said once until a push succeeds again
    bool bOutboxChanged = false;
    Clock::time_point lastSync = Clock::now();

    std::atomic<qint64> nDropped{0};
    std::atomic<qint64> nWaiting{0};
    std::atomic<bool> bConnected{false};

    // What the thread waits on; Paho's callbacks come on Paho's threads.
    std::mutex mutex;
    std::condition_variable cv;
    SMqttConfig wanted;                // the latest settings given
    bool bNewSettings = false;         // wanted connects otherwise than config
    bool bStop = false;
    Clock::time_point deliverUntil;    // on a stop: the last moment to send a reading
    Clock::time_point answersUntil;    // on a stop: the last moment to wait for answers
    Clock::time_point stopDeadline;    // on a stop: the thread is gone by then
    bool bWork = false;                // a push (or a reload) since the thread last looked
    bool bLost = false;                // the current connection is gone
    QString strLostCause;
    std::map<QString, QByteArray> states; // the latest of each meter; empty: clear it
    std::set<QString> unsentStates;
    // The readings in flight, from the head of the outbox on: 0 waiting, 1
    // delivered, 2 failed. A delivery callback names its reading by the
    // connection and the reading's number on it.
    std::deque<char> flight;
    std::uint64_t nFlightFirst = 0;   // the number of flight.front() on this connection
    std::uint64_t nGeneration = 0;    // a new one for each connection and each flight given up
    std::uint64_t nAnswers = 0;       // callbacks so far: the thread waits for the next
    enum class EConnect { Waiting, Done, Failed } eConnect = EConnect::Waiting;
    int nConnectRc = 0;

    std::thread thread;

    // The connect token's answer.
    struct SConnectListener : mqtt::iaction_listener {
        SImpl &impl;
        explicit SConnectListener(SImpl &impl) : impl(impl) {}
        void on_success(const mqtt::token &) override { impl.ConnectAnswered(EConnect::Done, 0); }
        void on_failure(const mqtt::token &token) override
        {
            impl.ConnectAnswered(EConnect::Failed, token.get_return_code());
        }
    } connectListener{*this};

    void ConnectAnswered(EConnect eResult, int nRc)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        eConnect = eResult;
        nConnectRc = nRc;
        cv.notify_all();
    }

    // A reading's delivery token: its context says which flight (the top 16
    // bits) and which reading on it.
    static constexpr int kNumberBits = 48;
    void *Context(std::uint64_t nNumber) const
    {
        return reinterpret_cast<void *>(std::uintptr_t((nGeneration << kNumberBits) | nNumber));
    }
    void Delivered(const mqtt::token &token, char result)
    {
        const auto context = std::uint64_t(reinterpret_cast<std::uintptr_t>(token.get_user_context()));
        const std::lock_guard<std::mutex> lock(mutex);
        const std::uint64_t nNumber = context & ((std::uint64_t(1) << kNumberBits) - 1);
        if ((context >> kNumberBits) != (nGeneration & 0xffff) || nNumber < nFlightFirst
            || nNumber - nFlightFirst >= flight.size())
            return; // of a flight given up on
        flight[size_t(nNumber - nFlightFirst)] = result;
        ++nAnswers;
        cv.notify_all();
    }
    void on_success(const mqtt::token &token) override { Delivered(token, 1); }
    void on_failure(const mqtt::token &token) override { Delivered(token, 2); }

    void ConnectionLost(const std::string &cause)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        bLost = true;
        strLostCause = cause.empty() ? QStringLiteral("the connection closed") : Text(cause);
        cv.notify_all();
    }

    // The status and the states replace what the broker retains, so a
    // duplicate does no harm, and outside the readings' window they must not
    // take places of the broker's QoS 2 quota.
    int RetainedQos() const { return std::min(config.nQos, 1); }
    std::string StatusTopic() const { return Std(config.strTopic + QStringLiteral("/status")); }

    bool Stopping()
    {
        const std::lock_guard<std::mutex> lock(mutex);
        return bStop;
    }

    enum class EEnd { Lost, Stopped, NewSettings };

    void Run();
    bool TakeSettings();
    std::unique_ptr<mqtt::async_client> NewClient(SFailure &failure);
    mqtt::connect_options ConnectOptions() const;
    std::optional<SFailure> Connect(mqtt::async_client &client, bool &bStopped);
    SFailure Diagnose(int nRc);
    bool WaitFor(std::chrono::milliseconds pause);
    EEnd Deliver(mqtt::async_client &client);
    bool Refill(mqtt::async_client &client, int nWindow);
    void ResetFlight();
    size_t AckDelivered();
    void Settle(Clock::time_point until);
    bool PublishStates(mqtt::async_client &client);
    void Leave(mqtt::async_client &client, bool bSayOffline, Clock::time_point until);
    void SyncIfDue(bool bNow = false);
    QString DroppedBurstLine();
    QString NoteDrops();
    bool OutboxDue();
    bool TendOutbox();
    bool MoveInto(std::unique_ptr<COutbox> &pNew, const QString &strNewFolder, qint64 &nMoved);
    void Install(std::unique_ptr<COutbox> pNew, const QString &strNewFolder);
    bool SayHeld(COutbox &outbox);
};

std::unique_ptr<mqtt::async_client> CMqttPublisher::SImpl::NewClient(SFailure &failure)
{
    try {
        // No persistence of Paho's own: the outbox is the one record of what
        // is owed, and a new client per connection means nothing of an
        // earlier connection is sent again behind the outbox's back.
        // Paho counts every message not yet written as "buffered", connected
        // or not, and refuses a publish past the bound: room for a window and
        // the states of every meter. Nothing is buffered while disconnected.
        const mqtt::create_options create(MQTTVERSION_3_1_1, kMaxQueued);
        auto pClient = std::make_unique<mqtt::async_client>(Std(config.strUrl), Std(ClientId(config)), create);
        pClient->set_connection_lost_handler([this](const std::string &cause) { ConnectionLost(cause); });
        return pClient;
    } catch (const mqtt::exception &error) {
        failure = {EPriority::Error, QStringLiteral("the address is not usable: ") + Text(error.get_error_str())};
        return nullptr;
    }
}

mqtt::connect_options CMqttPublisher::SImpl::ConnectOptions() const
{
    mqtt::connect_options options;
    options.set_mqtt_version(MQTTVERSION_3_1_1); // one try per connect, and its refusal is the broker's own
    // The outbox already keeps what the broker has not acknowledged, and a
    // publisher subscribes to nothing; a session kept on the broker would
    // only add its own redelivery to the outbox's.
    options.set_clean_session(true);
    options.set_keep_alive_interval(kKeepAliveSec);
    options.set_connect_timeout(kConnectTimeoutSec);
    // The window bounds what is in flight. Paho's own bound is kept above it:
    // a message Paho 1.3 holds back for its bound is not sent when the
    // acknowledgements make room, and the delivery stalls.
    options.set_max_inflight(kPahoInflight);
    options.set_automatic_reconnect(false);
    options.set_will(mqtt::will_options(StatusTopic(), std::string("offline"), RetainedQos(), true));
    if (!config.strUsername.isEmpty()) {
        options.set_user_name(Std(config.strUsername));
        options.set_password(Std(config.strPassword));
    }
    if (IsTlsUrl(config.strUrl)) {
        // No error handler: Paho 1.2 keeps the handler's address in a copy of
        // the options it frees before the handshake runs. Diagnose tells
        // the failures apart instead.
        mqtt::ssl_options ssl;
        if (!config.strCaFile.isEmpty())
            ssl.set_trust_store(Std(config.strCaFile)); // else the system's CAs
        if (!config.strCertFile.isEmpty())
            ssl.set_key_store(Std(config.strCertFile));
        if (!config.strKeyFile.isEmpty())
            ssl.set_private_key(Std(config.strKeyFile));
        ssl.set_enable_server_cert_auth(true);
        ssl.set_verify(true); // the certificate must name the host of the url
        options.set_ssl(std::move(ssl));
    }
    return options;
}

// Nothing when connected; the failure otherwise (bStopped: a stop cut it short).
std::optional<SFailure> CMqttPublisher::SImpl::Connect(mqtt::async_client &client, bool &bStopped)
{
    bStopped = false;
    for (const QString &strFile : {config.strCaFile, config.strCertFile, config.strKeyFile})
        if (!strFile.isEmpty() && !QFileInfo(strFile).isReadable())
            return SFailure{EPriority::Error, QStringLiteral("cannot read %1").arg(strFile)};
    {
        const std::lock_guard<std::mutex> lock(mutex);
        eConnect = EConnect::Waiting;
        bLost = false;
    }
    try {
        client.connect(ConnectOptions(), nullptr, connectListener);
    } catch (const mqtt::exception &error) {
        return SFailure{EPriority::Error, Text(error.get_error_str())};
    }
    std::unique_lock<std::mutex> lock(mutex);
    const bool bAnswered = cv.wait_for(lock, std::chrono::seconds(kConnectTimeoutSec + 5),
                                       [this] { return bStop || eConnect != EConnect::Waiting; });
    if (eConnect == EConnect::Done)
        return std::nullopt;
    if (bStop) {
        bStopped = true;
        return SFailure{};
    }
    const int nRc = bAnswered ? nConnectRc : MQTTASYNC_FAILURE;
    lock.unlock();
    return Diagnose(nRc);
}

SFailure CMqttPublisher::SImpl::Diagnose(int nRc)
{
    if (auto refusal = RefusalOf(nRc))
        return *refusal;
    if (nRc != MQTTASYNC_FAILURE)
        return {EPriority::Warning, Text(mqtt::exception::error_str(nRc))};
    // Paho says no more than "TCP/TLS connect failure": whether the port
    // answers tells a broker away from a handshake that failed.
    const bool bTls = IsTlsUrl(config.strUrl);
    const QUrl url(config.strUrl);
    const std::string host = Std(url.host());
    const std::string port = std::to_string(url.port(bTls ? 8883 : 1883));
    CReachProbe probe(host, port);
    std::optional<QString> reached;
    for (int nSlice = 0; nSlice < 40 && !reached && !Stopping(); ++nSlice)
        reached = probe.Wait(100ms);
    if (!reached)
        return {EPriority::Warning, QStringLiteral("no answer from %1 port %2").arg(url.host(), Text(port))};
    if (!reached->isEmpty())
        return {EPriority::Warning, *reached};
    if (!bTls)
        return {EPriority::Warning, QStringLiteral("the connection closed before the broker answered")};
    const QString strTrust = config.strCaFile.isEmpty() ? QStringLiteral("the system's CAs") : config.strCaFile;
    return {EPriority::Error, QStringLiteral("the TLS handshake failed: the broker's certificate is not trusted by %1 "
                                             "or does not name %2, or the broker refused our certificate")
                                  .arg(strTrust, url.host())};
}

// Waits the pause unless a stop or new settings come; keeps the outbox
// synced and tended meanwhile. False on a stop.
bool CMqttPublisher::SImpl::WaitFor(std::chrono::milliseconds pause)
{
    const auto until = Clock::now() + pause;
    for (;;) {
        SyncIfDue();
        if (OutboxDue())
            TendOutbox();
        std::unique_lock<std::mutex> lock(mutex);
        if (bStop)
            return false;
        const auto now = Clock::now();
        if (now >= until || bNewSettings)
            return true;
        cv.wait_for(lock, std::min<Clock::duration>(until - now, kSyncEvery),
                    [this] { return bStop || bNewSettings || bWork; });
        bWork = false;
    }
}

// The settings given last become the connection's; true when they connect
// otherwise.
bool CMqttPublisher::SImpl::TakeSettings()
{
    const std::lock_guard<std::mutex> lock(mutex);
    const bool bChanged = bNewSettings;
    config = wanted;
    bNewSettings = false;
    return bChanged;
}

void CMqttPublisher::SImpl::Run()
{
    std::chrono::milliseconds backoff = kFirstBackoff;
    QString strLastFailure; // said once until it changes or a connect succeeds
    while (!Stopping()) {
        if (TakeSettings()) {
            backoff = kFirstBackoff;
            strLastFailure.clear();
        }
        if (OutboxDue())
            TendOutbox();
        SFailure failure;
        auto pClient = NewClient(failure);
        bool bStopped = false;
        std::optional<SFailure> connectFailure = pClient ? Connect(*pClient, bStopped) : failure;
        if (bStopped)
            break;
        if (connectFailure) {
            pClient.reset();
            if (connectFailure->strReason != strLastFailure) {
                strLastFailure = connectFailure->strReason;
                journal.Write(connectFailure->ePriority,
                              QStringLiteral("cannot connect to %1: %2; trying again after a growing pause of at most %3 s")
                                  .arg(config.strUrl, strLastFailure)
                                  .arg(std::chrono::seconds(kLastBackoff).count()));
            }
            if (!WaitFor(backoff))
                break;
            backoff = std::min<std::chrono::milliseconds>(backoff * 2, kLastBackoff);
            continue;
        }
        strLastFailure.clear();
        const auto connectedAt = Clock::now();
        bConnected = true;
        journal.Write(EPriority::Notice, QStringLiteral("connected to %1").arg(config.strUrl));
        const EEnd eEnd = Deliver(*pClient);
        bConnected = false;
        if (eEnd == EEnd::Stopped) {
            Clock::time_point until;
            {
                const std::lock_guard<std::mutex> lock(mutex);
                until = stopDeadline;
            }
            Leave(*pClient, true, until);
            break;
        }
        if (eEnd == EEnd::NewSettings) {
            // The broker keeps "online" when only the way to it changes;
            // one left behind hears "offline".
            SMqttConfig next;
            {
                const std::lock_guard<std::mutex> lock(mutex);
                next = wanted;
            }
            Leave(*pClient, next.strUrl != config.strUrl || next.strTopic != config.strTopic, Clock::now() + kSettle);
            backoff = kFirstBackoff;
            continue;
        }
        QString strCause;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            strCause = strLostCause;
        }
        pClient.reset();
        journal.Write(EPriority::Warning, QStringLiteral("lost the connection to %1: %2; %3 readings wait on disk")
                                              .arg(config.strUrl, strCause)
                                              .arg(nWaiting.load()));
        if (Clock::now() - connectedAt >= kSteadyConnection)
            backoff = kFirstBackoff;
        if (!WaitFor(backoff))
            break;
        backoff = std::min<std::chrono::milliseconds>(backoff * 2, kLastBackoff);
    }
    SyncIfDue(true);
}

// Delivers the outbox and the states until the connection is lost, a stop
// leaves nothing more to do in its time, or new settings come.
CMqttPublisher::SImpl::EEnd CMqttPublisher::SImpl::Deliver(mqtt::async_client &client)
{
    try {
        client.publish(StatusTopic(), "online", 6, RetainedQos(), true);
    } catch (const mqtt::exception &error) {
        ConnectionLost(error.get_error_str());
    }
    const int nWindow = config.nQos == 2 ? kQos2Window : kWindow;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        for (const auto &state : states)
            unsentStates.insert(state.first);
    }
    ResetFlight();
    for (;;) {
        if (OutboxDue()) {
            // The flight belongs to the outbox it came from.
            Settle(Clock::now() + kSettle);
            TendOutbox();
            ResetFlight();
        }
        const bool bEmpty = PublishStates(client) && Refill(client, nWindow);
        std::unique_lock<std::mutex> lock(mutex);
        if (bLost) {
            lock.unlock();
            AckDelivered(); // what came in before the end
            return EEnd::Lost;
        }
        if (bStop && (bEmpty || Clock::now() >= deliverUntil)) {
            const auto until = answersUntil;
            lock.unlock();
            Settle(until);
            return EEnd::Stopped;
        }
        if (bNewSettings && !bStop) {
            lock.unlock();
            Settle(Clock::now() + kSettle);
            return EEnd::NewSettings;
        }
        const bool bStopping = bStop;
        const std::uint64_t nSeen = nAnswers;
        const auto now = Clock::now();
        cv.wait_until(lock, bStopping ? std::min(deliverUntil, now + kSyncEvery) : now + kSyncEvery, [&] {
            return (bStop && !bStopping) || bLost || bWork || bNewSettings || nAnswers != nSeen
                   || !unsentStates.empty();
        });
        bWork = false;
        lock.unlock();
        SyncIfDue();
    }
}

// A flight begun anew: what of it was not answered goes again from the head
// of the outbox, and late answers of the old one count for nothing.
void CMqttPublisher::SImpl::ResetFlight()
{
    const std::lock_guard<std::mutex> lock(mutex);
    nGeneration = (nGeneration + 1) & 0xffff;
    flight.clear();
    nFlightFirst = 0;
}

// Waits, until the time given, for the answers of every reading in flight
// (or the connection's loss), lets the answered ones go from the outbox and
// puts its position on the disk: a clean stop then sends none of them again.
void CMqttPublisher::SImpl::Settle(Clock::time_point until)
{
    {
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait_until(lock, until,
                      [this] { return bLost || std::find(flight.begin(), flight.end(), 0) == flight.end(); });
    }
    AckDelivered();
    SyncIfDue(true);
}

// The answered start of the flight leaves it and the outbox; when nothing
// else waits the position goes on the disk at once, so a crash sends again
// only what was in flight and what came since. (Under a load the outbox's
// own grouping of syncs holds.)
size_t CMqttPublisher::SImpl::AckDelivered()
{
    size_t nDelivered = 0;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        while (nDelivered < flight.size() && flight[nDelivered] == 1)
            ++nDelivered;
        if (nDelivered < flight.size() && flight[nDelivered] == 2 && !bLost) {
            // The broker took the connection but not the reading.
            bLost = true;
            strLostCause = QStringLiteral("a reading was not acknowledged");
        }
        flight.erase(flight.begin(), flight.begin() + std::ptrdiff_t(nDelivered));
        nFlightFirst += nDelivered;
    }
    QString strBurst;
    if (nDelivered > 0) {
        const std::lock_guard<std::mutex> lock(outboxMutex);
        if (!pOutbox)
            return nDelivered;
        nAckedOfPeek += int(nDelivered);
        pOutbox->Ack(nAckedOfPeek);
        nWaiting = pOutbox->Count();
        bOutboxChanged = true;
        if (nWaiting == 0) {
            pOutbox->Sync();
            bOutboxChanged = false;
            lastSync = Clock::now();
        }
        // The outbox drops a part of itself at a time, so a burst of drops
        // ends not at a push that dropped nothing but once the broker has
        // taken the outbox down to half its bound.
        if (pOutbox->Bytes() < nMaxBytes / 2)
            strBurst = DroppedBurstLine();
    }
    if (!strBurst.isEmpty())
        journal.Write(EPriority::Warning, strBurst);
    return nDelivered;
}

// Tops the flight up from the outbox once a tenth of it is answered: the
// broker's acknowledgements then always have readings of ours to ride back
// with, where a window sent whole and waited for whole would wait at each
// end for the TCP of either side to let the last small packets go (Nagle
// against delayed ACKs: 3,000 readings/s instead of 15,000 at QoS 1, 400
// instead of 6,000 at QoS 2). A tenth, not one: every top-up reads the
// flight again from the outbox. True when the outbox has nothing beyond the
// flight.
bool CMqttPublisher::SImpl::Refill(mqtt::async_client &client, int nWindow)
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        size_t nAnswered = 0;
        while (nAnswered < flight.size() && flight[nAnswered] == 1)
            ++nAnswered;
        if (bLost || flight.size() - nAnswered > size_t(nWindow - std::max(1, nWindow / 10)))
            return false;
    }
    AckDelivered();
    if (!pOutbox)
        return true;
    std::vector<SOutboxMessage> ahead;
    bool bFlightDropped = false;
    {
        const std::lock_guard<std::mutex> lock(outboxMutex);
        ahead = pOutbox->Peek(nWindow); // from the head: the flight first, then what follows it
        nAckedOfPeek = 0;
        bFlightDropped = pOutbox->DroppedSinceOpen() != nDroppedAtPeek;
        nDroppedAtPeek = pOutbox->DroppedSinceOpen();
    }
    if (SayHeld(*pOutbox)) {
        // What the flight stood for may have gone aside with a segment: it
        // starts afresh at the head, at once.
        ResetFlight();
        const std::lock_guard<std::mutex> lock(mutex);
        bWork = true;
        return false;
    }
    size_t nFlying = 0;
    std::uint64_t nNext = 0;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (bFlightDropped) {
            // A full outbox dropped its oldest, perhaps some of the flight: the
            // head is no longer where the flight began, so the flight starts
            // afresh there (what of it was not dropped goes again).
            nGeneration = (nGeneration + 1) & 0xffff;
            flight.clear();
            nFlightFirst = 0;
        }
        nFlying = flight.size();
        nNext = nFlightFirst + nFlying;
        for (size_t i = nFlying; i < ahead.size(); ++i)
            flight.push_back(0);
    }
    try {
        for (size_t i = nFlying; i < ahead.size(); ++i, ++nNext) {
            const SOutboxMessage &message = ahead[i];
            client.publish(std::string(message.topic.constData(), size_t(message.topic.size())),
                           message.payload.constData(), size_t(message.payload.size()), config.nQos, false,
                           Context(nNext), *this);
        }
    } catch (const mqtt::exception &error) {
        ConnectionLost(error.get_error_str());
    }
    return ahead.size() <= nFlying;
}

// The states that changed since they were last sent; false when the
// connection failed. A cleared one is sent empty once and forgotten.
bool CMqttPublisher::SImpl::PublishStates(mqtt::async_client &client)
{
    std::vector<std::pair<QString, QByteArray>> toSend;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        for (const QString &strMeter : unsentStates)
            toSend.emplace_back(strMeter, states[strMeter]);
        unsentStates.clear();
    }
    try {
        for (const auto &[strMeter, json] : toSend)
            client.publish(Std(config.strTopic + QLatin1Char('/') + strMeter + QStringLiteral("/state")),
                           json.constData(), size_t(json.size()), RetainedQos(), true);
    } catch (const mqtt::exception &error) {
        ConnectionLost(error.get_error_str());
        return false;
    }
    const std::lock_guard<std::mutex> lock(mutex);
    for (const auto &[strMeter, json] : toSend) {
        const auto known = states.find(strMeter);
        if (json.isEmpty() && known != states.end() && known->second.isEmpty())
            states.erase(known);
    }
    return true;
}

// Says "offline" before the client goes, when the broker is told (a clean
// stop, or settings that leave it), its answer awaited within the time
// given so the broker keeps it. The client's destruction then sends the
// DISCONNECT (the broker drops the last will) and closes the socket. Paho's
// own disconnect is not used: after it, its receiving thread sleeps up to a
// second with no socket to wake it, and the destruction waits that out.
void CMqttPublisher::SImpl::Leave(mqtt::async_client &client, bool bSayOffline, Clock::time_point until)
{
    if (!bSayOffline)
        return;
    const auto left = std::max<std::chrono::milliseconds>(
        std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()), 1ms);
    try {
        client.publish(StatusTopic(), "offline", 7, RetainedQos(), true)->wait_for(left);
    } catch (const mqtt::exception &) {
        // Gone already: the broker says "offline" by the last will.
    }
}

void CMqttPublisher::SImpl::SyncIfDue(bool bNow)
{
    const std::lock_guard<std::mutex> lock(outboxMutex);
    if (!pOutbox || !bOutboxChanged || (!bNow && Clock::now() - lastSync < kSyncEvery))
        return;
    pOutbox->Sync();
    bOutboxChanged = false;
    lastSync = Clock::now();
}

// The end of a burst of drops, when one ran; under outboxMutex.
QString CMqttPublisher::SImpl::DroppedBurstLine()
{
    if (nBurstFirst < 0)
        return {};
    const qint64 nBurst = nDroppedSeen - nBurstFirst;
    nBurstFirst = -1;
    return QStringLiteral("%1 readings were dropped, the oldest first, while the outbox %2 was full")
        .arg(nBurst)
        .arg(strFolder);
}

// Takes in what the outboxes dropped since the last look; the line that
// says a burst began, when one did. Under outboxMutex.
QString CMqttPublisher::SImpl::NoteDrops()
{
    QString strLine;
    const qint64 nTotal = nDroppedBefore + (pOutbox ? pOutbox->DroppedSinceOpen() : 0);
    if (nTotal > nDroppedSeen) {
        if (nBurstFirst < 0) {
            nBurstFirst = nDroppedSeen;
            strLine = QStringLiteral("the outbox %1 is full (%2 MB): the oldest readings are dropped")
                          .arg(strFolder)
                          .arg(nMaxBytes / (1024 * 1024));
        }
        nDroppedSeen = nTotal;
    }
    nDropped = nDroppedSeen + nUnkept;
    return strLine;
}

// Whether the configured folder should be tried now: it is not the open
// outbox, and a reload asked or the last try is a while ago.
bool CMqttPublisher::SImpl::OutboxDue()
{
    const std::lock_guard<std::mutex> lock(outboxMutex);
    const bool bSettled = pOutbox && strFolder == strWantedFolder;
    return !bSettled && (bTendNow || Clock::now() - lastTend >= kOutboxRetry);
}

// Opens the configured folder when it is not the open outbox: at the start,
// after a failure, or after data_dir changed, when what waits in the old one
// moves along. True when the configured folder is the outbox.
bool CMqttPublisher::SImpl::TendOutbox()
{
    QString strWanted;
    qint64 nMax = 0;
    {
        const std::lock_guard<std::mutex> lock(outboxMutex);
        bTendNow = false;
        lastTend = Clock::now();
        if (pOutbox && strFolder == strWantedFolder)
            return true;
        strWanted = strWantedFolder;
        nMax = nMaxBytes;
    }
    auto pNew = std::make_unique<COutbox>();
    const bool bOpened = pNew->Open(strWanted, nMax) == EOutboxResult::Ok;
    QString strFailSaidBefore;
    {
        const std::lock_guard<std::mutex> lock(outboxMutex);
        strFailSaidBefore = strFailSaid;
        strFailSaid = bOpened ? QString() : strWanted;
    }
    if (!bOpened) {
        if (strFailSaidBefore != strWanted)
            journal.Write(EPriority::Error, pOutbox ? QStringLiteral("cannot open the outbox %1: %2; readings wait in %3 "
                                                                     "until it can be opened")
                                                          .arg(strWanted, pNew->ErrorText(), strFolder)
                                                    : QStringLiteral("cannot open the outbox %1: %2; readings are not "
                                                                     "published")
                                                          .arg(strWanted, pNew->ErrorText()));
        return false;
    }
    SayHeld(*pNew);
    if (!pOutbox) {
        if (pNew->Count() > 0)
            journal.Write(EPriority::Info,
                          QStringLiteral("%1 readings of an earlier run wait in %2").arg(pNew->Count()).arg(strWanted));
        if (!strFailSaidBefore.isEmpty())
            journal.Write(EPriority::Notice,
                          QStringLiteral("the outbox %1 is open: readings are published again").arg(strWanted));
        const std::lock_guard<std::mutex> lock(outboxMutex);
        Install(std::move(pNew), strWanted);
        return true;
    }
    const QString strOld = strFolder;
    qint64 nMoved = 0;
    if (!MoveInto(pNew, strWanted, nMoved)) {
        journal.Write(EPriority::Error, QStringLiteral("cannot move the readings waiting in %1 to %2: %3; they wait "
                                                       "in %1 until a reload or for a minute")
                                            .arg(strOld, strWanted, pNew->ErrorText()));
        return false;
    }
    journal.Write(EPriority::Notice,
                  QStringLiteral("%1 readings that waited in %2 moved to %3").arg(nMoved).arg(strOld, strWanted));
    return true;
}

// Moves what waits in the open outbox into pNew, oldest first, and makes
// pNew the outbox. Pushes go on into the old one meanwhile, so only the last
// batch holds them up. A batch is on the new disk before the old one lets
// it go: a crash in between sends it twice, never not at all.
bool CMqttPublisher::SImpl::MoveInto(std::unique_ptr<COutbox> &pNew, const QString &strNewFolder, qint64 &nMoved)
{
    COutbox &from = *pOutbox;
    for (;;) {
        std::unique_lock<std::mutex> lock(outboxMutex, std::defer_lock);
        std::vector<SOutboxMessage> batch = from.Peek(kMoveBatch);
        if (int(batch.size()) < kMoveBatch) {
            lock.lock();
            batch = from.Peek(kMoveBatch);
        }
        for (const SOutboxMessage &message : batch)
            if (pNew->Push(message) != EOutboxResult::Ok)
                return false;
        if (pNew->Sync() != EOutboxResult::Ok)
            return false;
        from.Ack(int(batch.size()));
        nMoved += qint64(batch.size());
        if (lock.owns_lock() && int(batch.size()) < kMoveBatch) {
            SayHeld(from);
            nDroppedBefore += from.DroppedSinceOpen();
            Install(std::move(pNew), strNewFolder);
            return true;
        }
    }
}

// The new outbox takes the old one's place; under outboxMutex.
void CMqttPublisher::SImpl::Install(std::unique_ptr<COutbox> pNew, const QString &strNewFolder)
{
    pOutbox = std::move(pNew); // the old one syncs as it closes
    strFolder = strNewFolder;
    nDroppedAtPeek = pOutbox->DroppedSinceOpen();
    nAckedOfPeek = 0;
    bOutboxChanged = false;
    nWaiting = pOutbox->Count();
    const QString strLine = NoteDrops();
    if (!strLine.isEmpty())
        journal.Write(EPriority::Warning, strLine);
}

// Says which segments the outbox set aside, and why; true when any.
bool CMqttPublisher::SImpl::SayHeld(COutbox &outbox)
{
    const std::vector<SOutboxHeld> held = outbox.TakeHeld();
    for (const SOutboxHeld &one : held)
        journal.Write(EPriority::Error, QStringLiteral("cannot read %1: %2; its readings are kept there and tried "
                                                       "again at the next start")
                                            .arg(one.strPath, one.strReason));
    return !held.empty();
}

QString CMqttPublisher::ClientId(const SMqttConfig &config)
{
    return ClientIdOf(config);
}

CMqttPublisher::CMqttPublisher(const SMqttConfig &config, const QString &strOutboxFolder, CJournal &journal)
    : m_p(std::make_unique<SImpl>(config, strOutboxFolder, journal))
{
}

CMqttPublisher::~CMqttPublisher()
{
    Stop();
}

bool CMqttPublisher::Start()
{
    if (m_p->thread.joinable())
        return true;
    const bool bOpen = m_p->TendOutbox();
    {
        const std::lock_guard<std::mutex> lock(m_p->mutex);
        m_p->bStop = false;
    }
    m_p->thread = std::thread([this] { m_p->Run(); });
    return bOpen;
}

void CMqttPublisher::Stop(int nWaitMs)
{
    if (!m_p->thread.joinable())
        return;
    {
        const std::lock_guard<std::mutex> lock(m_p->mutex);
        const auto now = Clock::now();
        const auto wait = std::chrono::milliseconds(std::max(nWaitMs, 0));
        m_p->bStop = true;
        m_p->deliverUntil = now + wait / 2;
        m_p->answersUntil = now + wait * 3 / 4; // the rest is for "offline"
        m_p->stopDeadline = now + wait;
        m_p->cv.notify_all();
    }
    m_p->thread.join();
    QString strBurst;
    {
        const std::lock_guard<std::mutex> lock(m_p->outboxMutex);
        strBurst = m_p->DroppedBurstLine();
    }
    if (!strBurst.isEmpty())
        m_p->journal.Write(EPriority::Warning, strBurst);
}

void CMqttPublisher::Reconfigure(const SMqttConfig &config, const QString &strOutboxFolder)
{
    {
        const std::lock_guard<std::mutex> lock(m_p->outboxMutex);
        m_p->topicPrefix = config.strTopic.toUtf8();
        m_p->nMaxBytes = config.nOutboxMaxBytes;
        if (m_p->pOutbox)
            m_p->pOutbox->SetMaxBytes(config.nOutboxMaxBytes);
        m_p->strWantedFolder = strOutboxFolder;
        m_p->bTendNow = true;
    }
    const std::lock_guard<std::mutex> lock(m_p->mutex);
    if (!SameConnection(config, m_p->wanted))
        m_p->bNewSettings = true;
    m_p->wanted = config;
    m_p->bWork = true;
    m_p->cv.notify_all();
}

void CMqttPublisher::PublishReading(const QString &strMeter, const QByteArray &set, const QByteArray &json)
{
    QString strLine;
    {
        const std::lock_guard<std::mutex> lock(m_p->outboxMutex);
        const SOutboxMessage message{m_p->topicPrefix + '/' + strMeter.toUtf8() + '/' + set, json};
        if (!m_p->pOutbox) {
            ++m_p->nUnkept; // the failure to open it was said
        } else if (m_p->pOutbox->Push(message) != EOutboxResult::Ok) {
            ++m_p->nUnkept;
            if (!m_p->bPushFailing)
                strLine = QStringLiteral("cannot keep readings for the broker in %1: %2")
                              .arg(m_p->strFolder, m_p->pOutbox->ErrorText());
            m_p->bPushFailing = true;
        } else {
            m_p->bPushFailing = false;
            m_p->bOutboxChanged = true;
        }
        const QString strFull = m_p->NoteDrops();
        if (!strFull.isEmpty())
            strLine = strFull;
        if (m_p->pOutbox)
            m_p->nWaiting = m_p->pOutbox->Count();
    }
    if (!strLine.isEmpty())
        m_p->journal.Write(EPriority::Warning, strLine);
    const std::lock_guard<std::mutex> lock(m_p->mutex);
    m_p->bWork = true;
    m_p->cv.notify_all();
}

void CMqttPublisher::PublishState(const QString &strMeter, const QByteArray &json)
{
    const std::lock_guard<std::mutex> lock(m_p->mutex);
    const auto known = m_p->states.find(strMeter);
    if (known != m_p->states.end() && known->second == json)
        return;
    m_p->states[strMeter] = json;
    m_p->unsentStates.insert(strMeter);
    m_p->cv.notify_all();
}

void CMqttPublisher::ClearState(const QString &strMeter)
{
    PublishState(strMeter, QByteArray());
}

qint64 CMqttPublisher::Dropped() const
{
    return m_p->nDropped;
}

qint64 CMqttPublisher::Waiting() const
{
    return m_p->nWaiting;
}

bool CMqttPublisher::IsConnected() const
{
    return m_p->bConnected;
}
