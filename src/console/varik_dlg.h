// The operator's window: the three lists with their read and save buttons,
// the connection settings, continuous reading with recording, and the exit
// command. It owns the one link to the meter.
#pragma once

#include "console_operator.h"
#include "dialogs.h"
#include "input_hold.h"
#include "list_model.h"
#include "meter_link.h"

#include <QDialog>
#include <QStringList>
#include <QTimer>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

class QComboBox;
class QTableView;

namespace Ui {
class CVarikDlg;
}

// What the start-up tells the window.
struct SConsoleSetup {
    QString strTitle;                         // caption of the boxes; the settings file is <title>.INI
    QStringList extraPorts;                   // names from --port and the demo meter
    std::function<QStringList()> fnSystemPorts; // null: the ports the system reports
    QString strPort;                          // selected after start when listed (demo)
    QString strDeviceNumber;                  // shown after start (demo)
};

class CVarikDlg : public QDialog {
    Q_OBJECT
public:
    // pDialogs null: the window shows real Qt boxes and dialogs.
    explicit CVarikDlg(SConsoleSetup setup, IConsoleDialogs *pDialogs = nullptr, QWidget *pParent = nullptr);
    ~CVarikDlg() override;

    const CListRows &SecondRows() const { return m_modelSecond.Rows(); }
    const CListRows &MinuteRows() const { return m_modelMinute.Rows(); }
    const CListRows &DayRows() const { return m_modelDay.Rows(); }
    CMeterLink &Link() { return m_link; }
    const QString &IniPath() const { return m_strIniPath; }
    // True while a command runs (the operator's input to the window waits).
    bool IsBusy() const { return m_bBusy; }

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
    // The exit command: "Выход", Enter, Esc and the close box.
    void reject() override;

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

    // Runs one command at a time. Input to the window waits until it ends;
    // a timer tick that falls due meanwhile runs after it, and so does an
    // exit asked for by the close box.
    void RunCommand(const std::function<void()> &fnCommand);
    void ReadSecond();
    void TickOnce();
    bool TakeLinkSettings(bool bSetFeeder);
    using Decoder = bool (*)(const std::uint8_t *, std::size_t, CListRows &);
    void ReadList(quint8 nCommand, int nSize, CListModel &model, Decoder fnDecode, bool bReportShortReply);
    void SaveList(const CListModel &model);
    void Record();
    void StartTimer();

    std::unique_ptr<Ui::CVarikDlg> m_pUi;
    std::unique_ptr<IConsoleDialogs> m_pOwnDialogs;
    IConsoleDialogs *m_pDialogs;
    CConsoleOperator m_operator;
    SConsoleSetup m_setup;

    CListModel m_modelSecond;
    CListModel m_modelMinute;
    CListModel m_modelDay;
    QTimer m_timerContinuous;

    int m_bSecondFeeder = 0;
    QString m_strInterval;
    int m_bRecordToFile = 0;

    CMeterLink m_link;
    QString m_strIniPath;
    bool m_bBusy = false;
    bool m_bTickDue = false; // a tick fell due while a command ran
    bool m_bExitDue = false; // the window was closed while a command ran
    CInputHold m_inputHold;
};
