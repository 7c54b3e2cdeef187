#include "service/line_worker.h"

#include "service/service_operator.h"
#include "session/reading_csv.h"

#include <QDateTime>

#include <algorithm>
#include <optional>

#include <chrono>

namespace {

// The longest the worker sleeps before it looks at the clocks again, so a
// change of the wall clock moves a day read by no more than this.
constexpr qint64 MAX_SLEEP_MS = 1000;

SPollClock Now()
{
    using namespace std::chrono;
    return {duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count(),
            QDateTime::currentMSecsSinceEpoch()};
}

} // namespace

struct CLineWorker::SMeterWork {
    SMeterWork(const SMeterConfig &c, const QString &strDataDir, const std::atomic<bool> *pStop)
        : config(c), op(c.nLevel, c.strPassword, pStop), session(&op)
    {
        MakeLogs(strDataDir);
    }

    void MakeLogs(const QString &strDataDir)
    {
        for (const EDataSet eSet : {EDataSet::Second, EDataSet::Minute, EDataSet::Day}) {
            const QString strFolder = strDataDir + u'/' + config.strName + u'/' + QLatin1String(DataSetName(eSet));
            logs[int(eSet)] = std::make_unique<CDailyCsv>(strFolder, eSet);
            logFailures[int(eSet)].reset();
        }
    }

    SMeterConfig config;
    CServiceOperator op;
    CMeterSession session;
    SMeterStatus status;
    std::unique_ptr<CDailyCsv> logs[3];
    // Why each log could not be written at its last write; none while it is.
    std::optional<QString> logFailures[3];

    // Why a log is not written, that of eSet first; none when all are.
    std::optional<QString> LogFailure(EDataSet eSet) const
    {
        if (logFailures[int(eSet)])
            return logFailures[int(eSet)];
        for (const std::optional<QString> &failure : logFailures)
            if (failure)
                return failure;
        return std::nullopt;
    }
};

CLineWorker::CLineWorker(const QString &strPort, int nBaudRate, CJournal &journal, IReadingSink *pSink)
    : m_strPort(strPort), m_nBaudRate(nBaudRate), m_journal(journal), m_pSink(pSink)
{
}

CLineWorker::~CLineWorker()
{
    RequestStop();
    Join();
}

void CLineWorker::SetMeters(const std::vector<SMeterConfig> &meters, const SLineSettings &settings)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_pending = SPending{meters, settings};
    }
    m_wake.notify_all();
}

void CLineWorker::Start()
{
    m_pThread.reset(QThread::create([this] { Run(); }));
    m_pThread->start();
}

void CLineWorker::RequestStop()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_bStop = true;
    }
    m_wake.notify_all();
}

void CLineWorker::Join()
{
    if (m_pThread)
        m_pThread->wait();
}

std::vector<std::pair<SMeterConfig, SMeterStatus>> CLineWorker::Statuses() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_statuses;
}

void CLineWorker::Run()
{
    for (;;) {
        std::optional<SPending> pending;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (m_bStop)
                break;
            pending.swap(m_pending);
        }
        if (pending)
            ApplyPending(std::move(*pending));

        qint64 nWaitMs = 0;
        const std::optional<SPollJob> job = m_schedule.NextJob(Now(), &nWaitMs);
        if (!job || nWaitMs > 0) {
            WaitFor(job ? std::min(nWaitMs, MAX_SLEEP_MS) : MAX_SLEEP_MS);
            continue;
        }
        RunJob(*job);
    }
    // The sessions and their ports belong to this thread.
    m_meters.clear();
}

void CLineWorker::WaitFor(qint64 nMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait_for(lock, std::chrono::milliseconds(nMs), [this] { return m_bStop || m_pending; });
}

void CLineWorker::ApplyPending(SPending pending)
{
    const bool bNewDataDir = pending.settings.strDataDir != m_settings.strDataDir;
    m_settings = pending.settings;
    std::vector<std::unique_ptr<SMeterWork>> next;
    for (const SMeterConfig &config : pending.meters) {
        auto kept = std::find_if(m_meters.begin(), m_meters.end(),
                                 [&config](const auto &p) { return p && p->config == config; });
        if (kept != m_meters.end()) {
            if (bNewDataDir)
                (*kept)->MakeLogs(m_settings.strDataDir);
            next.push_back(std::move(*kept));
        } else {
            next.push_back(std::make_unique<SMeterWork>(config, m_settings.strDataDir, &m_bStop));
        }
    }
    m_meters = std::move(next);
    m_schedule.SetMeters(pending.meters, m_settings.nMaxBackoffSec, Now());
    PublishStatuses();
}

