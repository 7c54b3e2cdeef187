// The operator's window: the three lists with their read and save buttons,
// the connection settings, continuous reading with recording, the chart
// window and the exit command. It owns the one link to the meter and the
// limits the lists and the charts judge values against.
#pragma once

#include "window/window_operator.h"
#include "window/dialogs.h"
#include "window/command_queue.h"
#include "window/input_hold.h"
#include "window/list_model.h"
#include "window/readings.h"
#include "session/meter_session.h"
#include "data/supply_limits.h"

#include <QDialog>
#include <QStringList>
#include <QTimer>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class CChartsDlg;
class QComboBox;
class QTableView;

namespace Ui {
class CVarikDlg;
}

// What the start-up tells the window.
struct SWindowSetup {
    QString strTitle;                         // caption of the boxes; the settings file is <title>.INI
    QStringList extraPorts;                   // names from --port and the demo meter
    std::function<QStringList()> fnSystemPorts; // null: the ports the system reports
    QString strPort;                          // selected after start when listed (demo)
    QString strDeviceNumber;                  // shown after start (demo)
    QString strLimitsPath;                    // empty: limits.txt in the user's configuration folder
};

class CVarikDlg : public QDialog {
    Q_OBJECT
public:
    // pDialogs null: the window shows real Qt boxes and dialogs.
    explicit CVarikDlg(SWindowSetup setup, IWindowDialogs *pDialogs = nullptr, QWidget *pParent = nullptr);
    ~CVarikDlg() override;

    const CListRows &SecondRows() const { return m_modelSecond.Rows(); }
    const CListRows &MinuteRows() const { return m_modelMinute.Rows(); }
    const CListRows &DayRows() const { return m_modelDay.Rows(); }
    CMeterLink &Link() { return m_session.Link(); }
    CMeterSession &Session() { return m_session; }
    const QString &IniPath() const { return m_strIniPath; }
    // True while a command runs (the operator's input to the window waits).
    bool IsBusy() const { return m_commands.IsBusy(); }

    // Runs fnCommand as a command of this window: at once when none runs,
    // otherwise after the running one has ended. Other windows use it for
    // their dialogs, which must never open inside an exchange with the meter.
    void RunWhenIdle(std::function<void()> fnCommand) { m_commands.RunWhenIdle(std::move(fnCommand)); }

    const CLimits &Limits() const { return m_limits; }
    const QString &LimitsPath() const { return m_strLimitsPath; }
    // The CSV log's line under the window's controls; empty while no log is
    // written. CsvLogState() is the whole text, which the line may shorten.
    void ShowCsvLogState(const QString &strState);
    QString CsvLogState() const;
    // When the list last showed a new reading (ms since the epoch), 0 never.
    qint64 SecondReadTime() const { return m_nSecondReadTime; }
    qint64 MinuteReadTime() const { return m_nMinuteReadTime; }
    // The chart window, null until it is first opened.
    CChartsDlg *Charts() const { return m_pCharts; }

    static constexpr int TIMER_ID = 101;

public slots:
    void OnReadSecond();
    void OnReadMinute();
    void OnReadDay();
    void OnCheckConnection();
    void OnRefreshPorts();
    void OnContinuousRead();
    void OnTimer();
    void OnDeltaposInterval(int nPosition, int nDelta);
    void OnRecordToFile();
    void OnBrowseRecordFile();
    void OnSaveSecond();
    void OnSaveMinute();
    void OnSaveDay();
    void OnAbout();
    // "Графики…" and Ctrl+G: shows the chart window without taking the focus.
    void OnCharts();
    // The exit command: "Выход", Enter, Esc and the close box.
    void reject() override;

signals:
    // The Секунда list shows a new reading, read at nMsecs; raw holds the
    // values as the meter sent them. bTick: a tick of continuous reading.
    void SecondRead(qint64 nMsecs, const std::vector<std::int32_t> &raw, bool bTick);
    void MinuteRead(qint64 nMsecs);
    // A tick of continuous reading got no reading (the list keeps the last).
    void SecondTickFailed(qint64 nMsecs);

private:
    void OnInitDialog();
    void InitList(QTableView *pView, CListModel &model, int nNameWidth, int nValueWidth);
    void InitSecondList();
    void InitMinuteList();
    void InitDayList();
    void SelectRemembered(QComboBox *pCombo, const QString &strText, int nFallback);

    // Moves the three values between the controls and the members: true takes
    // them from the controls, false shows them.
    void UpdateData(bool bSaveAndValidate);

    // Runs one command at a time; input to the window waits until it ends.
    void RunCommand(const std::function<void()> &fnCommand) { m_commands.Run(fnCommand); }
    void LoadLimits();
    void ReadSecond(bool bTick);
    void TickOnce();
    SLinkSettings TakeLinkSettings();
    // Reads a set into its list (the list keeps its values when the read
    // fails); a short reply is told of only when bReportShortReply.
    SReadResult ReadList(EDataSet set, CListModel &model, bool bReportShortReply);
    void SaveList(const CListModel &model);
    void Record();
    void StartTimer();

    std::unique_ptr<Ui::CVarikDlg> m_pUi;
    std::unique_ptr<IWindowDialogs> m_pOwnDialogs;
    IWindowDialogs *m_pDialogs;
    CWindowOperator m_operator;
    SWindowSetup m_setup;

    CListModel m_modelSecond;
    CListModel m_modelMinute;
    CListModel m_modelDay;
    QTimer m_timerContinuous;

    bool m_bSecondFeeder = false;
    QString m_strInterval;
    bool m_bRecordToFile = false;

    CMeterSession m_session;
    QString m_strIniPath;
    CInputHold m_inputHold;
    CCommandQueue m_commands;

    QString m_strLimitsPath;
    CLimits m_limits;
    qint64 m_nSecondReadTime = 0;
    qint64 m_nMinuteReadTime = 0;
    CReadings m_readings;
    CChartsDlg *m_pCharts = nullptr; // a child window, made on first open
};
