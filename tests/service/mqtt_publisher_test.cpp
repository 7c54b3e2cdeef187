// The publisher against a real mosquitto on loopback: readings arrive once
// and in order, survive a broker that goes away and a publisher made anew,
// a refusal is said once and retried, TLS with certificates made on the
// spot, the retained states and status and the last will.
#include "service/mqtt_publisher.h"

#include "mosquitto_broker.h"

#include <QTemporaryDir>

#include <mqtt/async_client.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;
using namespace MqttTest;

namespace {

// Keeps the lines instead of writing them.
class CCapturedJournal : public CJournal {
public:
    std::vector<QString> Lines() const
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }
    // The lines that hold every part.
    std::vector<QString> Matching(const QStringList &parts) const
    {
        std::vector<QString> found;
        for (const QString &strLine : Lines())
            if (std::all_of(parts.begin(), parts.end(), [&](const QString &strPart) { return strLine.contains(strPart); }))
                found.push_back(strLine);
        return found;
    }
    QString All() const
    {
        const std::vector<QString> lines = Lines();
        return QStringList(lines.begin(), lines.end()).join(QString());
    }

protected:
    void WriteLine(const QByteArray &line) override
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.push_back(QString::fromUtf8(line));
    }

private:
    mutable std::mutex m_mutex;
    std::vector<QString> m_lines;
};

bool WaitUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout = 15s)
{
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= until)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

QByteArray Payload(int n)
{
    return "{\"n\": " + QByteArray::number(n) + ", \"values\": {\"U\": \"230.5\"}}";
}

const std::string kReadings = "varik/test/m1/second";

class MqttPublisherTest : public ::testing::Test {
protected:
    QTemporaryDir m_dir;
    CMosquittoBroker m_broker{m_dir.path() + QStringLiteral("/broker")};
    CCapturedJournal m_journal;

    SMqttConfig Config(const QString &strUrl, int nQos = 1) const
    {
        SMqttConfig config;
        config.bEnabled = true;
        config.strUrl = strUrl;
        config.strTopic = QStringLiteral("varik/test");
        config.nQos = nQos;
        return config;
    }
    QString Outbox(const QString &strName = QStringLiteral("outbox")) const { return m_dir.path() + '/' + strName; }

    static void Push(CMqttPublisher &publisher, int nFrom, int nTo)
    {
        for (int n = nFrom; n < nTo; ++n)
            publisher.PublishReading(QStringLiteral("m1"), "second", Payload(n));
    }

    // The readings nFrom to nTo, each once, in order, and nothing else.
    static void ExpectReadings(const std::vector<SReceived> &received, int nFrom, int nTo)
    {
        ASSERT_EQ(received.size(), size_t(nTo - nFrom)) << Numbers(received);
        for (int n = nFrom; n < nTo; ++n) {
            const SReceived &one = received[size_t(n - nFrom)];
            ASSERT_EQ(one.topic, kReadings) << n;
            ASSERT_EQ(one.payload, Payload(n)) << "reading " << n << " is out of order or changed: " << one.payload.constData();
        }
    }

    // The readings' numbers as runs, "0-99 100-199 150-299": what came twice
    // or never shows at a glance.
    static std::string Numbers(const std::vector<SReceived> &received)
    {
        std::string runs;
        int nFirst = -2;
        int nLast = -2;
        const auto close = [&] {
            if (nFirst >= 0)
                runs += std::to_string(nFirst) + '-' + std::to_string(nLast) + ' ';
        };
        for (const SReceived &one : received) {
            const int n = one.payload.mid(6).split(',').value(0).toInt();
            if (n != nLast + 1) {
                close();
                nFirst = n;
            }
            nLast = n;
        }
        close();
        return runs;
    }

    bool Connected(const CMqttPublisher &publisher) const
    {
        return WaitUntil([&] { return publisher.IsConnected(); });
    }
};

