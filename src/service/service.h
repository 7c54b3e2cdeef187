// All lines of the configuration, each read by its own worker. A new
// configuration is applied in place: a line whose port and rate stay keeps
// its worker (and its meters that did not change keep their state), a line
// that went away is stopped, a new one started.
#pragma once

#include "service/journal.h"
#include "service/line_worker.h"
#include "service/service_config.h"

#include <memory>
#include <vector>

class CService {
public:
    explicit CService(CJournal &journal) : m_journal(journal) {}
    ~CService(); // stops every line
    CService(const CService &) = delete;
    CService &operator=(const CService &) = delete;

    void Apply(const SServiceConfig &config);
    // Ends the exchange on every line at once, then waits for the workers.
    void Stop();

    // Every meter's state, line by line.
    std::vector<std::pair<QString, SMeterStatus>> Statuses() const;

private:
    CJournal &m_journal;
    std::vector<std::unique_ptr<CLineWorker>> m_workers;
};
