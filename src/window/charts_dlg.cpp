#include "window/charts_dlg.h"

#include "window/charts_text.h"
#include "data/csv_log.h"
#include "files/csv_log_file.h"
#include "window/spectrum_plot.h"
#include "window/trend_plot.h"
#include "ui_charts_dlg.h"
#include "window/command_queue.h"
#include "window/qt_dialogs.h"
#include "window/readings.h"
#include "window/window_place.h"
#include "report/report_pdf.h"

#include <qcustomplot.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

// How often the progress bar follows the reading of a report's logs.
constexpr int REPORT_POLL_MS = 100;

QString StatText(double dValue)
{
    return std::isnan(dValue) ? ChartsText::NoSpan() : QString::number(dValue, 'f', 2);
}

} // namespace

CChartsDlg::CChartsDlg(QWidget *pOwner, const CReadings &readings, CCommandQueue &commands,
                       IWindowDialogs *pDialogs)
    : QWidget(pOwner, Qt::Window),
      m_pUi(new Ui::CChartsDlg),
      m_readings(readings),
      m_commands(commands),
      // Over this window, not the main one: a dialog owned by the main
      // window raises it over this one, hiding what the dialog is about.
      m_pOwnDialogs(pDialogs ? nullptr : new CQtDialogs(this, pOwner->windowTitle())),
      m_pDialogs(pDialogs ? pDialogs : m_pOwnDialogs.get()),
      m_fnMakeReport(MakeReport),
      m_pReportPoll(new QTimer(this))
{
    m_pUi->setupUi(this);
    // Shown beside the main window and on top, but never activated: the
    // operator's keys still go to the main window.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowIcon(pOwner->windowIcon());

    m_pSpectrum = new CSpectrumPlot(m_pUi->m_plotSpectrum);
    m_pSpectrum->SetLimits(m_readings.Limits());
    m_pTrend = new CTrendPlot(m_pUi->m_plotTrend);
    for (int p = 0; p < PHASE_SET_SIZE; ++p)
        m_pUi->m_comboPhase->addItem(PhaseName(EPhase(p)));

    connect(m_pUi->m_comboPhase, &QComboBox::currentIndexChanged, this, &CChartsDlg::ShowSpectrum);
    connect(m_pUi->m_comboSource, &QComboBox::currentIndexChanged, this, &CChartsDlg::ShowSpectrum);
    connect(m_pUi->m_listTrendRows, &QListWidget::itemChanged, this, &CChartsDlg::OnTrendRowChecked);
    connect(m_pUi->m_btnTrendDefaultRows, &QPushButton::clicked, this, &CChartsDlg::OnTrendDefaultRows);
    connect(m_pUi->m_btnTrendShowAll, &QPushButton::clicked, m_pTrend, &CTrendPlot::ShowAll);
    connect(m_pTrend, &CTrendPlot::SpanChanged, this, &CChartsDlg::ShowStats);
    connect(m_pUi->m_btnCsvLog, &QPushButton::clicked, this, &CChartsDlg::OnCsvLog);
    connect(m_pUi->m_btnCsvStop, &QPushButton::clicked, this, &CChartsDlg::OnCsvStop);
    connect(m_pUi->m_btnReport, &QPushButton::clicked, this, &CChartsDlg::OnReport);
    connect(m_pUi->m_btnClose, &QPushButton::clicked, this, &QWidget::hide);
    m_pReportPoll->setInterval(REPORT_POLL_MS);
    connect(m_pReportPoll, &QTimer::timeout, this, &CChartsDlg::PollReport);

    connect(&m_readings, &CReadings::SecondRead, this, &CChartsDlg::OnSecondRead);
    connect(&m_readings, &CReadings::MinuteRead, this, &CChartsDlg::OnMinuteRead);
    connect(&m_readings, &CReadings::SecondTickFailed, this, &CChartsDlg::OnSecondTickFailed);

    QHeaderView *pColumns = m_pUi->m_tableStats->horizontalHeader();
    pColumns->setSectionResizeMode(QHeaderView::Stretch);
    // The default eight series fit without a scroll bar.
    const int nRowHeight = fontMetrics().height() + 4;
    m_pUi->m_tableStats->verticalHeader()->setDefaultSectionSize(nRowHeight);
    m_pUi->m_tableStats->setMinimumHeight(pColumns->sizeHint().height() + 8 * nRowHeight + 4);

    FillTrendRows();
    ShowSpectrum();
    ShowCsvState();
}

CChartsDlg::~CChartsDlg() = default;

