// Two sites whose names have no ASCII letter to tell them apart ("ПС-1",
// "ТП-1"), publishing to one real mosquitto on loopback: each keeps its own
// session, so the broker never throws one off and says "offline" for it.
#include "service/mqtt_publisher.h"

#include "mosquitto_broker.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace MqttTest;

namespace {

// The publishers' journal lines are not looked at here.
class CQuietJournal : public CJournal {
protected:
    void WriteLine(const QByteArray &) override {}
};

SMqttConfig SiteConfig(const QString &strUrl, const QString &strSite)
{
    SMqttConfig config;
    config.bEnabled = true;
    config.strUrl = strUrl;
    config.strTopic = QStringLiteral("varik/") + strSite;
    return config;
}

TEST(MqttClientIds, SitesWhoseReadableIdsAreOneStayConnectedSideBySide)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    CMosquittoBroker broker(dir.path() + QStringLiteral("/broker"));
    ASSERT_TRUE(broker.Start());
    CMqttSubscriber all(broker.Url(), "varik/#");
    ASSERT_TRUE(all.Start());
    CQuietJournal journal;
    CMqttPublisher ps1(SiteConfig(broker.Url(), QStringLiteral("ПС-1")), dir.path() + QStringLiteral("/ps1"), journal);
    CMqttPublisher tp1(SiteConfig(broker.Url(), QStringLiteral("ТП-1")), dir.path() + QStringLiteral("/tp1"), journal);
    ASSERT_TRUE(ps1.Start());
    ASSERT_TRUE(tp1.Start());
    ps1.PublishReading(QStringLiteral("m1"), "second", "{\"site\": 1}");
    tp1.PublishReading(QStringLiteral("m1"), "second", "{\"site\": 2}");

    const auto arrived = [&](const std::string &topic, const QByteArray &payload) {
        return all.WaitFor([&](const SReceived &r) { return r.topic == topic && r.payload == payload; }, 20s);
    };
    EXPECT_TRUE(arrived("varik/ПС-1/status", "online"));
    EXPECT_TRUE(arrived("varik/ТП-1/status", "online"));
    EXPECT_TRUE(arrived("varik/ПС-1/m1/second", "{\"site\": 1}"));
    EXPECT_TRUE(arrived("varik/ТП-1/m1/second", "{\"site\": 2}"));
    EXPECT_TRUE(ps1.IsConnected());
    EXPECT_TRUE(tp1.IsConnected());
    for (const SReceived &r : all.Received())
        EXPECT_NE(r.payload, "offline") << r.topic;
    EXPECT_FALSE(broker.Log().contains("already connected")) << broker.Log().constData();
}

} // namespace
