// All lines of the configuration, each read by its own worker, and the
// publisher when a broker is configured. A new configuration is applied in
// place: a line whose port and rate stay keeps its worker (and its meters
// that did not change keep their state), a line that went away is stopped,
// a new one started; the publisher is made anew only when its settings or
// the data folder changed.
#pragma once

#include "service/journal.h"
#include "service/line_worker.h"
#include "service/mqtt_publisher.h"
#include "service/service_config.h"

#include <memory>
#include <mutex>
#include <vector>

class CService : private IReadingSink {
public:
    explicit CService(CJournal &journal) : m_journal(journal) {}
    ~CService() override; // stops every line
    CService(const CService &) = delete;
    CService &operator=(const CService &) = delete;

    void Apply(const SServiceConfig &config);
    // Ends the exchange on every line at once, then waits for the workers;
    // the publisher says it is going offline last.
    void Stop();

    // Every meter's settings and state, line by line.
    std::vector<std::pair<SMeterConfig, SMeterStatus>> Statuses() const;

private:
    void OnReading(const SMeterConfig &meter, EDataSet eSet, const SReadResult &result) override;
    void OnState(const SMeterConfig &meter, const SMeterStatus &status) override;
    void ApplyPublisher(const SServiceConfig &config);

    CJournal &m_journal;
    std::vector<std::unique_ptr<CLineWorker>> m_workers;

    // The workers call in on their own threads.
    mutable std::mutex m_publisherMutex;
    std::unique_ptr<CMqttPublisher> m_pPublisher; // guarded by m_publisherMutex
    SMqttConfig m_mqtt;
    QString m_strOutbox;
};
