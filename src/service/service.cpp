#include "service/service.h"

#include <algorithm>

CService::~CService()
{
    Stop();
}

void CService::Apply(const SServiceConfig &config)
{
    const SLineSettings settings{config.strDataDir, config.nMaxBackoffSec};
    std::vector<std::unique_ptr<CLineWorker>> next(config.lines.size());
    for (size_t i = 0; i < config.lines.size(); ++i) {
        const SLineConfig &line = config.lines[i];
        const auto kept = std::find_if(m_workers.begin(), m_workers.end(), [&line](const auto &p) {
            return p && p->Port() == line.strPort && p->BaudRate() == line.nBaudRate;
        });
        if (kept != m_workers.end())
            next[i] = std::move(*kept);
    }
    // Lines that went away (or changed their rate) stop before any new
    // worker opens a port; each ends its exchange at once, so none waits
    // for another's.
    for (const auto &old : m_workers)
        if (old)
            old->RequestStop();
    m_workers.clear();
    for (size_t i = 0; i < config.lines.size(); ++i) {
        const SLineConfig &line = config.lines[i];
        if (next[i]) {
            next[i]->SetMeters(line.meters, settings);
            continue;
        }
        next[i] = std::make_unique<CLineWorker>(line.strPort, line.nBaudRate, m_journal);
        next[i]->SetMeters(line.meters, settings);
        next[i]->Start();
    }
    m_workers = std::move(next);
    if (m_workers.empty())
        m_journal.Write(EPriority::Notice, QStringLiteral("no meter is configured; nothing to read"));
}

void CService::Stop()
{
    for (const auto &worker : m_workers)
        worker->RequestStop();
    for (const auto &worker : m_workers)
        worker->Join();
    m_workers.clear();
}

std::vector<std::pair<QString, SMeterStatus>> CService::Statuses() const
{
    std::vector<std::pair<QString, SMeterStatus>> all;
    for (const auto &worker : m_workers) {
        auto statuses = worker->Statuses();
        all.insert(all.end(), statuses.begin(), statuses.end());
    }
    return all;
}
