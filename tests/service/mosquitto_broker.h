// A real MQTT broker for the tests: Debian's mosquitto on a free loopback
// port with a configuration written on the spot, mosquitto_sub keeping what
// arrives, and TLS certificates made by openssl. Header only.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

extern char **environ;

namespace MqttTest {

using namespace std::chrono_literals;

// Starts a program with its standard output and error into a file (opened
// with nOpenFlags besides O_WRONLY | O_CREAT); its pid, 0 when it could not start.
inline pid_t SpawnProgram(const std::vector<std::string> &args, const QString &strOutput, int nOpenFlags)
{
    std::vector<char *> argv;
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const QByteArray output = QFile::encodeName(strOutput);
    posix_spawn_file_actions_addopen(&actions, 1, output.constData(), O_WRONLY | O_CREAT | nOpenFlags, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    const int nSpawn = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return nSpawn == 0 ? pid : 0;
}

// Runs a program to its end; its exit status, -1 when it could not start.
inline int RunProgram(const std::vector<std::string> &args, const QString &strOutput = QStringLiteral("/dev/null"))
{
    const pid_t pid = SpawnProgram(args, strOutput, O_APPEND);
    if (pid == 0)
        return -1;
    int nStatus = 0;
    ::waitpid(pid, &nStatus, 0);
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

// A loopback port nobody listens on at this moment.
inline int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t nLength = sizeof address;
    int nPort = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &nLength) == 0)
        nPort = ntohs(address.sin_port);
    ::close(fd);
    return nPort;
}

inline bool Accepts(int nPort)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(quint16(nPort));
    const bool bAccepts = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return bAccepts;
}

// The TLS listener of a broker: its CA, its certificate and key.
struct SBrokerTls {
    QString strCaFile;
    QString strCertFile;
    QString strKeyFile;
    bool bRequireCertificate = true;
};

// /usr/sbin/mosquitto in a folder of its own: mosquitto.conf and
// mosquitto.log there. A plain listener on Port(), and with TLS a second
// one on TlsPort(). Stopped (SIGTERM) at the end of its scope.
class CMosquittoBroker {
public:
    explicit CMosquittoBroker(const QString &strFolder) : m_strFolder(strFolder) { QDir().mkpath(strFolder); }
    ~CMosquittoBroker() { Stop(); }
    CMosquittoBroker(const CMosquittoBroker &) = delete;
    CMosquittoBroker &operator=(const CMosquittoBroker &) = delete;

    // settings: lines for the whole broker ("allow_anonymous true",
    // "password_file <path>", "persistence true"...). Picks the ports on the
    // first start and keeps them after; a start that fails on a port taken
    // meanwhile tries others.
    bool Start(const QByteArray &settings = "allow_anonymous true\n", std::optional<SBrokerTls> tls = std::nullopt)
    {
        m_settings = settings;
        m_tls = std::move(tls);
        for (int nTry = 0; nTry < 5; ++nTry) {
            if (m_nPort == 0 || nTry > 0) {
                m_nPort = FreePort();
                m_nTlsPort = m_tls ? FreePort() : 0;
            }
            if (Launch())
                return true;
        }
        return false;
    }
    // Again after Stop, on the same ports and settings.
    bool Restart()
    {
        for (int nTry = 0; nTry < 20; ++nTry) {
            if (Launch())
                return true;
            std::this_thread::sleep_for(250ms);
        }
        return false;
    }
    void Stop()
    {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGCONT);
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = 0;
    }
    // Freezes the broker (SIGSTOP): connections stay open and nothing is
    // answered, until Resume.
    void Pause() const
    {
        if (m_pid > 0)
            ::kill(m_pid, SIGSTOP);
    }
    void Resume() const
    {
        if (m_pid > 0)
            ::kill(m_pid, SIGCONT);
    }
    // Reads the password file again.
    void Reload() const
    {
        if (m_pid > 0)
            ::kill(m_pid, SIGHUP);
    }

    int Port() const { return m_nPort; }
    int TlsPort() const { return m_nTlsPort; }
    QString Url() const { return QStringLiteral("tcp://127.0.0.1:%1").arg(m_nPort); }
    QString TlsUrl() const { return QStringLiteral("ssl://127.0.0.1:%1").arg(m_nTlsPort); }
    QString Folder() const { return m_strFolder; }
    QString LogPath() const { return m_strFolder + QStringLiteral("/mosquitto.log"); }
    QByteArray Log() const
    {
        QFile file(LogPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QString m_strFolder;
    QByteArray m_settings;
    std::optional<SBrokerTls> m_tls;
    int m_nPort = 0;
    int m_nTlsPort = 0;
    pid_t m_pid = 0;

    QByteArray Config() const
    {
        QByteArray config;
        if (::geteuid() == 0)
            config += "user root\n"; // else it becomes "mosquitto", who cannot read the test's folder
        config += "log_dest file " + QFile::encodeName(LogPath()) + "\nlog_type error\nlog_type warning\nlog_type notice\nlog_type information\n"; // flushed line by line; no line per packet
        config += "persistence_location " + QFile::encodeName(m_strFolder) + "/\n";
        config += m_settings;
        config += "\nlistener " + QByteArray::number(m_nPort) + " 127.0.0.1\n";
        if (m_tls) {
            config += "listener " + QByteArray::number(m_nTlsPort) + " 127.0.0.1\n";
            config += "cafile " + QFile::encodeName(m_tls->strCaFile) + '\n';
            config += "certfile " + QFile::encodeName(m_tls->strCertFile) + '\n';
            config += "keyfile " + QFile::encodeName(m_tls->strKeyFile) + '\n';
            config += m_tls->bRequireCertificate ? "require_certificate true\n" : "require_certificate false\n";
        }
        return config;
    }

    bool Launch()
    {
        const QString strConfig = m_strFolder + QStringLiteral("/mosquitto.conf");
        QFile file(strConfig);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(Config()) < 0)
            return false;
        file.close();
        m_pid = SpawnProgram({"/usr/sbin/mosquitto", "-c", QFile::encodeName(strConfig).toStdString()}, LogPath(),
                             O_APPEND);
        if (m_pid == 0)
            return false;
        for (int nWait = 0; nWait < 100; ++nWait) {
            if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) { // it gave up: a port taken
                m_pid = 0;
                return false;
            }
            if (Accepts(m_nPort) && (!m_tls || Accepts(m_nTlsPort)))
                return true;
            std::this_thread::sleep_for(50ms);
        }
        Stop();
        return false;
    }
};

