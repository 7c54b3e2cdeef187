// A supply-quality report made from CSV logs on a thread of its own, so
// that the window goes on painting and reading the meter while gigabytes of
// logs are read. The window polls the share read and may cancel.
#pragma once

#include "files/report_logs.h"

#include <QDate>
#include <QObject>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

class QThread;

// MakeReport, or a stand-in in the tests.
using ReportMaker = std::function<SReportOutcome(const SReportRequest &, const ReportProgress &)>;

class CReportTask : public QObject {
    Q_OBJECT
public:
    CReportTask(SReportRequest request, ReportMaker fnMake, QObject *pParent = nullptr);
    // Cancels a report under way and waits for its thread.
    ~CReportTask() override;

    void Start();
    void Cancel() { m_bCancel = true; }
    // Thousandths of the logs' bytes read so far.
    int Permille() const;
    // Once Finished has come.
    const SReportOutcome &Outcome() const { return m_outcome; }

signals:
    void Finished();

private:
    SReportRequest m_request;
    ReportMaker m_fnMake;
    SReportOutcome m_outcome;
    std::atomic<qint64> m_nRead{0};
    std::atomic<qint64> m_nTotal{0};
    std::atomic<bool> m_bCancel{false};
    std::unique_ptr<QThread> m_pThread;
};

// The local dates of the earliest and of the latest row of the logs, from
// the first and the last line of each file; none when no file has a row.
std::optional<std::pair<QDate, QDate>> LogsDateSpan(const QStringList &logs);
