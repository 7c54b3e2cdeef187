// varikd publishing end to end: the built program against a varik-meter bus
// and Debian's mosquitto started by the test, watched with mosquitto_sub. The
// publisher's own cases (a wrong password, TLS, a full outbox, the last will)
// are in mqtt_publisher_test.cpp.
#include "files/outbox.h"
#include "mosquitto_broker.h"
#include "varikd_process.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

using namespace VarikdTest;
using namespace MqttTest;

// mosquitto_sub -v on the site's topics: "<topic> <payload>" a line.
class CSubscription {
public:
    // With a client id, the session stays with the broker while the
    // subscriber is away (and across the broker's restarts, when it keeps
    // them), so nothing published meanwhile is missed.
    CSubscription(int nPort, const QString &strFilter, const QString &strClientId = QString())
    {
        QStringList args{QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                         QString::number(nPort), QStringLiteral("-q"), QStringLiteral("1"), QStringLiteral("-v"),
                         QStringLiteral("-t"), strFilter};
        if (!strClientId.isEmpty())
            args << QStringLiteral("-c") << QStringLiteral("-i") << strClientId;
        m_process.start(QStringLiteral("mosquitto_sub"), args);
        EXPECT_TRUE(m_process.waitForStarted());
    }
    ~CSubscription()
    {
        m_process.terminate();
        m_process.waitForFinished(3000);
    }
    // Every message so far whose topic is the one given, payloads in order.
    QList<QByteArray> On(const QByteArray &topic)
    {
        QCoreApplication::processEvents();
        m_text += m_process.readAllStandardOutput();
        QList<QByteArray> payloads;
        for (const QByteArray &line : m_text.split('\n'))
            if (line.startsWith(topic + ' '))
                payloads.append(line.mid(topic.size() + 1));
        return payloads;
    }

private:
    QProcess m_process;
    QByteArray m_text;
};

// The CSV row a reading's JSON stands for: its time and values in order.
QByteArray RowOf(const QByteArray &json)
{
    // The numbers are compared as the bytes sent, not as doubles.
    const int nValues = json.indexOf("\"values\":{");
    QByteArray row = QJsonDocument::fromJson(json).object().value(QStringLiteral("time")).toString().toUtf8();
    const QByteArray values = json.mid(nValues + 10, json.size() - nValues - 12);
    for (const QByteArray &pair : values.split(','))
        row += ',' + pair.mid(pair.indexOf(':') + 1);
    return row;
}

QByteArray MqttToml(const CMosquittoBroker &broker, const QByteArray &more = "qos = 1\n")
{
    return "site = \"ps12\"\n[mqtt]\nurl = \"" + broker.Url().toUtf8() + "\"\n" + more;
}

const std::string kSecond = "varik/ps12/vvod1/second";

QByteArray JsonOf(const QByteArray &bytes, const char *pKey)
{
    return QJsonDocument::fromJson(bytes).object().value(QLatin1String(pKey)).toVariant().toString().toUtf8();
}

// The rows of vvod1's per-second log of today in a data folder.
QList<QByteArray> RowsIn(const QString &strDataDir)
{
    return LogRows(strDataDir + QStringLiteral("/vvod1/second/") + QDate::currentDate().toString(Qt::ISODate)
                   + QStringLiteral(".csv"));
}

// The CSV rows the readings on a topic stand for, in the order they came.
QList<QByteArray> RowsReceived(const std::vector<SReceived> &received, const std::string &topic = kSecond)
{
    QList<QByteArray> rows;
    for (const SReceived &one : received)
        if (one.topic == topic)
            rows.append(RowOf(one.payload));
    return rows;
}

// Waits until every row has arrived, then a moment more for anything that
// would come twice.
bool WaitForRows(const CMqttSubscriber &sub, const QList<QByteArray> &rows, int nMs = 20000)
{
    const bool bAll = WaitUntil(
        [&] {
            const QList<QByteArray> got = RowsReceived(sub.Received());
            return std::all_of(rows.begin(), rows.end(), [&](const QByteArray &row) { return got.contains(row); });
        },
        nMs);
    QThread::msleep(300);
    return bAll;
}

