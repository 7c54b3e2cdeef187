#include "window/varik_dlg.h"
#include "data/supply_limits_file.h"

#include "window/app_title.h"
#include "data/catalogue.h"
#include "window/charts_dlg.h"
#include "window/charts_text.h"
#include "window/window_text.h"
#include "files/limits_file.h"
#include "window/port_choice.h"
#include "window/qt_dialogs.h"
#include "files/settings_file.h"
#include "ui_varik_dlg.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QRegularExpressionValidator>
#include <QStyle>

#include <algorithm>

static void InitResources()
{
    Q_INIT_RESOURCE(varik);
}

namespace {

QString TitleOf(const SWindowSetup &setup)
{
    return setup.strTitle.isEmpty() ? ApplicationTitle() : setup.strTitle;
}

QStringList ItemTexts(const QComboBox *pCombo)
{
    QStringList texts;
    for (int i = 0; i < pCombo->count(); ++i)
        texts.append(pCombo->itemText(i));
    return texts;
}

// How wide a list's name column must be to show each of the names whole in
// the view's font.
int NameColumnWidth(const QTableView *pView, const CListRows &rows)
{
    // The item view leaves this margin on each side of a cell's text.
    const int nMargin = pView->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, pView) + 1;
    const QFontMetrics metrics = pView->fontMetrics();
    int nWidest = 0;
    for (const SListRow &row : rows)
        nWidest = std::max(nWidest, metrics.horizontalAdvance(row.strName));
    return nWidest + 2 * nMargin;
}

} // namespace

CVarikDlg::CVarikDlg(SWindowSetup setup, IWindowDialogs *pDialogs, QWidget *pParent)
    : QDialog(pParent),
      m_pUi(new Ui::CVarikDlg),
      m_pOwnDialogs(pDialogs ? nullptr : new CQtDialogs(this, TitleOf(setup))),
      m_pDialogs(pDialogs ? pDialogs : m_pOwnDialogs.get()),
      m_operator(m_pDialogs),
      m_setup(std::move(setup)),
      m_timerContinuous(this),
      m_session(&m_operator),
      m_inputHold(this),
      m_commands({.fnBegin = [this] { m_inputHold.Begin(); m_operator.BeginCommand(); },
                  .fnEnd = [this] { m_operator.EndCommand(); },
                  .fnIdle = [this] { m_inputHold.End(); },
                  .fnTick = [this] { OnTimer(); },
                  .fnExit = [this] { reject(); }}),
      m_readings(m_modelSecond, m_modelMinute, m_limits)
{
    InitResources();
    m_setup.strTitle = TitleOf(m_setup);
    if (!m_setup.fnSystemPorts)
        m_setup.fnSystemPorts = SystemSerialPorts;
    m_pUi->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);

    connect(m_pUi->m_btnReadSecond, &QPushButton::clicked, this, &CVarikDlg::OnReadSecond);
    connect(m_pUi->m_btnReadMinute, &QPushButton::clicked, this, &CVarikDlg::OnReadMinute);
    connect(m_pUi->m_btnReadDay, &QPushButton::clicked, this, &CVarikDlg::OnReadDay);
    connect(m_pUi->m_btnRefreshPorts, &QPushButton::clicked, this, &CVarikDlg::OnRefreshPorts);
    // The port box may be too narrow for a stable name: its tip shows the
    // whole name and the device it stands for.
    connect(m_pUi->m_comboPort, &QComboBox::currentIndexChanged, this, [this](int nIndex) {
        const QComboBox *pCombo = m_pUi->m_comboPort;
        const QString strTarget = pCombo->itemData(nIndex, Qt::ToolTipRole).toString();
        m_pUi->m_comboPort->setToolTip(pCombo->itemText(nIndex)
                                       + (strTarget.isEmpty() ? QString() : QStringLiteral(" → ") + strTarget));
    });
    connect(m_pUi->m_btnCheckConnection, &QPushButton::clicked, this, &CVarikDlg::OnCheckConnection);
    connect(m_pUi->m_chkContinuous, &QCheckBox::clicked, this, &CVarikDlg::OnContinuousRead);
    connect(&m_timerContinuous, &QTimer::timeout, this, &CVarikDlg::OnTimer);
    connect(m_pUi->m_btnSaveDay, &QPushButton::clicked, this, &CVarikDlg::OnSaveDay);
    connect(m_pUi->m_btnSaveMinute, &QPushButton::clicked, this, &CVarikDlg::OnSaveMinute);
    connect(m_pUi->m_btnSaveSecond, &QPushButton::clicked, this, &CVarikDlg::OnSaveSecond);
    connect(m_pUi->m_spinInterval, &CSpinArrows::DeltaPos, this, &CVarikDlg::OnDeltaposInterval);
    connect(m_pUi->m_chkRecordToFile, &QCheckBox::clicked, this, &CVarikDlg::OnRecordToFile);
    connect(m_pUi->m_btnBrowse, &QPushButton::clicked, this, &CVarikDlg::OnBrowseRecordFile);
    connect(m_pUi->m_btnExit, &QPushButton::clicked, this, &CVarikDlg::reject);
    connect(m_pUi->m_btnCharts, &QPushButton::clicked, this, &CVarikDlg::OnCharts);
    connect(this, &CVarikDlg::SecondRead, &m_readings, &CReadings::TakeSecondRead);
    connect(this, &CVarikDlg::MinuteRead, &m_readings, &CReadings::TakeMinuteRead);
    connect(this, &CVarikDlg::SecondTickFailed, &m_readings, &CReadings::SecondTickFailed);

    m_timerContinuous.setObjectName(QStringLiteral("m_timerContinuous"));
    const auto *pDigits = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this);
    m_pUi->m_editDeviceNumber->setValidator(pDigits);
    m_pUi->m_editInterval->setValidator(pDigits);

    OnInitDialog();

    if (!m_setup.strPort.isEmpty()) {
        const int nPort = m_pUi->m_comboPort->findText(m_setup.strPort);
        if (nPort >= 0)
            m_pUi->m_comboPort->setCurrentIndex(nPort);
    }
    if (!m_setup.strDeviceNumber.isEmpty())
        m_pUi->m_editDeviceNumber->setText(m_setup.strDeviceNumber);
}

