#include "window/report_period_dlg.h"

#include "window/charts_text.h"
#include "window/window_text.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QDateEdit *DateEdit(QWidget *pParent, const QDate &date)
{
    auto *pEdit = new QDateEdit(date.isValid() ? date : QDate::currentDate(), pParent);
    pEdit->setCalendarPopup(true);
    pEdit->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    return pEdit;
}

} // namespace

CReportPeriodDlg::CReportPeriodDlg(QWidget *pParent, const SReportPeriod &period) : QDialog(pParent)
{
    setWindowTitle(ChartsText::ReportPeriodTitle());
    m_pWhole = new QCheckBox(ChartsText::ReportWholeSpan(), this);
    m_pWhole->setChecked(period.bWhole);
    m_pFrom = DateEdit(this, period.from);
    m_pTo = DateEdit(this, period.to);
    m_pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_pButtons->button(QDialogButtonBox::Cancel)->setText(WindowText::Cancel());

    auto *pDates = new QFormLayout;
    pDates->addRow(ChartsText::ReportFrom(), m_pFrom);
    pDates->addRow(ChartsText::ReportTo(), m_pTo);
    auto *pLayout = new QVBoxLayout(this);
    pLayout->addWidget(m_pWhole);
    pLayout->addLayout(pDates);
    pLayout->addWidget(new QLabel(ChartsText::ReportWeekHint(), this));
    pLayout->addWidget(m_pButtons);

    connect(m_pWhole, &QCheckBox::toggled, this, &CReportPeriodDlg::Enable);
    connect(m_pFrom, &QDateEdit::dateChanged, this, &CReportPeriodDlg::Enable);
    connect(m_pTo, &QDateEdit::dateChanged, this, &CReportPeriodDlg::Enable);
    connect(m_pButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    Enable();
}

SReportPeriod CReportPeriodDlg::Period() const
{
    return {m_pWhole->isChecked(), m_pFrom->date(), m_pTo->date()};
}

void CReportPeriodDlg::Enable()
{
    const bool bDates = !m_pWhole->isChecked();
    m_pFrom->setEnabled(bDates);
    m_pTo->setEnabled(bDates);
    // A period that ends before it starts cannot be confirmed.
    m_pButtons->button(QDialogButtonBox::Ok)->setEnabled(!bDates || m_pFrom->date() <= m_pTo->date());
}