// What came more often than once, and what never came.
QString Compare(const QList<QByteArray> &rows, const QList<QByteArray> &got)
{
    QString strText;
    for (const QByteArray &row : rows)
        if (got.count(row) != 1)
            strText += QStringLiteral("%1 times: %2\n").arg(got.count(row)).arg(QString::fromUtf8(row.left(30)));
    return strText;
}

void StopVarikd(CVarikd &varikd)
{
    varikd.Signal(SIGTERM);
    ASSERT_TRUE(varikd.Process().waitForFinished(10000));
    EXPECT_EQ(varikd.Process().exitCode(), 0);
}

} // namespace

TEST(VarikdMqtt, EveryReadingArrivesOnceWithTheCsvRowsTimeAndValues)
{
    QTemporaryDir dir;
    CMosquittoBroker broker(dir.filePath(QStringLiteral("broker")));
    ASSERT_TRUE(broker.Start());
    CSubscription sub(broker.Port(), QStringLiteral("varik/#"));
    CBus bus({QStringLiteral("--devices"), QStringLiteral("1")});
    CVarikd varikd(dir.path());
    varikd.WriteConfig(LineToml(bus.Path(), 115200, {{QStringLiteral("vvod1"), 1, QStringLiteral("  second = 1")}}),
                       "max_backoff = 2\n" + MqttToml(broker));
    varikd.Start();
    ASSERT_TRUE(varikd.WaitForRows(QStringLiteral("vvod1"), 4, 20000)) << varikd.Journal().join(u'\n').toStdString();
    varikd.Signal(SIGTERM);
    ASSERT_TRUE(varikd.Process().waitForFinished(10000));
    EXPECT_EQ(varikd.Process().exitCode(), 0);

    const QList<QByteArray> rows = varikd.Rows(QStringLiteral("vvod1"));
    ASSERT_TRUE(WaitUntil([&] { return sub.On("varik/ps12/vvod1/second").size() >= rows.size(); }, 10000));
    QThread::msleep(300); // nothing more comes
    const QList<QByteArray> messages = sub.On("varik/ps12/vvod1/second");
    ASSERT_EQ(messages.size(), rows.size());
    for (int i = 0; i < rows.size(); ++i)
        EXPECT_EQ(RowOf(messages[i]), rows[i]) << "reading " << i;

    const QList<QByteArray> states = sub.On("varik/ps12/vvod1/state");
    ASSERT_FALSE(states.isEmpty());
    EXPECT_EQ(QJsonDocument::fromJson(states.first()).object().value(QStringLiteral("state")).toString(),
              QStringLiteral("ok"));
    EXPECT_EQ(sub.On("varik/ps12/status"), (QList<QByteArray>{"online", "offline"}));
}

