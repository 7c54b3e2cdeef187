// Every box and dialog the window opens goes through this one interface, so
// that the window's tests can script the operator's answers and see each
// text, icon and button the operator would see.
#pragma once

#include "link/operator.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <QtGlobal>

enum class EMsgButtons { Ok, YesNo };
enum class EMsgAnswer { Ok, Yes, No };

// A file dialog: the suffix added to a name typed without one, the name it
// opens with and its one filter.
struct SFileDialog {
    QString strDefaultSuffix;
    QString strInitialName;
    QString strFilter;
};

// The period of a supply-quality report: the logs' whole span, or from the
// start of one local date to the end of another.
struct SReportPeriod {
    bool bWhole = true;
    QDate from;
    QDate to;
    bool operator==(const SReportPeriod &) const = default;
};

class IWindowDialogs {
public:
    virtual ~IWindowDialogs() = default;

    // A modal message box with the application title as caption.
    virtual EMsgAnswer Message(const QString &strText, EMsgIcon icon, EMsgButtons buttons) = 0;
    // The access dialog; false unless the operator confirms it.
    virtual bool Access(int &nLevel, QString &strPassword) = 0;
    // Full path of the chosen file, empty when the operator cancels.
    virtual QString SaveFileName(const SFileDialog &dialog) = 0;
    virtual QString OpenFileName(const SFileDialog &dialog) = 0;
    // Full paths of the existing files chosen, none when the operator cancels.
    virtual QStringList OpenFileNames(const SFileDialog &dialog) = 0;
    virtual void About() = 0;

    // The box shown while the meter takes its time. Update returns false
    // once the operator has asked to cancel.
    virtual void ProgressShow() = 0;
    virtual bool ProgressUpdate(qint64 nBytesReceived) = 0;
    virtual void ProgressHide() = 0;

    // The report's period, shown as period holds it; false when cancelled.
    virtual bool ReportPeriod(SReportPeriod &period) = 0;
    // The bar shown while the logs of a report are read, in thousandths of
    // their bytes. Update returns false once the operator has asked to cancel.
    virtual void ReportProgressShow() = 0;
    virtual bool ReportProgressUpdate(int nPermille) = 0;
    virtual void ReportProgressHide() = 0;
    // The file in the desktop's viewer for its kind; false when none opens it.
    virtual bool OpenDocument(const QString &strPath) = 0;
};