struct SReceived {
    std::string topic;
    QByteArray payload;
    bool bRetained = false;
};

struct SSubscriberOptions {
    std::string clientId; // empty: one of its own
    bool bKeepSession = false;
    std::string username;
    std::string password;
    bool bPayloads = true; // false: the topics alone, for counting many large messages
};

// mosquitto_sub in a process of its own (a Paho subscriber in the process
// of the publisher shares Paho's threads with it and hands its messages
// over late), keeping every message of the filter that arrives, in order.
// With a client id and bKeepSession, the broker keeps its subscription and
// queues what arrives while it is away (QoS 1), so a test can stop the
// broker, go on and come back.
class CMqttSubscriber {
public:
    CMqttSubscriber(const QString &strUrl, const std::string &filter, SSubscriberOptions options = {})
        : m_port(std::to_string(strUrl.section(QLatin1Char(':'), -1).toInt())), m_filter(filter),
          m_options(std::move(options)), m_strOutput(QDir::tempPath() + QStringLiteral("/mqtt-subscriber-%1-%2.txt")
                                                         .arg(::getpid())
                                                         .arg(NextNumber()))
    {
        m_readyTopic = "mqtt-test-ready/" + std::to_string(::getpid()) + '-' + std::to_string(NextNumber());
    }
    ~CMqttSubscriber()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
        QFile::remove(m_strOutput);
    }
    CMqttSubscriber(const CMqttSubscriber &) = delete;
    CMqttSubscriber &operator=(const CMqttSubscriber &) = delete;

    // Starts and waits until the subscription works; false when it did not
    // within 5 s.
    bool Start()
    {
        std::vector<std::string> args{"/usr/bin/mosquitto_sub", "-h", "127.0.0.1", "-p", m_port, "-q", "1", "-t",
                                      m_filter, "-t", m_readyTopic, "-F", m_options.bPayloads ? "%r %t %x" : "%r %t -"};
        if (!m_options.clientId.empty())
            args.insert(args.end(), {"-i", m_options.clientId});
        if (m_options.bKeepSession)
            args.push_back("-c");
        AddUser(args);
        m_pid = SpawnProgram(args, m_strOutput, O_TRUNC);
        if (m_pid == 0)
            return false;
        for (int nTry = 0; nTry < 50; ++nTry) {
            std::vector<std::string> probe{"/usr/bin/mosquitto_pub", "-h", "127.0.0.1", "-p", m_port,
                                           "-t",                     m_readyTopic, "-m", "ready"};
            AddUser(probe);
            RunProgram(probe);
            if (Read(true).size() > 0)
                return true;
            std::this_thread::sleep_for(100ms);
        }
        return false;
    }

    // Waits until at least n messages arrived or the time is up.
    bool WaitFor(size_t n, std::chrono::milliseconds timeout = 10s)
    {
        return WaitFor([n](const std::vector<SReceived> &received) { return received.size() >= n; }, timeout);
    }
    // Waits for a message that satisfies the test.
    bool WaitFor(const std::function<bool(const SReceived &)> &test, std::chrono::milliseconds timeout = 10s)
    {
        return WaitFor([&](const std::vector<SReceived> &received) { return std::any_of(received.begin(), received.end(), test); },
                       timeout);
    }
    std::vector<SReceived> Received() const { return Read(false); }

