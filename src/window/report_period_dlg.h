// The small dialog that asks for a report's period: the logs' whole span
// (the default), or two local dates, from the start of one to the end of
// the other.
#pragma once

#include "window/dialogs.h"

#include <QDialog>

class QCheckBox;
class QDateEdit;
class QDialogButtonBox;

class CReportPeriodDlg : public QDialog {
    Q_OBJECT
public:
    CReportPeriodDlg(QWidget *pParent, const SReportPeriod &period);

    SReportPeriod Period() const;

private:
    void Enable();

    QCheckBox *m_pWhole;
    QDateEdit *m_pFrom;
    QDateEdit *m_pTo;
    QDialogButtonBox *m_pButtons;
};
