// The window's boxes and dialogs as Qt shows them: message boxes with the
// application title as caption, the access dialog, the file dialogs, the
// about box and the progress box of a slow exchange.
#pragma once

#include "window/dialogs.h"

#include <QPointer>

class QProgressDialog;
class QWidget;

class CQtDialogs : public IWindowDialogs {
public:
    CQtDialogs(QWidget *pOwner, QString strTitle);
    ~CQtDialogs() override;

    EMsgAnswer Message(const QString &strText, EMsgIcon icon, EMsgButtons buttons) override;
    bool Access(int &nLevel, QString &strPassword) override;
    QString SaveFileName(const SFileDialog &dialog) override;
    QString OpenFileName(const SFileDialog &dialog) override;
    void About() override;
    void ProgressShow() override;
    bool ProgressUpdate(qint64 nBytesReceived) override;
    void ProgressHide() override;
    QStringList OpenFileNames(const SFileDialog &dialog) override;
    bool ReportPeriod(SReportPeriod &period) override;
    void ReportProgressShow() override;
    bool ReportProgressUpdate(int nPermille) override;
    void ReportProgressHide() override;
    bool OpenDocument(const QString &strPath) override;

private:
    QString FileName(const SFileDialog &dialog, bool bSave);

    QWidget *m_pOwner;
    QString m_strTitle;
    QPointer<QProgressDialog> m_pProgress;
    QPointer<QProgressDialog> m_pReportProgress;
};