TEST(VarikdMqtt, ARestartWhileTheBrokerIsAwayLosesNothing)
{
    QTemporaryDir dir;
    const QString strBroker = dir.filePath(QStringLiteral("broker"));
    CMosquittoBroker broker(strBroker);
    ASSERT_TRUE(broker.Start("allow_anonymous true\npersistence true\n")); // kept in its folder
    {
        // A subscriber that will be back: the broker keeps what it misses.
        CSubscription early(broker.Port(), QStringLiteral("varik/ps12/vvod1/second"), QStringLiteral("archive"));
        QThread::msleep(500);
    }
    broker.Stop(); // the port is known; nobody listens on it
    CBus bus({QStringLiteral("--devices"), QStringLiteral("1")});
    CVarikd first(dir.path());
    first.WriteConfig(LineToml(bus.Path(), 115200, {{QStringLiteral("vvod1"), 1, QStringLiteral("  second = 1")}}),
                      "max_backoff = 2\n" + MqttToml(broker));
    first.Start();
    ASSERT_TRUE(first.WaitForRows(QStringLiteral("vvod1"), 3, 20000)) << first.Journal().join(u'\n').toStdString();
    first.Signal(SIGTERM);
    ASSERT_TRUE(first.Process().waitForFinished(10000));

    CVarikd second(dir.path()); // the same configuration, the same outbox
    second.Start();
    const int nBefore = int(second.Rows(QStringLiteral("vvod1")).size());
    ASSERT_TRUE(second.WaitForRows(QStringLiteral("vvod1"), nBefore + 2, 20000));

    ASSERT_TRUE(broker.Restart());
    CSubscription live(broker.Port(), QStringLiteral("varik/ps12/vvod1/second"), QStringLiteral("archive"));
    // Every row on disk so far reaches the broker, in order, once.
    const QList<QByteArray> rows = second.Rows(QStringLiteral("vvod1"));
    ASSERT_TRUE(WaitUntil([&] { return live.On("varik/ps12/vvod1/second").size() >= rows.size(); }, 20000))
        << second.Journal().join(u'\n').toStdString();
    second.Signal(SIGTERM);
    ASSERT_TRUE(second.Process().waitForFinished(10000));
    const QList<QByteArray> allRows = second.Rows(QStringLiteral("vvod1"));
    ASSERT_TRUE(WaitUntil([&] { return live.On("varik/ps12/vvod1/second").size() >= allRows.size(); }, 10000));
    const QList<QByteArray> messages = live.On("varik/ps12/vvod1/second");
    ASSERT_EQ(messages.size(), allRows.size());
    for (int i = 0; i < allRows.size(); ++i)
        EXPECT_EQ(RowOf(messages[i]), allRows[i]) << "reading " << i;
    EXPECT_FALSE(second.JournalWith(QStringLiteral("127.0.0.1")).isEmpty()) << "the broker's absence is said";
}

// The broker's settings changed by a reload, each time while readings come:
// none is lost while the publisher takes the new settings.
TEST(VarikdMqtt, ReloadsThatChangeTheMqttTableLoseNoReading)
{
    struct SCase {
        const char *pName;
        const char *pSettings[2]; // in turn
    };
    const SCase cases[] = {
        {"the outbox's bound", {"qos = 1\noutbox_max_mb = 100\n", "qos = 1\noutbox_max_mb = 200\n"}},
        {"the QoS, which connects anew", {"qos = 2\n", "qos = 1\n"}},
    };
    constexpr int kReloads = 5;
    for (const SCase &c : cases) {
        SCOPED_TRACE(c.pName);
        QTemporaryDir dir;
        CMosquittoBroker broker(dir.filePath(QStringLiteral("broker")));
        ASSERT_TRUE(broker.Start());
        CMqttSubscriber sub(broker.Url(), kSecond);
        ASSERT_TRUE(sub.Start());
        CBus bus({QStringLiteral("--devices"), QStringLiteral("1")});
        CVarikd varikd(dir.path());
        const QByteArray line = LineToml(bus.Path(), 115200, {{QStringLiteral("vvod1"), 1, QStringLiteral("  second = 1")}});
        varikd.WriteConfig(line, "max_backoff = 2\n" + MqttToml(broker));
        varikd.Start();
        ASSERT_TRUE(varikd.WaitForRows(QStringLiteral("vvod1"), 2, 20000)) << varikd.Journal().join(u'\n').toStdString();
        for (int n = 1; n <= kReloads; ++n) {
            varikd.WriteConfig(line, "max_backoff = 2\n" + MqttToml(broker, c.pSettings[n % 2]));
            varikd.Signal(SIGHUP);
            ASSERT_TRUE(WaitUntil([&] { return varikd.JournalWith(QStringLiteral("configuration read again")).size() == n; }, 10000));
            const int nRows = int(varikd.Rows(QStringLiteral("vvod1")).size());
            ASSERT_TRUE(varikd.WaitForRows(QStringLiteral("vvod1"), nRows + 1, 10000)); // a reading after each
        }
        StopVarikd(varikd);
        const QList<QByteArray> rows = varikd.Rows(QStringLiteral("vvod1"));
        EXPECT_TRUE(WaitForRows(sub, rows)) << varikd.Journal().join(u'\n').toStdString();
        EXPECT_EQ(Compare(rows, RowsReceived(sub.Received())), QString());
    }
}