void CLineWorker::RunJob(const SPollJob &job)
{
    SMeterWork &meter = *m_meters[size_t(job.nMeter)];
    meter.session.SetSecondFeeder(meter.config.nFeeder == 2);
    const SLinkSettings link{m_strPort, m_nBaudRate, QString::number(meter.config.nDevice)};
    const SReadResult result = meter.session.Read(link, job.eSet);
    if (m_bStop)
        return; // cut short on purpose: neither a reading nor a failure
    if (result)
        Succeeded(meter, job.eSet, result);
    else
        Failed(meter, result);
    m_schedule.Done(job, result.bOk, Now());
    PublishStatuses();
}

void CLineWorker::Succeeded(SMeterWork &meter, EDataSet eSet, const SReadResult &result)
{
    SMeterStatus &status = meter.status;
    ++status.nReads;
    if (status.eState == EMeterState::Unknown)
        m_journal.Write(EPriority::Info, QStringLiteral("%1: answers (device %2, feeder %3 on %4)")
                                             .arg(meter.config.strName)
                                             .arg(meter.config.nDevice)
                                             .arg(meter.config.nFeeder)
                                             .arg(m_strPort));
    else if (status.eState != EMeterState::Ok && status.eState != EMeterState::CsvError)
        m_journal.Write(EPriority::Notice, QStringLiteral("%1: answers again").arg(meter.config.strName));
    const SCsvWrite write = meter.logs[int(eSet)]->Append(result.nMsecs, ReadingCsvRow(result));
    LogWrite(meter, eSet, write);
    // The reading goes on to the publisher whether or not its row reached
    // the disk, so nothing is lost; the state says that a log is not written.
    const std::optional<QString> logFailure = meter.LogFailure(eSet);
    const EMeterState eState = logFailure ? EMeterState::CsvError : EMeterState::Ok;
    if (eState != status.eState) {
        status.eState = eState;
        status.nSinceMs = result.nMsecs;
        if (logFailure)
            status.strMessage = *logFailure;
        Tell(meter);
    }
    if (m_pSink)
        m_pSink->OnReading(meter.config, eSet, result);
}

QString CLineWorker::CsvFailureText(const SCsvWrite &write)
{
    return QStringLiteral("cannot write %1: %2").arg(write.strPath, write.strError);
}

void CLineWorker::LogWrite(SMeterWork &meter, EDataSet eSet, const SCsvWrite &write)
{
    std::optional<QString> &failure = meter.logFailures[int(eSet)];
    const bool bFailing = failure.has_value();
    if (write.nCut > 0)
        m_journal.Write(EPriority::Warning, QStringLiteral("%1: %2 bytes of a torn last row cut off")
                                                .arg(write.strPath)
                                                .arg(write.nCut));
    if (!write.bOk && !bFailing)
        m_journal.Write(EPriority::Error, QStringLiteral("%1: cannot write %2: %3; readings are not logged "
                                                         "until it can be written again")
                                              .arg(meter.config.strName, write.strPath, write.strError));
    else if (write.bOk && bFailing)
        m_journal.Write(EPriority::Notice,
                        QStringLiteral("%1: writing %2 again").arg(meter.config.strName, write.strPath));
    if (write.bOk)
        failure.reset();
    else
        failure = CsvFailureText(write);
}

void CLineWorker::Failed(SMeterWork &meter, const SReadResult &result)
{
    const QString strMessage = FailureText(result);
    SMeterStatus &status = meter.status;
    ++status.nFailures;
    status.strMessage = strMessage;
    const EMeterState eState = StateOfFailure(result);
    if (eState == status.eState)
        return; // said once already
    status.eState = eState;
    status.nSinceMs = result.nMsecs;
    m_journal.Write(EPriority::Warning,
                    QStringLiteral("%1: %2: %3 (tried again after a growing pause of at most %4 s)")
                        .arg(meter.config.strName, QLatin1String(StateName(eState)), strMessage)
                        .arg(m_settings.nMaxBackoffSec));
    Tell(meter);
}

void CLineWorker::Tell(const SMeterWork &meter)
{
    if (m_pSink)
        m_pSink->OnState(meter.config, meter.status);
}

void CLineWorker::PublishStatuses()
{
    std::vector<std::pair<SMeterConfig, SMeterStatus>> statuses;
    statuses.reserve(m_meters.size());
    for (const auto &meter : m_meters)
        statuses.emplace_back(meter->config, meter->status);
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_statuses = std::move(statuses);
}
