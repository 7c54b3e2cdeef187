// Publishes the readings and the meters' states to an MQTT broker (Eclipse
// Paho). Reading the meters never waits for the broker: a reading goes into
// the outbox on disk and a thread of the publisher's own delivers the outbox
// in order whenever the broker can be reached, reconnecting with a back-off
// that doubles. The states are retained and only the latest of each meter
// counts, so they are kept in memory and sent again after every connect.
//
// A reading leaves the outbox once the broker acknowledged it (at QoS 0:
// once written to the connection), and the outbox's position is synced as
// soon as nothing else waits. So a clean stop, which awaits the
// answers of what is in flight, sends nothing twice, and a crash sends again
// only what was in flight and what was acknowledged since the last sync.
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
    // cannot be opened. Then the status and the states are published all
    // the same, and the outbox is tried again every minute and at each
    // Reconfigure until it opens.
    bool Start();
    // Sends no new reading after half of nWaitMs, waits for the answers of
    // those in flight until three quarters, puts the outbox's position on
    // the disk and says "offline" within nWaitMs; Paho's teardown takes about
    // 100 ms more.
    void Stop(int nWaitMs = 400);

    // Settings read again, applied without losing a reading: a new bound
    // at once, a new folder by moving what waits in the old one there (on the
    // publisher's thread, pushes going on meanwhile), other settings by
    // connecting anew once what is in flight is answered. An outbox that
    // could not be opened is tried again now.
    void Reconfigure(const SMqttConfig &config, const QString &strOutboxFolder);

    // A reading of a meter; thread-safe, returns at once.
    void PublishReading(const QString &strMeter, const QByteArray &set, const QByteArray &json);
    // The state of a meter; thread-safe, returns at once.
    void PublishState(const QString &strMeter, const QByteArray &json);
    // A meter that is gone: the broker forgets its retained state.
    void ClearState(const QString &strMeter);

    // Readings that will not reach the broker, since the start: dropped by a
    // full outbox, or kept nowhere while no outbox could be written.
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