TEST_F(MqttPublisherTest, EveryReadingArrivesOnceInOrderWithEachQos)
{
    ASSERT_TRUE(m_broker.Start());
    for (const int nQos : {0, 1, 2}) {
        SCOPED_TRACE(nQos);
        CMqttSubscriber subscriber(m_broker.Url(), kReadings);
        ASSERT_TRUE(subscriber.Start());
        CMqttPublisher publisher(Config(m_broker.Url(), nQos), Outbox(QStringLiteral("outbox%1").arg(nQos)),
                                 m_journal);
        ASSERT_TRUE(publisher.Start());
        Push(publisher, 0, 1000); // most before the connection is there, the rest while it is
        ASSERT_TRUE(subscriber.WaitFor(1000)) << subscriber.Received().size() << " received, waiting " << publisher.Waiting();
        EXPECT_TRUE(WaitUntil([&] { return publisher.Waiting() == 0; }));
        std::this_thread::sleep_for(200ms); // room for a duplicate to show
        ExpectReadings(subscriber.Received(), 0, 1000);
    }
    EXPECT_EQ(m_journal.Matching({QStringLiteral("<5>connected to ") + m_broker.Url()}).size(), 3u)
        << m_journal.All().toStdString();
}

// A session the broker keeps through its restarts gets what was published
// while the subscriber was away.
TEST_F(MqttPublisherTest, NothingIsLostWhileTheBrokerIsAway)
{
    struct SCase {
        const char *name;
        bool bNewPublisher; // the publisher is made anew on the same outbox while the broker is away
    };
    for (const SCase &test : {SCase{"the same publisher", false}, SCase{"a publisher made anew", true}}) {
        SCOPED_TRACE(test.name);
        CMosquittoBroker broker(m_dir.path() + QStringLiteral("/broker-") + test.name);
        ASSERT_TRUE(broker.Start("allow_anonymous true\npersistence true\nmax_queued_messages 0\n"));
        SSubscriberOptions keeper;
        keeper.clientId = std::string("keeper-") + (test.bNewPublisher ? "b" : "a");
        keeper.bKeepSession = true;
        std::vector<SReceived> received;
        const QString strOutbox = Outbox(QString::fromLatin1(test.name));
        auto pPublisher = std::make_unique<CMqttPublisher>(Config(broker.Url()), strOutbox, m_journal);
        ASSERT_TRUE(pPublisher->Start());
        {
            CMqttSubscriber subscriber(broker.Url(), kReadings, keeper);
            ASSERT_TRUE(subscriber.Start());
            Push(*pPublisher, 0, 100);
            ASSERT_TRUE(subscriber.WaitFor(100));
            ASSERT_TRUE(WaitUntil([&] { return pPublisher->Waiting() == 0; }));
            received = subscriber.Received();
        } // the subscriber's acknowledgements go before its DISCONNECT, so the broker keeps none to send again
        broker.Stop();
        ASSERT_TRUE(WaitUntil([&] { return !pPublisher->IsConnected(); }));
        Push(*pPublisher, 100, 200);
        if (test.bNewPublisher) {
            pPublisher.reset();
            pPublisher = std::make_unique<CMqttPublisher>(Config(broker.Url()), strOutbox, m_journal);
            ASSERT_TRUE(pPublisher->Start());
            EXPECT_EQ(pPublisher->Waiting(), 100);
        }
        Push(*pPublisher, 200, 300);
        std::this_thread::sleep_for(1500ms); // a failed try or two of the publisher's
        EXPECT_EQ(pPublisher->Waiting(), 200);
        ASSERT_TRUE(broker.Restart());
        CMqttSubscriber subscriber(broker.Url(), kReadings, keeper);
        ASSERT_TRUE(subscriber.Start());
        ASSERT_TRUE(subscriber.WaitFor([](const SReceived &r) { return r.payload == Payload(299); }, 20s))
            << subscriber.Received().size();
        std::this_thread::sleep_for(200ms);
        ExpectReadings(received, 0, 100);
        // A broker restarted under load may send the session's last readings
        // from before its stop again; what the publisher kept comes after.
        auto after = subscriber.Received();
        const auto kept = std::find_if(after.begin(), after.end(), [](const SReceived &r) { return r.payload == Payload(100); });
        after.erase(after.begin(), kept);
        ExpectReadings(after, 100, 300);
        EXPECT_EQ(m_journal.Matching({QStringLiteral("<4>lost the connection to ") + broker.Url(),
                                      QStringLiteral("readings wait on disk")})
                      .size(),
                  1u)
            << m_journal.All().toStdString();
    }
}

