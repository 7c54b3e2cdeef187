// How the link reaches the operator from the window: boxes and the access
// dialog through the window's dialogs, and a window that keeps painting while
// the meter takes its time, with a progress box and Cancel once the wait
// becomes noticeable.
#pragma once

#include "window/dialogs.h"
#include "link/operator.h"

#include <QElapsedTimer>

class CWindowOperator : public IOperator {
public:
    explicit CWindowOperator(IWindowDialogs *pDialogs) : m_pDialogs(pDialogs) {}

    // A wait shorter than this shows no progress box.
    static constexpr int PROGRESS_DELAY_MS = 500;

    // One command of the window runs between these two calls.
    void BeginCommand();
    void EndCommand();

    void ShowMessage(const QString &strText, EMsgIcon icon) override;
    bool AskYesNo(const QString &strText) override;
    bool AskAccess(int &nLevel, QString &strPassword) override;
    bool KeepWaiting(qint64 nBytesReceived) override;

private:
    void HideProgress();

    IWindowDialogs *m_pDialogs;
    QElapsedTimer m_waiting; // since the command began or the last box closed
    bool m_bProgressShown = false;
};