// The readings that wait for a broker away when data_dir changes are not
// left behind in the old folder: they come before those of the new one.
TEST(VarikdMqtt, ADataDirChangeTakesAlongWhatWaitsForTheBroker)
{
    QTemporaryDir dir;
    CMosquittoBroker broker(dir.filePath(QStringLiteral("broker")));
    ASSERT_TRUE(broker.Start("allow_anonymous true\npersistence true\n"));
    SSubscriberOptions archive;
    archive.clientId = "archive";
    archive.bKeepSession = true;
    {
        CMqttSubscriber early(broker.Url(), kSecond, archive); // the broker keeps what it misses
        ASSERT_TRUE(early.Start());
    }
    broker.Stop();
    CBus bus({QStringLiteral("--devices"), QStringLiteral("1")});
    CVarikd varikd(dir.path());
    const QByteArray line = LineToml(bus.Path(), 115200, {{QStringLiteral("vvod1"), 1, QStringLiteral("  second = 1")}});
    varikd.WriteConfig(line, "max_backoff = 2\n" + MqttToml(broker));
    varikd.Start();
    ASSERT_TRUE(varikd.WaitForRows(QStringLiteral("vvod1"), 3, 20000)) << varikd.Journal().join(u'\n').toStdString();

    const QString strOther = dir.filePath(QStringLiteral("other"));
    ASSERT_TRUE(TestFiles::PutFile(varikd.ConfigPath(), "data_dir = \"" + strOther.toUtf8() + "\"\nmax_backoff = 2\n"
                                                            + MqttToml(broker) + line));
    varikd.Signal(SIGHUP);
    ASSERT_TRUE(varikd.WaitForJournal(QStringLiteral("configuration read again")));
    ASSERT_TRUE(WaitUntil([&] { return RowsIn(strOther).size() >= 2; }, 10000));
    const QStringList moved = varikd.JournalWith(varikd.DataDir() + QStringLiteral("/.outbox"))
                                  .filter(strOther + QStringLiteral("/.outbox"));
    EXPECT_EQ(moved.size(), 1) << varikd.Journal().join(u'\n').toStdString();

    ASSERT_TRUE(broker.Restart());
    CMqttSubscriber sub(broker.Url(), kSecond, archive);
    ASSERT_TRUE(sub.Start());
    ASSERT_TRUE(WaitForRows(sub, varikd.Rows(QStringLiteral("vvod1")) + RowsIn(strOther)))
        << varikd.Journal().join(u'\n').toStdString();
    StopVarikd(varikd);
    const QList<QByteArray> rows = varikd.Rows(QStringLiteral("vvod1")) + RowsIn(strOther);
    EXPECT_TRUE(WaitForRows(sub, rows));
    EXPECT_EQ(RowsReceived(sub.Received()), rows) << qPrintable(Compare(rows, RowsReceived(sub.Received())));
}

