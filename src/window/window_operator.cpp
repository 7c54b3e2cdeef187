#include "window/window_operator.h"

#include <QCoreApplication>

void CWindowOperator::BeginCommand()
{
    m_waiting.start();
}

void CWindowOperator::EndCommand()
{
    HideProgress();
}

void CWindowOperator::HideProgress()
{
    if (m_bProgressShown)
        m_pDialogs->ProgressHide();
    m_bProgressShown = false;
}

void CWindowOperator::ShowMessage(const QString &strText, EMsgIcon icon)
{
    HideProgress();
    m_pDialogs->Message(strText, icon, EMsgButtons::Ok);
    m_waiting.start();
}

bool CWindowOperator::AskYesNo(const QString &strText)
{
    HideProgress();
    const bool bYes = m_pDialogs->Message(strText, EMsgIcon::Question, EMsgButtons::YesNo) == EMsgAnswer::Yes;
    m_waiting.start();
    return bYes;
}

bool CWindowOperator::AskAccess(int &nLevel, QString &strPassword)
{
    HideProgress();
    const bool bConfirmed = m_pDialogs->Access(nLevel, strPassword);
    m_waiting.start();
    return bConfirmed;
}

bool CWindowOperator::KeepWaiting(qint64 nBytesReceived)
{
    // The operator's input to the window is held for the command, so this
    // repaints, runs the progress box and lets timers note they fell due.
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (!m_bProgressShown && m_waiting.isValid() && m_waiting.elapsed() >= PROGRESS_DELAY_MS) {
        m_pDialogs->ProgressShow();
        m_bProgressShown = true;
    }
    if (!m_bProgressShown)
        return true;
    return m_pDialogs->ProgressUpdate(nBytesReceived);
}
