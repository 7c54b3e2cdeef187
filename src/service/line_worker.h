// One serial line and the meters on it, read by a thread of its own: one
// exchange at a time, each meter when its schedule says, every reading put
// in its daily CSV log before the next read. A dead line holds up nobody
// but its own meters, and a silent meter backs off so the others keep
// their rate.
#pragma once

#include "service/daily_csv.h"
#include "service/journal.h"
#include "service/meter_state.h"
#include "service/poll_schedule.h"
#include "service/service_config.h"
#include "session/meter_session.h"

#include <QString>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// Who hears of every reading and every change of a meter's state, besides
// the logs and the journal (the publisher). Called on the worker's thread;
// must return at once.
class IReadingSink {
public:
    virtual ~IReadingSink() = default;
    virtual void OnReading(const SMeterConfig &meter, EDataSet eSet, const SReadResult &result) = 0;
    virtual void OnState(const SMeterConfig &meter, const SMeterStatus &status) = 0;
};

// What a line needs besides its port: where the logs go, how long a
// failing meter may wait at most.
struct SLineSettings {
    QString strDataDir;
    int nMaxBackoffSec = 300;

    bool operator==(const SLineSettings &) const = default;
};

class CLineWorker {
public:
    CLineWorker(const QString &strPort, int nBaudRate, CJournal &journal, IReadingSink *pSink = nullptr);
    ~CLineWorker(); // stops the thread and waits for it
    CLineWorker(const CLineWorker &) = delete;
    CLineWorker &operator=(const CLineWorker &) = delete;

    const QString &Port() const { return m_strPort; }
    int BaudRate() const { return m_nBaudRate; }

    // The meters of the line from now on, taken between two exchanges. A
    // meter whose settings did not change keeps its access level, its
    // schedule and its state.
    void SetMeters(const std::vector<SMeterConfig> &meters, const SLineSettings &settings);
    void Start();
    // Ends the exchange that runs at once (the reading is dropped) and the
    // thread after it; Join waits for that.
    void RequestStop();
    void Join();

    // The settings and state of each meter, in the order of the configuration.
    std::vector<std::pair<SMeterConfig, SMeterStatus>> Statuses() const;

private:
    struct SMeterWork;
    struct SPending {
        std::vector<SMeterConfig> meters;
        SLineSettings settings;
    };

    void Run();
    void ApplyPending(SPending pending);
    void WaitFor(qint64 nMs);
    void RunJob(const SPollJob &job);
    void Succeeded(SMeterWork &meter, EDataSet eSet, const SReadResult &result);
    void Failed(SMeterWork &meter, const SReadResult &result);
    void LogWrite(SMeterWork &meter, EDataSet eSet, const SCsvWrite &write);
    // A log's failure as the meter's state says it: the file and the system's reason.
    static QString CsvFailureText(const SCsvWrite &write);
    void Tell(const SMeterWork &meter);
    void PublishStatuses();

    const QString m_strPort;
    const int m_nBaudRate;
    CJournal &m_journal;
    IReadingSink *m_pSink;
    std::atomic<bool> m_bStop{false};

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<SPending> m_pending;                          // guarded by m_mutex
    std::vector<std::pair<SMeterConfig, SMeterStatus>> m_statuses; // guarded by m_mutex

    // Only the worker's thread touches these.
    std::vector<std::unique_ptr<SMeterWork>> m_meters;
    SLineSettings m_settings;
    CPollSchedule m_schedule;

    // A QThread, not a std::thread: the serial port's notifiers want one.
    std::unique_ptr<QThread> m_pThread;
};
