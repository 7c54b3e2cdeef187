// The window's boxes and dialogs, answered from a script: every message is
// recorded with its icon and buttons, the access dialog and the file dialogs
// answer what the test put in, and the progress box cancels when told to.
#pragma once

#include "window/dialogs.h"

#include <QElapsedTimer>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

struct SShownBox {
    QString strText;
    EMsgIcon icon;
    EMsgButtons buttons;
    bool operator==(const SShownBox &) const = default;
};

class CScriptedDialogs : public IWindowDialogs {
public:
    QList<SShownBox> shown;
    QList<EMsgAnswer> yesNoAnswers; // taken from the front; none left means No

    bool bAccessConfirm = true;
    int nAccessLevel = 0;
    QString strAccessPassword;
    int nAccessAsked = 0;

    QString strSavePath; // empty: the operator cancels
    QString strOpenPath;
    QList<SFileDialog> fileDialogs;
    std::function<void()> onFileDialog; // called as a file dialog opens
    int nAbout = 0;
    QStringList openPaths; // several files; none: the operator cancels

    // The report's period: what the dialog was shown, and the operator's
    // answer (none cancels).
    QList<SReportPeriod> periodsShown;
    std::optional<SReportPeriod> periodAnswer = SReportPeriod{};
    // The report's progress bar: each value shown; true from cancelReport cancels.
    QList<int> reportProgress;
    int nReportProgressShown = 0;
    bool bReportProgressVisible = false;
    std::function<bool(int)> cancelReport;
    QStringList documentsOpened;
    bool bDocumentOpens = true;

    int nProgressShown = 0;
    bool bProgressVisible = false;
    // Asked at each progress update: true cancels (the time is noted).
    std::function<bool(qint64)> cancelWhen;
    QElapsedTimer cancelled;

    EMsgAnswer Message(const QString &strText, EMsgIcon icon, EMsgButtons buttons) override
    {
        shown.append({strText, icon, buttons});
        if (buttons == EMsgButtons::Ok)
            return EMsgAnswer::Ok;
        return yesNoAnswers.isEmpty() ? EMsgAnswer::No : yesNoAnswers.takeFirst();
    }

    bool Access(int &nLevel, QString &strPassword) override
    {
        ++nAccessAsked;
        if (!bAccessConfirm)
            return false;
        nLevel = nAccessLevel;
        strPassword = strAccessPassword;
        return true;
    }

    QString SaveFileName(const SFileDialog &dialog) override
    {
        fileDialogs.append(dialog);
        if (onFileDialog)
            onFileDialog();
        return strSavePath;
    }

    QString OpenFileName(const SFileDialog &dialog) override
    {
        fileDialogs.append(dialog);
        return strOpenPath;
    }

    QStringList OpenFileNames(const SFileDialog &dialog) override
    {
        fileDialogs.append(dialog);
        if (onFileDialog)
            onFileDialog();
        return openPaths;
    }

    void About() override { ++nAbout; }

    void ProgressShow() override
    {
        ++nProgressShown;
        bProgressVisible = true;
    }

    bool ProgressUpdate(qint64 nBytesReceived) override
    {
        if (cancelled.isValid())
            return false;
        if (cancelWhen && cancelWhen(nBytesReceived)) {
            cancelled.start();
            return false;
        }
        return true;
    }

    void ProgressHide() override { bProgressVisible = false; }

    bool ReportPeriod(SReportPeriod &period) override
    {
        periodsShown.append(period);
        if (!periodAnswer)
            return false;
        period = *periodAnswer;
        return true;
    }

    void ReportProgressShow() override
    {
        ++nReportProgressShown;
        bReportProgressVisible = true;
    }

    bool ReportProgressUpdate(int nPermille) override
    {
        reportProgress.append(nPermille);
        return !(cancelReport && cancelReport(nPermille));
    }

    void ReportProgressHide() override { bReportProgressVisible = false; }

    bool OpenDocument(const QString &strPath) override
    {
        documentsOpened.append(strPath);
        return bDocumentOpens;
    }
};