namespace {
// How often and how long to look for the window manager's frame after the
// first show: a second in all, well past any window manager's framing.
constexpr int FRAME_CHECK_MS = 20;
constexpr int FRAME_CHECKS = 50;
} // namespace

void CChartsDlg::MoveBeside(const QWidget &owner)
{
    // The window system's frame is not there before the first show, and a
    // move then places the inside, not the frame. The frame is taken to be
    // like the owner's: the inside goes as far in from the frame's corner as
    // the owner's does. A resizable window may get a thicker frame, so the
    // place is worked out again once the real frame is known.
    const QRect ownerFrame = owner.frameGeometry();
    const QRect ownerInside = owner.geometry();
    const QSize inside = size().expandedTo(minimumSizeHint());
    const QPoint frameAt = PlaceBeside(ownerFrame, inside + (ownerFrame.size() - ownerInside.size()),
                                       owner.screen()->availableGeometry());
    setGeometry(QRect(frameAt + (ownerInside.topLeft() - ownerFrame.topLeft()), inside));
    m_pPlacedBeside = &owner;
    m_nFrameChecks = 0;
    QTimer::singleShot(FRAME_CHECK_MS, this, &CChartsDlg::PlaceFrameBeside);
}

void CChartsDlg::PlaceFrameBeside()
{
    if (!m_pPlacedBeside)
        return;
    // The window manager frames a new window a moment after it is shown;
    // without a frame (no window manager) the estimate stands.
    const bool bFramed = isVisible() && frameGeometry().size() != size();
    if (!bFramed && ++m_nFrameChecks < FRAME_CHECKS) {
        QTimer::singleShot(FRAME_CHECK_MS, this, &CChartsDlg::PlaceFrameBeside);
        return;
    }
    const QWidget &owner = *m_pPlacedBeside;
    m_pPlacedBeside = nullptr;
    if (!bFramed)
        return;
    const QPoint frameAt =
        PlaceBeside(owner.frameGeometry(), frameGeometry().size(), owner.screen()->availableGeometry());
    if (frameGeometry().topLeft() != frameAt)
        move(frameAt); // a shown window moves by its frame
}

EPhase CChartsDlg::Phase() const
{
    return EPhase(std::max(0, m_pUi->m_comboPhase->currentIndex()));
}

ESpectrumSource CChartsDlg::Source() const
{
    return m_pUi->m_comboSource->currentIndex() == 1 ? ESpectrumSource::Minute : ESpectrumSource::Second;
}

void CChartsDlg::ShowSpectrum()
{
    const ESpectrumSource source = Source();
    const bool bSecond = source == ESpectrumSource::Second;
    const SSpectrum spectrum = SpectrumOf(bSecond ? m_readings.SecondRows() : m_readings.MinuteRows(), source, Phase());
    m_pSpectrum->Show(spectrum);
    m_pUi->m_labelSourceTime->setText(ChartsText::SourceTime(
        m_pUi->m_comboSource->currentText(), bSecond ? m_readings.SecondReadTime() : m_readings.MinuteReadTime()));

    const std::optional<SLimitBand> limit = m_readings.Limits().TotalDistortion();
    const bool bLimited = limit && std::isfinite(limit->dMax);
    m_pUi->m_labelTotal->setText(ChartsText::Total(spectrum.total ? ChartsText::Percent(*spectrum.total) : QString(),
                                                   bLimited ? ChartsText::LimitNumber(limit->dMax) : QString()));
    const bool bBeyond = spectrum.total && limit && !limit->Holds(*spectrum.total);
    m_pUi->m_labelTotal->setStyleSheet(bBeyond ? QStringLiteral("color: %1; font-weight: bold;")
                                                     .arg(CSpectrumPlot::WarningColour().name())
                                               : QString());
}

void CChartsDlg::FillTrendRows()
{
    const CListRows &rows = m_readings.SecondRows();
    QSignalBlocker block(m_pUi->m_listTrendRows);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        if (rows[r].strName.isEmpty())
            continue;
        auto *pItem = new QListWidgetItem(rows[r].strName, m_pUi->m_listTrendRows);
        pItem->setData(Qt::UserRole, int(r));
        pItem->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        pItem->setCheckState(Qt::Unchecked);
    }
    block.unblock();
    OnTrendDefaultRows();
}

