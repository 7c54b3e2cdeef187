// Publishes the readings and the meters' states to an MQTT broker (Eclipse
// Paho). Reading the meters never waits for the broker: a reading goes into
// the outbox on disk and a thread of the publisher's own delivers the outbox
// in order whenever the broker can be reached, reconnecting with a back-off
// that doubles. The states are retained and only the latest of each meter
// counts, so they are kept in memory and sent again after every connect.
//
// Topics: <topic>/<meter>/<set> for readings, <topic>/<meter>/state
// (retained), <topic>/status (retained "online", and "offline" as the last
// will and on a clean stop).
#pragma once

#include "service/journal.h"
#include "service/service_config.h"

#include <QByteArray>
#include <QString>

#include <memory>

class CMqttPublisher {
public:
    CMqttPublisher(const SMqttConfig &config, const QString &strOutboxFolder, CJournal &journal);
    ~CMqttPublisher(); // Stop()
    CMqttPublisher(const CMqttPublisher &) = delete;
    CMqttPublisher &operator=(const CMqttPublisher &) = delete;

    // Opens the outbox and starts connecting; false (logged) when the outbox
    // cannot be opened.
    bool Start();
    // Says "offline", delivers what it can within nWaitMs, disconnects.
    void Stop(int nWaitMs = 2000);

    // A reading of a meter; thread-safe, returns at once.
    void PublishReading(const QString &strMeter, const QByteArray &set, const QByteArray &json);
    // The state of a meter; thread-safe, returns at once.
    void PublishState(const QString &strMeter, const QByteArray &json);

    // Readings the outbox dropped because it was full, since the start.
    qint64 Dropped() const;
    // Messages waiting in the outbox.
    qint64 Waiting() const;
    bool IsConnected() const;

    // client_id, or the one derived from the topic prefix (ClientIdOf): the
    // same on every run, and distinct for distinct prefixes.
    static QString ClientId(const SMqttConfig &config);

private:
    struct SImpl;
    std::unique_ptr<SImpl> m_p;
};