CVarikDlg::~CVarikDlg() = default;

void CVarikDlg::OnInitDialog()
{
    // No system menu to extend on every desktop: the about box hangs on the
    // window's context menu and on F1.
    auto *pAbout = new QAction(WindowText::AboutEntry(), this);
    pAbout->setObjectName(QStringLiteral("m_actionAbout"));
    pAbout->setShortcut(QKeySequence(Qt::Key_F1));
    connect(pAbout, &QAction::triggered, this, &CVarikDlg::OnAbout);
    addAction(pAbout);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    auto *pCharts = new QAction(QStringLiteral("Графики…"), this);
    pCharts->setObjectName(QStringLiteral("m_actionCharts"));
    pCharts->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    connect(pCharts, &QAction::triggered, this, &CVarikDlg::OnCharts);
    addAction(pCharts);

    setWindowIcon(QIcon(QStringLiteral(":/icons/varik.png")));

    InitSecondList();
    InitList(m_pUi->m_listSecond, m_modelSecond, 80, 120);
    InitMinuteList();
    InitList(m_pUi->m_listMinute, m_modelMinute, 80, 120);
    InitDayList();
    InitList(m_pUi->m_listDay, m_modelDay, 100, 100);
    LoadLimits();

    m_pUi->m_btnRefreshPorts->setIcon(QIcon(QStringLiteral(":/icons/refresh.png")));

    m_strIniPath = QDir::current().absoluteFilePath(m_setup.strTitle + QStringLiteral(".INI"));
    const CSettingsFile settings(m_strIniPath);

    const QString strPort = settings.Read(WindowText::SettingsSection(), WindowText::SettingsPort(),
                                          QStringLiteral("COM"));
    OnRefreshPorts(); // the list is still empty, so nothing gets selected
    SelectRemembered(m_pUi->m_comboPort, strPort, 0);

    const QString strSpeed = settings.Read(WindowText::SettingsSection(), WindowText::SettingsSpeed(),
                                           QStringLiteral("9600"));
    SelectRemembered(m_pUi->m_comboSpeed, strSpeed, 6);

    m_session.SetSecondFeeder(false);
    m_strInterval = QStringLiteral("1");
    m_bRecordToFile = false;
    m_pUi->m_editRecordFile->setEnabled(false);
    m_pUi->m_btnBrowse->setEnabled(false);
    m_pUi->m_spinInterval->SetRange(1, 6000);
    UpdateData(false);

    // The CSV log's line keeps its place while it is empty.
    m_pUi->m_labelCsvLog->setMinimumHeight(m_pUi->m_labelCsvLog->fontMetrics().height());
    setFixedSize(sizeHint());
    m_pUi->m_btnExit->setFocus();
}