void CChartsDlg::OnTrendDefaultRows()
{
    const std::vector<int> defaults = CTrend::DefaultRows();
    QListWidget *pList = m_pUi->m_listTrendRows;
    {
        QSignalBlocker block(pList);
        for (int i = 0; i < pList->count(); ++i) {
            QListWidgetItem *pItem = pList->item(i);
            const bool bDefault =
                std::find(defaults.begin(), defaults.end(), pItem->data(Qt::UserRole).toInt()) != defaults.end();
            pItem->setCheckState(bDefault ? Qt::Checked : Qt::Unchecked);
        }
    }
    OnTrendRowChecked(nullptr);
}

void CChartsDlg::OnTrendRowChecked(QListWidgetItem *)
{
    std::vector<int> rows;
    const QListWidget *pList = m_pUi->m_listTrendRows;
    for (int i = 0; i < pList->count(); ++i) {
        if (pList->item(i)->checkState() == Qt::Checked)
            rows.push_back(pList->item(i)->data(Qt::UserRole).toInt());
    }
    m_pTrend->SetRows(rows, m_readings.SecondRows());
}

void CChartsDlg::ShowStats()
{
    QTableWidget *pTable = m_pUi->m_tableStats;
    pTable->setRowCount(int(m_pTrend->SeriesCount()));
    for (std::size_t i = 0; i < m_pTrend->SeriesCount(); ++i) {
        const SSpanStats stats = m_pTrend->VisibleStats(i);
        const QString texts[] = {m_pTrend->Graph(i)->name(), StatText(stats.dMin), StatText(stats.dMax),
                                 StatText(stats.dMean), QString::number(stats.nCount)};
        for (int c = 0; c < 5; ++c) {
            QTableWidgetItem *pItem = pTable->item(int(i), c);
            if (!pItem) {
                pItem = new QTableWidgetItem;
                pTable->setItem(int(i), c, pItem);
            }
            pItem->setText(texts[c]);
            if (c > 0)
                pItem->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        }
        pTable->item(int(i), 0)->setData(Qt::DecorationRole, m_pTrend->Colour(i));
    }
}

void CChartsDlg::OnSecondRead(qint64 nMsecs, const std::vector<std::int32_t> &raw, bool bTick)
{
    if (bTick)
        m_pTrend->AppendReading(m_trendClock.TimeOf(nMsecs), m_readings.SecondRows());
    ShowSpectrum();
    if (!m_pCsvLog)
        return;
    const int nOffset = QDateTime::fromMSecsSinceEpoch(nMsecs).offsetFromUtc();
    if (m_pCsvLog->Append(CsvRow(nMsecs, nOffset, raw)) == EFileResult::Ok)
        return;
    // The log stops rather than failing at every reading; what it wrote stays.
    const QString strFailed = ChartsText::CsvWriteFailed(m_strCsvPath, m_pCsvLog->ErrorText());
    OnCsvStop();
    m_pDialogs->Message(strFailed, EMsgIcon::Exclamation, EMsgButtons::Ok);
}

void CChartsDlg::OnMinuteRead(qint64)
{
    ShowSpectrum();
}

void CChartsDlg::OnSecondTickFailed(qint64 nMsecs)
{
    m_pTrend->AppendGap(m_trendClock.TimeOf(nMsecs));
}

void CChartsDlg::OnCsvLog()
{
    // Clicked while the main window reads: the file dialog opens once the
    // reading has ended, never inside an exchange with the meter.
    if (m_bCsvAsked)
        return;
    m_bCsvAsked = true;
    m_commands.RunWhenIdle([this] {
        m_bCsvAsked = false;
        StartCsvLog();
    });
}

void CChartsDlg::StartCsvLog()
{
    const QString strPath =
        m_pDialogs->SaveFileName({QStringLiteral("csv"), ChartsText::CsvNewName(), ChartsText::CsvFilter()});
    if (strPath.isEmpty())
        return;
    auto pLog = std::make_unique<CCsvLogFile>();
    if (pLog->Open(strPath) != EFileResult::Ok) {
        m_pDialogs->Message(ChartsText::CsvOpenFailed(strPath, pLog->ErrorText()), EMsgIcon::Exclamation,
                            EMsgButtons::Ok);
        return;
    }
    m_pCsvLog = std::move(pLog);
    m_strCsvPath = strPath;
    ShowCsvState();
}

void CChartsDlg::OnCsvStop()
{
    m_pCsvLog.reset();
    m_strCsvPath.clear();
    ShowCsvState();
}