// An outbox in the way does not stop publishing for good: the status and the
// states go out meanwhile, the journal says once that readings are not
// published and once that they are again, after the reload that finds the
// outbox usable.
TEST(VarikdMqtt, AnOutboxThatCannotBeOpenedIsTriedAgainAtAReload)
{
    QTemporaryDir dir;
    CMosquittoBroker broker(dir.filePath(QStringLiteral("broker")));
    ASSERT_TRUE(broker.Start());
    CMqttSubscriber sub(broker.Url(), "varik/ps12/#");
    ASSERT_TRUE(sub.Start());
    CBus bus({QStringLiteral("--devices"), QStringLiteral("1")});
    CVarikd varikd(dir.path());
    ASSERT_TRUE(QDir().mkpath(varikd.DataDir()));
    const QString strOutbox = varikd.DataDir() + QStringLiteral("/.outbox");
    ASSERT_TRUE(TestFiles::PutFile(strOutbox, "in the way"));
    varikd.WriteConfig(LineToml(bus.Path(), 115200, {{QStringLiteral("vvod1"), 1, QStringLiteral("  second = 1")}}),
                       "max_backoff = 2\n" + MqttToml(broker));
    varikd.Start();
    ASSERT_TRUE(varikd.WaitForJournal(QStringLiteral("cannot open the outbox ") + strOutbox));
    EXPECT_TRUE(sub.WaitFor([](const SReceived &r) { return r.topic == "varik/ps12/status" && r.payload == "online"; }))
        << varikd.Journal().join(u'\n').toStdString();
    EXPECT_TRUE(sub.WaitFor([](const SReceived &r) { return r.topic == "varik/ps12/vvod1/state"; }));
    ASSERT_TRUE(varikd.WaitForRows(QStringLiteral("vvod1"), 3, 20000));

    ASSERT_TRUE(QFile::remove(strOutbox));
    varikd.Signal(SIGHUP);
    ASSERT_TRUE(varikd.WaitForJournal(QStringLiteral("readings are published again"))) << varikd.Journal().join(u'\n').toStdString();
    const int nBefore = int(varikd.Rows(QStringLiteral("vvod1")).size());
    ASSERT_TRUE(varikd.WaitForRows(QStringLiteral("vvod1"), nBefore + 3, 20000));
    StopVarikd(varikd);
    const QList<QByteArray> after = varikd.Rows(QStringLiteral("vvod1")).mid(nBefore);
    EXPECT_TRUE(WaitForRows(sub, after)) << varikd.Journal().join(u'\n').toStdString();
    EXPECT_EQ(varikd.JournalWith(QStringLiteral("cannot open the outbox")).size(), 1);
    EXPECT_EQ(varikd.JournalWith(QStringLiteral("readings are published again")).size(), 1);
}

// Stopped with SIGTERM and started again, several times: at every QoS each
// reading reaches the broker once.
TEST(VarikdMqtt, ACleanStopAndStartPublishNoReadingTwice)
{
    for (const int nQos : {0, 1, 2}) {
        SCOPED_TRACE(nQos);
        QTemporaryDir dir;
        CMosquittoBroker broker(dir.filePath(QStringLiteral("broker")));
        ASSERT_TRUE(broker.Start());
        CMqttSubscriber sub(broker.Url(), kSecond);
        ASSERT_TRUE(sub.Start());
        CBus bus({QStringLiteral("--devices"), QStringLiteral("1")});
        for (int nRound = 0; nRound < 3; ++nRound) {
            CVarikd varikd(dir.path());
            varikd.WriteConfig(LineToml(bus.Path(), 115200, {{QStringLiteral("vvod1"), 1, QStringLiteral("  second = 1")}}),
                               "max_backoff = 2\n" + MqttToml(broker, "qos = " + QByteArray::number(nQos) + "\n"));
            const int nRows = int(varikd.Rows(QStringLiteral("vvod1")).size());
            varikd.Start();
            ASSERT_TRUE(varikd.WaitForRows(QStringLiteral("vvod1"), nRows + 3, 20000));
            StopVarikd(varikd);
        }
        const QList<QByteArray> rows = CVarikd(dir.path()).Rows(QStringLiteral("vvod1"));
        EXPECT_TRUE(WaitForRows(sub, rows));
        EXPECT_EQ(RowsReceived(sub.Received()), rows) << qPrintable(Compare(rows, RowsReceived(sub.Received())));
    }
}