void CVarikDlg::InitList(QTableView *pView, CListModel &model, int nNameWidth, int nValueWidth)
{
    pView->setModel(&model);
    QHeaderView *pRows = pView->verticalHeader();
    pRows->setMinimumSectionSize(1);
    pRows->setDefaultSectionSize(pView->fontMetrics().height() + 3);
    pRows->setSectionResizeMode(QHeaderView::Fixed);
    QHeaderView *pColumns = pView->horizontalHeader();
    pColumns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    pColumns->setStretchLastSection(false);
    // A name cut short hides which row it is (the day row from the interval
    // row): the name column is as wide as the longest name, and the view, and
    // with it the window, grows by as much.
    const int nLongestName = NameColumnWidth(pView, model.Rows());
    const int nGrowth = std::max(0, nLongestName - nNameWidth);
    pView->setColumnWidth(0, nNameWidth + nGrowth);
    pView->setColumnWidth(1, nValueWidth);
    pView->setMinimumWidth(pView->minimumWidth() + nGrowth);
}

void CVarikDlg::InitSecondList()
{
    m_modelSecond.SetRows(SecondListRows());
}

void CVarikDlg::InitMinuteList()
{
    m_modelMinute.SetRows(MinuteListRows());
}

void CVarikDlg::InitDayList()
{
    m_modelDay.SetRows(DayListRows());
}

void CVarikDlg::LoadLimits()
{
    m_strLimitsPath = m_setup.strLimitsPath.isEmpty() ? DefaultLimitsPath() : m_setup.strLimitsPath;
    SLimitsRead read = LoadLimitsFile(m_strLimitsPath);
    m_limits = std::move(read.limits);
    m_modelSecond.SetLimits(m_limits);
    m_modelMinute.SetLimits(m_limits);
    // One box for the whole file; the program goes on with what it could read.
    if (!read.problems.isEmpty())
        m_pDialogs->Message(ChartsText::LimitsProblems(read.problems), EMsgIcon::Exclamation, EMsgButtons::Ok);
}

void CVarikDlg::SelectRemembered(QComboBox *pCombo, const QString &strText, int nFallback)
{
    int nIndex = FindRemembered(ItemTexts(pCombo), strText);
    if (nIndex < 0)
        nIndex = pCombo->count() > nFallback ? nFallback : -1;
    pCombo->setCurrentIndex(nIndex);
}

void CVarikDlg::UpdateData(bool bSaveAndValidate)
{
    if (bSaveAndValidate) {
        m_bSecondFeeder = m_pUi->m_chkSecondFeeder->isChecked();
        m_strInterval = m_pUi->m_editInterval->text();
        m_bRecordToFile = m_pUi->m_chkRecordToFile->isChecked();
    } else {
        m_pUi->m_chkSecondFeeder->setChecked(m_bSecondFeeder);
        m_pUi->m_editInterval->setText(m_strInterval);
        m_pUi->m_chkRecordToFile->setChecked(m_bRecordToFile);
    }
}