TEST_F(MqttPublisherTest, RefusedPasswordIsSaidOnceRetriedAndMended)
{
    const QString strPasswords = m_dir.path() + QStringLiteral("/passwords");
    const auto setPassword = [&](const char *password) {
        return RunProgram({"/usr/bin/mosquitto_passwd", "-b", "-c", strPasswords.toStdString(), "varik", password});
    };
    ASSERT_EQ(setPassword("right"), 0);
    ASSERT_TRUE(m_broker.Start("allow_anonymous false\npassword_file " + strPasswords.toUtf8() + '\n'));
    SMqttConfig config = Config(m_broker.Url());
    config.strUsername = QStringLiteral("varik");
    config.strPassword = QStringLiteral("wrong");
    CMqttPublisher publisher(config, Outbox(), m_journal);
    ASSERT_TRUE(publisher.Start());
    Push(publisher, 0, 10);
    // Tries at 0, 1 and 3 s.
    ASSERT_TRUE(WaitUntil([&] { return m_broker.Log().count("not authorised") >= 3; }, 10s));
    const auto said = m_journal.Matching({QStringLiteral("<3>cannot connect to ") + m_broker.Url(),
                                          QStringLiteral("not authorised")});
    EXPECT_EQ(said.size(), 1u) << m_journal.All().toStdString();
    EXPECT_FALSE(publisher.IsConnected());

    ASSERT_EQ(setPassword("wrong"), 0);
    m_broker.Reload();
    SSubscriberOptions user;
    user.username = "varik";
    user.password = "wrong";
    CMqttSubscriber subscriber(m_broker.Url(), kReadings, user);
    ASSERT_TRUE(subscriber.Start());
    ASSERT_TRUE(WaitUntil([&] { return publisher.IsConnected(); }, 20s)); // the next try: 4 s later
    ASSERT_TRUE(subscriber.WaitFor(10));
    ExpectReadings(subscriber.Received(), 0, 10);
    EXPECT_EQ(m_journal.Matching({QStringLiteral("connected to ") + m_broker.Url()}).size(), 1u);
}

TEST_F(MqttPublisherTest, TlsWithCertificatesOfBothSides)
{
    const QString strPki = m_dir.path() + QStringLiteral("/pki");
    ASSERT_TRUE(MakeTestCertificates(strPki));
    const auto pki = [&](const char *name) { return strPki + '/' + QLatin1String(name); };
    ASSERT_TRUE(m_broker.Start("allow_anonymous true\n",
                               SBrokerTls{pki("ca.crt"), pki("server.crt"), pki("server.key"), true}));
    struct SCase {
        const char *name;
        const char *ca;
        const char *cert;
        const char *key;
        bool bConnects;
    };
    const SCase cases[] = {
        {"our CA and our certificate", "ca.crt", "client.crt", "client.key", true},
        {"a broker another CA vouches for", "other-ca.crt", "client.crt", "client.key", false},
        {"no certificate of ours", "ca.crt", nullptr, nullptr, false},
        {"a certificate the broker does not know", "ca.crt", "other-ca.crt", "other-ca.key", false},
    };
    for (const SCase &test : cases) {
        SCOPED_TRACE(test.name);
        SMqttConfig config = Config(m_broker.TlsUrl());
        config.strCaFile = pki(test.ca);
        config.strCertFile = test.cert ? pki(test.cert) : QString();
        config.strKeyFile = test.key ? pki(test.key) : QString();
        CMqttSubscriber subscriber(m_broker.Url(), kReadings);
        ASSERT_TRUE(subscriber.Start());
        CCapturedJournal journal;
        CMqttPublisher publisher(config, Outbox(QString::fromLatin1(test.name)), journal);
        ASSERT_TRUE(publisher.Start());
        Push(publisher, 0, 5);
        if (test.bConnects) {
            ASSERT_TRUE(subscriber.WaitFor(5));
            ExpectReadings(subscriber.Received(), 0, 5);
            continue;
        }
        const QStringList parts{QStringLiteral("<3>cannot connect to ") + m_broker.TlsUrl(),
                                QStringLiteral("TLS handshake failed")};
        ASSERT_TRUE(WaitUntil([&] { return !journal.Matching(parts).empty(); }, 10s)) << journal.All().toStdString();
        std::this_thread::sleep_for(2s); // a second try, said no more
        EXPECT_EQ(journal.Matching(parts).size(), 1u) << journal.All().toStdString();
        EXPECT_EQ(journal.Lines().size(), 1u) << journal.All().toStdString();
        EXPECT_EQ(publisher.Waiting(), 5);
    }
}