void CChartsDlg::ShowCsvState()
{
    const bool bOn = m_pCsvLog != nullptr;
    m_pUi->m_btnCsvLog->setEnabled(!bOn);
    m_pUi->m_btnCsvStop->setEnabled(bOn);
    const QString strState = bOn ? ChartsText::CsvState(m_strCsvPath, m_pCsvLog->CutBytes()) : QString();
    m_pUi->m_labelCsvLog->setText(bOn ? strState : ChartsText::CsvOff());
    m_pUi->m_labelCsvLog->setToolTip(m_pUi->m_labelCsvLog->text());
    // The log goes on with this window closed: the main window says so too.
    emit CsvLogStateChanged(strState);
}

bool CChartsDlg::ReportUnderWay() const
{
    return m_bReportAsked || m_pReport != nullptr;
}

void CChartsDlg::OnReport()
{
    // As for the CSV log: no dialog opens inside an exchange with the meter.
    if (ReportUnderWay())
        return;
    m_bReportAsked = true;
    ShowReportState();
    m_commands.RunWhenIdle([this] {
        m_bReportAsked = false;
        AskReport();
        ShowReportState();
    });
}

void CChartsDlg::AskReport()
{
    const QStringList logs = m_pDialogs->OpenFileNames({QStringLiteral("csv"), QString(), ChartsText::ReportLogsFilter()});
    if (logs.isEmpty())
        return;
    // The dates shown are the logs' own; left as they are, the whole span is
    // read, as varik-cli does without --from and --to.
    const QDate today = QDate::currentDate();
    const auto span = LogsDateSpan(logs).value_or(std::make_pair(today.addDays(-6), today));
    SReportPeriod period{true, span.first, span.second};
    if (!m_pDialogs->ReportPeriod(period))
        return;

    SReportRequest request;
    request.logs = logs;
    request.limits = m_readings.Limits();
    if (!period.bWhole) {
        request.from = period.from;
        request.to = period.to;
    }
    // The meter stands for the title, as varik-cli's report without --title.
    m_reportDocument = SReportDocument{};
    m_reportDocument.strMeter = ReportTitleOf(logs);
    m_reportDocument.strLimitsFile = m_strLimitsFile;
    m_reportDocument.logs = logs;
    m_pReport = std::make_unique<CReportTask>(std::move(request), m_fnMakeReport);
    connect(m_pReport.get(), &CReportTask::Finished, this, &CChartsDlg::OnReportRead);
    m_pDialogs->ReportProgressShow();
    m_pReportPoll->start();
    m_pReport->Start();
}

void CChartsDlg::PollReport()
{
    if (m_pReport && !m_pDialogs->ReportProgressUpdate(m_pReport->Permille()))
        m_pReport->Cancel();
}

void CChartsDlg::OnReportRead()
{
    m_pReportPoll->stop();
    m_pDialogs->ReportProgressHide();
    auto pOutcome = std::make_shared<SReportOutcome>(m_pReport->Outcome());
    // The task's thread has ended; the task goes once this signal is through.
    m_pReport.release()->deleteLater();
    ShowReportState();
    switch (pOutcome->eFailure) {
    case EReportFailure::None:
        break;
    case EReportFailure::Cancelled:
        return;
    case EReportFailure::LogUnreadable:
    case EReportFailure::NotALog:
    case EReportFailure::BadPeriod:
    case EReportFailure::SemicolonSeparated:
    case EReportFailure::DecimalCommas:
    case EReportFailure::NoReadableRow:
        m_pDialogs->Message(pOutcome->strError, EMsgIcon::Exclamation, EMsgButtons::Ok);
        return;
    }
    m_bReportAsked = true;
    ShowReportState();
    m_commands.RunWhenIdle([this, pOutcome] {
        m_bReportAsked = false;
        WriteReport(pOutcome->report);
        ShowReportState();
    });
}

void CChartsDlg::WriteReport(const SSupplyReport &report)
{
    const QString strPath =
        m_pDialogs->SaveFileName({QStringLiteral("pdf"), ChartsText::ReportNewName(), ChartsText::ReportPdfFilter()});
    if (strPath.isEmpty())
        return;
    QString strError;
    SReportDocument document = m_reportDocument;
    document.made = QDateTime::currentDateTime();
    document.strVersion = QCoreApplication::applicationVersion();
    if (!WriteSupplyReportPdf(report, document, strPath, strError)) {
        m_pDialogs->Message(strError, EMsgIcon::Exclamation, EMsgButtons::Ok);
        return;
    }
    if (!m_pDialogs->OpenDocument(strPath))
        m_pDialogs->Message(ChartsText::ReportOpenFailed(strPath), EMsgIcon::Information, EMsgButtons::Ok);
}

void CChartsDlg::ShowReportState()
{
    m_pUi->m_btnReport->setEnabled(!ReportUnderWay());
}