void CVarikDlg::OnRefreshPorts()
{
    if (IsBusy())
        return;
    QComboBox *pCombo = m_pUi->m_comboPort;
    const QString strRemembered = pCombo->currentText();
    pCombo->clear();
    for (const QString &strName : PortCandidates(m_setup.fnSystemPorts(), m_setup.extraPorts)) {
        if (!PortOffered(strName))
            continue;
        pCombo->addItem(strName);
        // A stable name follows its device and says which one it is.
        const QString strTarget = PortTarget(strName);
        if (!strTarget.isEmpty())
            pCombo->setItemData(pCombo->count() - 1, strTarget, Qt::ToolTipRole);
    }
    // The box keeps its width however long a stable name is; its list is as
    // wide as the longest.
    pCombo->view()->setMinimumWidth(pCombo->view()->sizeHintForColumn(0));
    pCombo->setCurrentIndex(-1);
    if (!strRemembered.isEmpty())
        SelectRemembered(pCombo, strRemembered, 0);
}

void CVarikDlg::OnCharts()
{
    if (!m_pCharts) {
        m_pCharts = new CChartsDlg(this, m_readings, m_commands, m_pOwnDialogs ? nullptr : m_pDialogs);
        connect(m_pCharts, &CChartsDlg::CsvLogStateChanged, this, &CVarikDlg::ShowCsvLogState);
        m_pCharts->SetLimitsFile(m_strLimitsPath);
        m_pCharts->MoveBeside(*this);
    }
    // On top of the main window, yet neither activated nor given the focus:
    // the operator goes on working in the main window. Where the window
    // system activates a new window all the same, the one that was active
    // gets it back; that raises it, so the chart window is raised after.
    QWidget *pActive = QApplication::activeWindow();
    m_pCharts->show();
    if (pActive && pActive != m_pCharts)
        pActive->activateWindow();
    m_pCharts->raise();
}

void CVarikDlg::ShowCsvLogState(const QString &strState)
{
    QLabel *pLabel = m_pUi->m_labelCsvLog;
    // The window keeps its size: a long name is shortened in the middle, and
    // the tip shows it whole.
    pLabel->setText(pLabel->fontMetrics().elidedText(strState, Qt::ElideMiddle, pLabel->contentsRect().width()));
    pLabel->setToolTip(strState);
}

QString CVarikDlg::CsvLogState() const
{
    return m_pUi->m_labelCsvLog->toolTip();
}

void CVarikDlg::OnAbout()
{
    if (!IsBusy())
        m_pDialogs->About();
}

void CVarikDlg::reject()
{
    // Asked for while a command runs (by a call, not by the operator, whose
    // "Выход", Esc and close box wait with the rest of the input): the
    // window closes after it.
    if (IsBusy()) {
        m_commands.ExitDue();
        return;
    }
    UpdateData(true);
    const CSettingsFile settings(m_strIniPath);
    const bool bPortKept = settings.Write(WindowText::SettingsSection(), WindowText::SettingsPort(),
                                          m_pUi->m_comboPort->currentText());
    const bool bSpeedKept = settings.Write(WindowText::SettingsSection(), WindowText::SettingsSpeed(),
                                           m_pUi->m_comboSpeed->currentText());
    m_timerContinuous.stop();
    if (m_pCharts)
        m_pCharts->hide();
    // Closed before the box below: nothing due may run in its event loop.
    m_commands.Close();
    // Said rather than lost unseen, with no reading left to run behind the
    // box; the window closes all the same.
    if (!bPortKept || !bSpeedKept)
        m_pDialogs->Message(WindowText::SettingsWriteFailed(m_strIniPath), EMsgIcon::Exclamation, EMsgButtons::Ok);
    QDialog::reject();
}
