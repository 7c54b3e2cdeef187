#include "window/command_queue.h"

#include <QTimer>

CCommandQueue::CCommandQueue(SHooks hooks, QObject *pParent)
    : QObject(pParent),
      m_hooks(std::move(hooks))
{
}

void CCommandQueue::Run(const std::function<void()> &fnCommand)
{
    if (m_bBusy || m_bClosed)
        return;
    m_bBusy = true;
    if (m_hooks.fnBegin)
        m_hooks.fnBegin();
    fnCommand();
    if (m_hooks.fnEnd)
        m_hooks.fnEnd();
    m_bBusy = false;
    if (m_hooks.fnIdle)
        m_hooks.fnIdle();
    // A held "Выход" or close box closed the window: a tick or a command
    // that fell due meanwhile dies with it.
    if (m_bClosed)
        return;
    if (m_bExitDue) {
        m_bExitDue = false;
        if (m_hooks.fnExit)
            m_hooks.fnExit();
        return;
    }
    if (m_bTickDue) {
        m_bTickDue = false;
        QTimer::singleShot(0, this, &CCommandQueue::RunTick);
    }
    if (!m_deferred.empty())
        QTimer::singleShot(0, this, &CCommandQueue::RunDeferred);
}

void CCommandQueue::RunWhenIdle(std::function<void()> fnCommand)
{
    m_deferred.push_back(std::move(fnCommand));
    if (!m_bBusy)
        RunDeferred();
}

void CCommandQueue::RunDeferred()
{
    // A command started meanwhile runs this again when it ends.
    if (m_bBusy || m_deferred.empty())
        return;
    const std::function<void()> fnCommand = std::move(m_deferred.front());
    m_deferred.pop_front();
    Run(fnCommand);
}

void CCommandQueue::RunTick()
{
    if (m_hooks.fnTick)
        m_hooks.fnTick();
}