TEST_F(MqttPublisherTest, StatesAndStatusAreRetainedAndSentAgainAfterAReconnect)
{
    ASSERT_TRUE(m_broker.Start()); // no persistence: a restart forgets what was retained
    CMqttPublisher publisher(Config(m_broker.Url()), Outbox(), m_journal);
    publisher.PublishState(QStringLiteral("m1"), "{\"state\": \"silent\"}");
    ASSERT_TRUE(publisher.Start());
    ASSERT_TRUE(Connected(publisher));
    publisher.PublishState(QStringLiteral("m1"), "{\"state\": \"ok\"}");
    publisher.PublishState(QStringLiteral("m2"), "{\"state\": \"busy\"}");
    const auto retained = [&](const SReceived &received, const std::string &topic, const QByteArray &payload) {
        return received.bRetained && received.topic == topic && received.payload == payload;
    };
    const auto expectRetained = [&](const QByteArray &status) {
        CMqttSubscriber late(m_broker.Url(), "varik/test/#");
        ASSERT_TRUE(late.Start());
        EXPECT_TRUE(late.WaitFor([&](const SReceived &r) { return retained(r, "varik/test/status", status); }));
        EXPECT_TRUE(
            late.WaitFor([&](const SReceived &r) { return retained(r, "varik/test/m1/state", "{\"state\": \"ok\"}"); }));
        EXPECT_TRUE(late.WaitFor(
            [&](const SReceived &r) { return retained(r, "varik/test/m2/state", "{\"state\": \"busy\"}"); }));
    };
    {
        CMqttSubscriber live(m_broker.Url(), "varik/test/m2/state");
        ASSERT_TRUE(live.Start());
        ASSERT_TRUE(live.WaitFor(1));
    }
    expectRetained("online");

    m_broker.Stop();
    ASSERT_TRUE(WaitUntil([&] { return !publisher.IsConnected(); }));
    ASSERT_TRUE(m_broker.Restart());
    ASSERT_TRUE(Connected(publisher));
    expectRetained("online");

    publisher.Stop();
    expectRetained("offline");
}

// More states at once than a broker lets QoS 2 messages be in flight
// (mosquitto: 20): none of them may be lost to its quota.
TEST_F(MqttPublisherTest, TheStatesOfManyMetersAllArriveAtQos2)
{
    ASSERT_TRUE(m_broker.Start());
    CMqttPublisher publisher(Config(m_broker.Url(), 2), Outbox(), m_journal);
    for (int n = 0; n < 60; ++n)
        publisher.PublishState(QStringLiteral("m%1").arg(n), "{\"state\": \"ok\"}");
    ASSERT_TRUE(publisher.Start());
    ASSERT_TRUE(Connected(publisher));
    Push(publisher, 0, 60); // readings in flight beside them
    CMqttSubscriber subscriber(m_broker.Url(), "varik/test/+/state");
    ASSERT_TRUE(subscriber.Start());
    EXPECT_TRUE(subscriber.WaitFor(60)) << subscriber.Received().size();
}