// Killed just after a reading reached the broker: what comes again after a
// restart is at most what the last sync of the outbox's position did not
// cover, and with nothing else in flight the position is synced as soon as
// the broker acknowledges. A kill that comes before the acknowledgement does
// (a loaded machine) may still send one reading again.
TEST(VarikdMqtt, AfterAKillAtMostTheReadingsSinceTheLastSyncComeAgain)
{
    QTemporaryDir dir;
    CMosquittoBroker broker(dir.filePath(QStringLiteral("broker")));
    ASSERT_TRUE(broker.Start());
    CMqttSubscriber sub(broker.Url(), kSecond);
    ASSERT_TRUE(sub.Start());
    CBus bus({QStringLiteral("--devices"), QStringLiteral("1")});
    constexpr int kKills = 5;
    for (int nRound = 0; nRound <= kKills; ++nRound) {
        CVarikd varikd(dir.path());
        varikd.WriteConfig(LineToml(bus.Path(), 115200, {{QStringLiteral("vvod1"), 1, QStringLiteral("  second = 2")}}),
                           "max_backoff = 2\n" + MqttToml(broker, "qos = 2\n"));
        const int nRows = int(varikd.Rows(QStringLiteral("vvod1")).size());
        varikd.Start();
        ASSERT_TRUE(varikd.WaitForRows(QStringLiteral("vvod1"), nRows + 1, 20000));
        if (nRound == kKills) {
            StopVarikd(varikd);
            break;
        }
        const QByteArray last = varikd.Rows(QStringLiteral("vvod1")).last();
        ASSERT_TRUE(WaitUntil([&] { return RowsReceived(sub.Received()).contains(last); }, 10000));
        // Its acknowledgement is in by now; the next reading is more than a
        // second away. Before the position was synced at once, it lagged up
        // to a second behind the acknowledgements.
        QThread::msleep(600);
        varikd.Signal(SIGKILL);
        ASSERT_TRUE(varikd.Process().waitForFinished(10000));
    }
    const QList<QByteArray> rows = CVarikd(dir.path()).Rows(QStringLiteral("vvod1"));
    ASSERT_TRUE(WaitForRows(sub, rows)) << qPrintable(Compare(rows, RowsReceived(sub.Received())));
    const QList<QByteArray> got = RowsReceived(sub.Received());
    EXPECT_LE(got.size() - rows.size(), 2) << qPrintable(Compare(rows, got));
}

// The retained state says the counters as they are, not as they were at the
// last change of state: a full outbox's drops, the reads since.
TEST(VarikdMqtt, TheRetainedStateFollowsTheCounters)
{
    QTemporaryDir dir;
    CMosquittoBroker broker(dir.filePath(QStringLiteral("broker")));
    ASSERT_TRUE(broker.Start());
    broker.Stop(); // away from the start, its port known
    CVarikd varikd(dir.path());
    {
        // An outbox already at its bound: the first reading drops the oldest.
        constexpr qint64 kBound = 1024 * 1024;
        const SOutboxMessage filler{"varik/ps12/filler/second", QByteArray(100, 'x')};
        const qint64 nFillerBytes = 16 + filler.topic.size() + filler.payload.size() + 8; // with a segment's header
        COutbox outbox;
        ASSERT_EQ(outbox.Open(varikd.DataDir() + QStringLiteral("/.outbox"), kBound), EOutboxResult::Ok);
        while (outbox.Bytes() + nFillerBytes <= kBound)
            ASSERT_EQ(outbox.Push(filler), EOutboxResult::Ok);
        ASSERT_EQ(outbox.DroppedSinceOpen(), 0);
    }
    CBus bus({QStringLiteral("--devices"), QStringLiteral("1")});
    varikd.WriteConfig(LineToml(bus.Path(), 115200, {{QStringLiteral("vvod1"), 1, QStringLiteral("  second = 1")}}),
                       "max_backoff = 2\n" + MqttToml(broker, "qos = 1\noutbox_max_mb = 1\n"));
    varikd.Start();
    ASSERT_TRUE(varikd.WaitForJournal(QStringLiteral("is full"))) << varikd.Journal().join(u'\n').toStdString();
    ASSERT_TRUE(broker.Restart());
    ASSERT_TRUE(varikd.WaitForJournal(QStringLiteral("readings were dropped"), 30000))
        << varikd.Journal().join(u'\n').toStdString();
    const QString strBurst = varikd.JournalWith(QStringLiteral("readings were dropped")).first();
    const QByteArray dropped = QRegularExpression(QStringLiteral("(\\d+) readings")).match(strBurst).captured(1).toUtf8();
    CMqttSubscriber sub(broker.Url(), "varik/ps12/vvod1/state");
    ASSERT_TRUE(sub.Start());
    // At most a minute behind.
    EXPECT_TRUE(sub.WaitFor(
        [&](const SReceived &r) {
            return JsonOf(r.payload, "dropped") == dropped && JsonOf(r.payload, "reads").toInt() >= 5;
        },
        std::chrono::seconds(65)))
        << "dropped " << dropped.constData() << "; " << (sub.Received().empty() ? "" : sub.Received().back().payload.constData());
    StopVarikd(varikd);
}

