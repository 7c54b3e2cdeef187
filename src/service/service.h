// All lines of the configuration, each read by its own worker, and the
// publisher when a broker is configured. A new configuration is applied in
// place: a line whose port and rate stay keeps its worker (and its meters
// that did not change keep their state), a line that went away is stopped,
// a new one started; the publisher takes new settings in place, so no
// reading goes unpublished meanwhile, and the retained state of a meter
// taken out is cleared.
#pragma once

#include "service/journal.h"
#include "service/line_worker.h"
#include "service/mqtt_publisher.h"
#include "service/service_config.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <set>
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

    // Publishes again every meter's state whose counters moved since it was
    // last sent, once in a while: the retained state is never long behind.
    // Called at every wake of the main thread.
    void RefreshStates();

private:
    void OnReading(const SMeterConfig &meter, EDataSet eSet, const SReadResult &result) override;
    void OnState(const SMeterConfig &meter, const SMeterStatus &status) override;
    void ApplyPublisher(const SServiceConfig &config);
    void StopPublisher();
    QByteArray StateOf(const SMeterStatus &status) const;

    CJournal &m_journal;
    std::vector<std::unique_ptr<CLineWorker>> m_workers;
    std::chrono::steady_clock::time_point m_lastRefresh = std::chrono::steady_clock::now();

    // The workers call in on their own threads. Only the main thread makes
    // or ends the publisher, so it reads the pointer without the lock.
    mutable std::mutex m_publisherMutex;
    std::unique_ptr<CMqttPublisher> m_pPublisher; // guarded by m_publisherMutex
    std::set<QString> m_meters; // the configuration's, by name; guarded by m_publisherMutex
};
