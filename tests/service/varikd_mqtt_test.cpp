// varikd publishing end to end: the built program against a varik-meter bus
// and Debian's mosquitto started by the test, watched with mosquitto_sub. The
// publisher's own cases (a wrong password, TLS, a full outbox, the last will)
// are in mqtt_publisher_test.cpp.
#include "mosquitto_broker.h"
#include "varikd_process.h"

#include <QJsonDocument>
#include <QJsonObject>
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

QByteArray MqttToml(const CMosquittoBroker &broker)
{
    return "site = \"ps12\"\n[mqtt]\nurl = \"" + broker.Url().toUtf8() + "\"\nqos = 1\n";
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