// A meter a reload takes out leaves no retained state behind.
TEST(VarikdMqtt, AMeterRemovedByAReloadHasItsRetainedStateCleared)
{
    QTemporaryDir dir;
    CMosquittoBroker broker(dir.filePath(QStringLiteral("broker")));
    ASSERT_TRUE(broker.Start());
    CMqttSubscriber live(broker.Url(), "varik/ps12/+/state");
    ASSERT_TRUE(live.Start());
    CBus bus({QStringLiteral("--devices"), QStringLiteral("1,2")});
    CVarikd varikd(dir.path());
    const SMeterLine one{QStringLiteral("vvod1"), 1, QStringLiteral("  second = 1")};
    const SMeterLine two{QStringLiteral("vvod2"), 2, QStringLiteral("  second = 1")};
    varikd.WriteConfig(LineToml(bus.Path(), 115200, {one, two}), "max_backoff = 2\n" + MqttToml(broker));
    varikd.Start();
    ASSERT_TRUE(live.WaitFor([](const SReceived &r) { return r.topic == "varik/ps12/vvod2/state"; }, 20s))
        << varikd.Journal().join(u'\n').toStdString();
    varikd.WriteConfig(LineToml(bus.Path(), 115200, {one}), "max_backoff = 2\n" + MqttToml(broker));
    varikd.Signal(SIGHUP);
    EXPECT_TRUE(live.WaitFor([](const SReceived &r) { return r.topic == "varik/ps12/vvod2/state" && r.payload.isEmpty(); }))
        << varikd.Journal().join(u'\n').toStdString();

    CMqttSubscriber late(broker.Url(), "varik/ps12/+/state");
    ASSERT_TRUE(late.Start());
    ASSERT_TRUE(late.WaitFor([](const SReceived &r) { return r.topic == "varik/ps12/vvod1/state" && r.bRetained; }));
    QThread::msleep(500);
    for (const SReceived &r : late.Received())
        EXPECT_NE(r.topic, "varik/ps12/vvod2/state") << r.payload.constData();
    StopVarikd(varikd);
}

// SIGTERM costs at most the exchange under way and half a second for the
// broker, however long the disconnect could wait.
TEST(VarikdMqtt, SigtermWithTheBrokerConnectedTakesLittleMore)
{
    QTemporaryDir dir;
    CMosquittoBroker broker(dir.filePath(QStringLiteral("broker")));
    ASSERT_TRUE(broker.Start());
    CMqttSubscriber status(broker.Url(), "varik/ps12/status");
    ASSERT_TRUE(status.Start());
    CBus bus({QStringLiteral("--devices"), QStringLiteral("1")});
    CVarikd varikd(dir.path());
    varikd.WriteConfig(LineToml(bus.Path(), 115200, {{QStringLiteral("vvod1"), 1, QStringLiteral("  second = 1")}}),
                       "max_backoff = 2\n" + MqttToml(broker));
    varikd.Start();
    ASSERT_TRUE(varikd.WaitForRows(QStringLiteral("vvod1"), 2, 20000));
    ASSERT_TRUE(status.WaitFor([](const SReceived &r) { return r.payload == "online"; }));
    QElapsedTimer timer;
    timer.start();
    StopVarikd(varikd);
    const qint64 nMs = timer.elapsed();
    std::printf("SIGTERM to exit: %lld ms\n", static_cast<long long>(nMs));
    EXPECT_LT(nMs, 1500);
    EXPECT_TRUE(status.WaitFor([](const SReceived &r) { return r.payload == "offline"; }));
}