private:
    std::string m_port;
    std::string m_filter;
    SSubscriberOptions m_options;
    QString m_strOutput;
    std::string m_readyTopic;
    pid_t m_pid = 0;

    static int NextNumber()
    {
        static std::atomic<int> nNext{0};
        return ++nNext;
    }
    void AddUser(std::vector<std::string> &args) const
    {
        if (!m_options.username.empty())
            args.insert(args.end(), {"-u", m_options.username, "-P", m_options.password});
    }
    bool WaitFor(const std::function<bool(const std::vector<SReceived> &)> &done, std::chrono::milliseconds timeout)
    {
        const auto until = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            if (done(Received()))
                return true;
            if (std::chrono::steady_clock::now() >= until)
                return false;
            std::this_thread::sleep_for(20ms);
        }
    }
    // The lines "<retained> <topic> <payload in hex>" mosquitto_sub wrote:
    // the messages of the filter, or those of the ready probe.
    std::vector<SReceived> Read(bool bProbes) const
    {
        QFile file(m_strOutput);
        std::vector<SReceived> received;
        if (!file.open(QIODevice::ReadOnly))
            return received;
        for (const QByteArray &line : file.readAll().split('\n')) {
            const QList<QByteArray> fields = line.split(' ');
            if (fields.size() != 3)
                continue; // a line not yet whole
            SReceived one{fields[1].toStdString(), QByteArray::fromHex(fields[2]), fields[0] == "1"};
            if ((one.topic == m_readyTopic) == bProbes)
                received.push_back(std::move(one));
        }
        return received;
    }
};

// Certificates made by openssl in a folder: ca.crt signs server.crt (for
// 127.0.0.1 and localhost) and client.crt; other-ca.crt signs nothing of
// theirs. Keys beside them (.key). False when openssl failed.
inline bool MakeTestCertificates(const QString &strFolder)
{
    QDir().mkpath(strFolder);
    const auto path = [&](const char *name) { return QFile::encodeName(strFolder + '/' + name).toStdString(); };
    const std::string openssl = "/usr/bin/openssl";
    const std::string log = QFile::encodeName(strFolder + QStringLiteral("/openssl.log")).toStdString();
    const auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), openssl);
        return RunProgram(args, QFile::decodeName(log.c_str())) == 0;
    };
    const auto makeCa = [&](const char *key, const char *cert, const char *name) {
        return run({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                    std::string("/CN=") + name, "-keyout", path(key), "-out", path(cert)});
    };
    const auto makeSigned = [&](const char *key, const char *request, const char *cert, const char *name,
                                const char *extensions) {
        QFile ext(strFolder + '/' + name + QStringLiteral(".ext"));
        if (!ext.open(QIODevice::WriteOnly) || ext.write(extensions) < 0)
            return false;
        ext.close();
        return run({"req", "-newkey", "rsa:2048", "-nodes", "-subj", std::string("/CN=") + name, "-keyout",
                    path(key), "-out", path(request)})
               && run({"x509", "-req", "-in", path(request), "-CA", path("ca.crt"), "-CAkey", path("ca.key"),
                       "-CAcreateserial", "-days", "2", "-extfile", QFile::encodeName(ext.fileName()).toStdString(),
                       "-out", path(cert)});
    };
    return makeCa("ca.key", "ca.crt", "Varik test CA") && makeCa("other-ca.key", "other-ca.crt", "Another CA")
           && makeSigned("server.key", "server.csr", "server.crt", "server",
                         "subjectAltName=IP:127.0.0.1,DNS:localhost\nextendedKeyUsage=serverAuth\n")
           && makeSigned("client.key", "client.csr", "client.crt", "client", "extendedKeyUsage=clientAuth\n");
}

} // namespace MqttTest
