// The chart window "Графики": the harmonic spectrum of the last Секунда or
// Минута reading, the trend of chosen Секунда rows while continuous reading
// runs, and the CSV log of every Секунда reading. A child window of the main
// window that follows its reads; it never takes the focus and stays open
// while the operator works in the main window. Closing it hides it.
#pragma once

#include "window/dialogs.h"
#include "window/report_task.h"
#include "data/report_document.h"
#include "data/spectrum.h"
#include "data/trend.h"

#include <QWidget>

#include <cstdint>
#include <memory>
#include <vector>

class CCsvLogFile;
class CReportTask;
class QTimer;
struct SSupplyReport;
class CSpectrumPlot;
class CTrendPlot;
class CCommandQueue;
class CReadings;
class QListWidgetItem;

namespace Ui {
class CChartsDlg;
}

class CChartsDlg : public QWidget {
    Q_OBJECT
public:
    // pOwner: the main window, whose commands run on commands and whose
    // readings are readings. pDialogs null: the window's own, over itself.
    CChartsDlg(QWidget *pOwner, const CReadings &readings, CCommandQueue &commands, IWindowDialogs *pDialogs);
    ~CChartsDlg() override;

    CSpectrumPlot &Spectrum() const { return *m_pSpectrum; }
    CTrendPlot &Trend() const { return *m_pTrend; }
    EPhase Phase() const;
    ESpectrumSource Source() const;
    // The CSV log's file, empty while no log is written.
    const QString &CsvLogPath() const { return m_strCsvPath; }
    // Moves the window, not yet shown, beside the owner where its screen
    // has room; once shown and framed by the window system, it is set right
    // for the frame it really got.
    void MoveBeside(const QWidget &owner);
    // The clock that moves the trend's time on from the first reading's.
    void SetMonotonicClock(CTrendClock::Monotonic fnMonotonic) { m_trendClock = CTrendClock(std::move(fnMonotonic)); }
    // What reads the logs of a report (MakeReport unless a test says otherwise).
    void SetReportMaker(ReportMaker fnMake) { m_fnMakeReport = std::move(fnMake); }
    // True from the logs' reading until the report is written or dropped.
    bool ReportUnderWay() const;
    // The limits file the window judges by, named in the report.
    void SetLimitsFile(const QString &strPath) { m_strLimitsFile = strPath; }

signals:
    // The CSV log's state line, empty while no log is written.
    void CsvLogStateChanged(const QString &strState);

public slots:
    // "Журнал CSV…": asks for the file once no command of the main window runs.
    void OnCsvLog();
    void OnCsvStop();
    void OnTrendDefaultRows();
    // "Отчёт…": the logs, the period, the reading on a worker with a
    // progress bar, the PDF's name; then the PDF is written and opened.
    void OnReport();

private:
    void PlaceFrameBeside();
    void OnSecondRead(qint64 nMsecs, const std::vector<std::int32_t> &raw, bool bTick);
    void OnMinuteRead(qint64 nMsecs);
    void OnSecondTickFailed(qint64 nMsecs);
    void ShowSpectrum();
    void FillTrendRows();
    void OnTrendRowChecked(QListWidgetItem *pItem);
    void ShowStats();
    void StartCsvLog();
    void ShowCsvState();
    void AskReport();
    void PollReport();
    void OnReportRead();
    void WriteReport(const SSupplyReport &report);
    void ShowReportState();

    std::unique_ptr<Ui::CChartsDlg> m_pUi;
    const CReadings &m_readings;
    CCommandQueue &m_commands;
    std::unique_ptr<IWindowDialogs> m_pOwnDialogs;
    IWindowDialogs *m_pDialogs;
    CSpectrumPlot *m_pSpectrum;
    CTrendPlot *m_pTrend;
    CTrendClock m_trendClock;
    std::unique_ptr<CCsvLogFile> m_pCsvLog; // null while no log is written
    QString m_strCsvPath;
    bool m_bCsvAsked = false; // "Журнал CSV…" waits for the main window
    ReportMaker m_fnMakeReport;
    std::unique_ptr<CReportTask> m_pReport; // while the logs are read
    QString m_strLimitsFile;
    SReportDocument m_reportDocument; // what the report says of itself, from the logs asked for
    QTimer *m_pReportPoll;
    bool m_bReportAsked = false; // waits for the main window's command, or writes
    const QWidget *m_pPlacedBeside = nullptr; // the owner, until the real frame is placed
    int m_nFrameChecks = 0;
};
