#include "service/service.h"

#include "data/reading_json.h"
#include "session/reading_csv.h"

#include <algorithm>
#include <iterator>

namespace {

// Where readings wait for the broker: beside the meters' folders, under a
// name no meter may have.
QString OutboxFolder(const QString &strDataDir)
{
    return strDataDir + QStringLiteral("/.outbox");
}

} // namespace

CService::~CService()
{
    Stop();
}

void CService::Apply(const SServiceConfig &config)
{
    ApplyPublisher(config);
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
        next[i] = std::make_unique<CLineWorker>(line.strPort, line.nBaudRate, m_journal,
                                                 static_cast<IReadingSink *>(this));
        next[i]->SetMeters(line.meters, settings);
        next[i]->Start();
    }
    m_workers = std::move(next);
    if (m_workers.empty())
        m_journal.Write(EPriority::Notice, QStringLiteral("no meter is configured; nothing to read"));
}

void CService::ApplyPublisher(const SServiceConfig &config)
{
    std::set<QString> meters;
    for (const SLineConfig &line : config.lines)
        for (const SMeterConfig &meter : line.meters)
            meters.insert(meter.strName);
    std::set<QString> gone;
    {
        const std::lock_guard<std::mutex> lock(m_publisherMutex);
        std::set_difference(m_meters.begin(), m_meters.end(), meters.begin(), meters.end(),
                            std::inserter(gone, gone.end()));
        m_meters = meters; // a gone meter's last reports change no state now
    }
    if (!config.mqtt.bEnabled) {
        StopPublisher();
        return;
    }
    const QString strOutbox = OutboxFolder(config.strDataDir);
    if (m_pPublisher) {
        m_pPublisher->Reconfigure(config.mqtt, strOutbox);
        for (const QString &strMeter : gone)
            m_pPublisher->ClearState(strMeter);
        return;
    }
    auto pNew = std::make_unique<CMqttPublisher>(config.mqtt, strOutbox, m_journal);
    pNew->Start(); // an outbox that cannot be opened is said and tried again; the rest is published meanwhile
    // The states known so far, so the broker's retained ones are current.
    for (const auto &[meter, status] : Statuses())
        if (status.eState != EMeterState::Unknown && meters.count(meter.strName))
            pNew->PublishState(meter.strName, StateJson({StateName(status.eState), LocalCsvTime(status.nSinceMs),
                                                         status.strMessage, status.nReads, status.nFailures,
                                                         pNew->Dropped()}));
    const std::lock_guard<std::mutex> lock(m_publisherMutex);
    m_pPublisher = std::move(pNew);
}

void CService::StopPublisher()
{
    std::unique_ptr<CMqttPublisher> pPublisher;
    {
        const std::lock_guard<std::mutex> lock(m_publisherMutex);
        pPublisher = std::move(m_pPublisher);
    }
    if (pPublisher)
        pPublisher->Stop();
}

// Under m_publisherMutex, with a publisher.
QByteArray CService::StateOf(const SMeterStatus &status) const
{
    return StateJson({StateName(status.eState), LocalCsvTime(status.nSinceMs), status.strMessage, status.nReads,
                      status.nFailures, m_pPublisher->Dropped()});
}

void CService::OnReading(const SMeterConfig &meter, EDataSet eSet, const SReadResult &result)
{
    const QByteArray json = ReadingJson(LocalCsvTime(result.nMsecs), meter.strName, meter.nDevice, meter.nFeeder,
                                        eSet, result.reading.values);
    const std::lock_guard<std::mutex> lock(m_publisherMutex);
    if (m_pPublisher)
        m_pPublisher->PublishReading(meter.strName, DataSetName(eSet), json);
}

void CService::OnState(const SMeterConfig &meter, const SMeterStatus &status)
{
    const std::lock_guard<std::mutex> lock(m_publisherMutex);
    if (m_pPublisher && m_meters.count(meter.strName))
        m_pPublisher->PublishState(meter.strName, StateOf(status));
}

void CService::RefreshStates()
{
    // Well inside the minute a retained state may lag behind.
    constexpr auto kRefresh = std::chrono::seconds(10);
    const auto now = std::chrono::steady_clock::now();
    if (!m_pPublisher || now - m_lastRefresh < kRefresh)
        return;
    m_lastRefresh = now;
    const auto statuses = Statuses();
    const std::lock_guard<std::mutex> lock(m_publisherMutex);
    for (const auto &[meter, status] : statuses)
        if (status.eState != EMeterState::Unknown && m_meters.count(meter.strName))
            m_pPublisher->PublishState(meter.strName, StateOf(status)); // the same as sent: nothing goes
}

void CService::Stop()
{
    for (const auto &worker : m_workers)
        worker->RequestStop();
    for (const auto &worker : m_workers)
        worker->Join();
    m_workers.clear();
    StopPublisher();
    const std::lock_guard<std::mutex> lock(m_publisherMutex);
    m_meters.clear();
}

std::vector<std::pair<SMeterConfig, SMeterStatus>> CService::Statuses() const
{
    std::vector<std::pair<SMeterConfig, SMeterStatus>> all;
    for (const auto &worker : m_workers) {
        auto statuses = worker->Statuses();
        all.insert(all.end(), statuses.begin(), statuses.end());
    }
    return all;
}