// A twin with the publisher's client id takes its session: the broker drops
// the publisher's connection as if it had died and publishes its last will.
TEST_F(MqttPublisherTest, LastWillSaysOfflineWhenTheConnectionDies)
{
    ASSERT_TRUE(m_broker.Start());
    CMqttSubscriber status(m_broker.Url(), "varik/test/status");
    ASSERT_TRUE(status.Start());
    const SMqttConfig config = Config(m_broker.Url());
    CMqttPublisher publisher(config, Outbox(), m_journal);
    ASSERT_TRUE(publisher.Start());
    ASSERT_TRUE(status.WaitFor([](const SReceived &r) { return r.payload == "online"; }));
    {
        mqtt::async_client twin(m_broker.Url().toStdString(), CMqttPublisher::ClientId(config).toStdString());
        ASSERT_TRUE(twin.connect()->wait_for(5s));
        ASSERT_TRUE(status.WaitFor(2));
        EXPECT_EQ(status.Received()[1].payload, "offline");
    }
    ASSERT_TRUE(status.WaitFor(3)); // and the publisher comes back
    EXPECT_EQ(status.Received()[2].payload, "online");
    EXPECT_EQ(m_journal.Matching({QStringLiteral("lost the connection to ") + m_broker.Url()}).size(), 1u);
}

TEST_F(MqttPublisherTest, StopKeepsToItsTimeWhateverTheBrokerDoes)
{
    ASSERT_TRUE(m_broker.Start());
    const auto stopTakes = [](CMqttPublisher &publisher) {
        const auto start = std::chrono::steady_clock::now();
        publisher.Stop(500);
        return std::chrono::steady_clock::now() - start;
    };
    {
        SCOPED_TRACE("a broker frozen with readings in flight");
        CMqttPublisher publisher(Config(m_broker.Url()), Outbox(QStringLiteral("frozen")), m_journal);
        ASSERT_TRUE(publisher.Start());
        ASSERT_TRUE(Connected(publisher));
        m_broker.Pause();
        Push(publisher, 0, 1000);
        std::this_thread::sleep_for(200ms);
        EXPECT_LT(stopTakes(publisher), 800ms);
        EXPECT_GT(publisher.Waiting(), 0);
        m_broker.Resume();
    }
    {
        SCOPED_TRACE("a port that takes the connection and never answers");
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t nLength = sizeof address;
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        ASSERT_EQ(::listen(fd, 4), 0);
        ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &nLength), 0);
        CMqttPublisher publisher(Config(QStringLiteral("tcp://127.0.0.1:%1").arg(ntohs(address.sin_port))),
                                 Outbox(QStringLiteral("mute")), m_journal);
        ASSERT_TRUE(publisher.Start());
        std::this_thread::sleep_for(300ms);
        EXPECT_LT(stopTakes(publisher), 800ms);
        ::close(fd);
    }
}

TEST_F(MqttPublisherTest, DroppedReadingsAreCountedAndSaidOncePerBurst)
{
    ASSERT_TRUE(m_broker.Start());
    m_broker.Stop(); // away from the start
    SMqttConfig config = Config(m_broker.Url());
    config.nOutboxMaxBytes = 1024 * 1024;
    CMqttPublisher publisher(config, Outbox(), m_journal);
    ASSERT_TRUE(publisher.Start());
    const QByteArray kilobyte(1024, 'x');
    for (int n = 0; n < 3000; ++n)
        publisher.PublishReading(QStringLiteral("m1"), "second", kilobyte);
    EXPECT_GT(publisher.Dropped(), 1000);
    EXPECT_EQ(publisher.Dropped() + publisher.Waiting(), 3000);
    EXPECT_EQ(m_journal.Matching({QStringLiteral("<4>the outbox ") + Outbox(), QStringLiteral("is full")}).size(),
              1u)
        << m_journal.All().toStdString();

    ASSERT_TRUE(m_broker.Restart()); // the burst ends once the broker has taken what was kept
    ASSERT_TRUE(WaitUntil([&] { return publisher.Waiting() == 0; }, 20s));
    const QString strCount = QStringLiteral("<4>%1 readings were dropped").arg(publisher.Dropped());
    EXPECT_TRUE(WaitUntil([&] { return m_journal.Matching({strCount}).size() == 1; })) << m_journal.All().toStdString();
    publisher.Stop();
    EXPECT_EQ(m_journal.Matching({QStringLiteral("readings were dropped")}).size(), 1u)
        << m_journal.All().toStdString();
}

} // namespace
