// One command at a time for a window and the windows it owns. A command
// asked for while another runs waits its turn; a timer tick that falls due
// meanwhile runs after it, and so does an exit asked for from outside the
// window's input, which also drops whatever still waits. Once the window has
// closed nothing runs: nothing talks to the meter or opens a box then.
#pragma once

#include <QObject>

#include <deque>
#include <functional>

class CCommandQueue : public QObject {
public:
    // What the window does around each command and with what fell due.
    struct SHooks {
        std::function<void()> fnBegin;    // the command starts: the window's input waits
        std::function<void()> fnEnd;      // the command has ended, the queue still busy
        std::function<void()> fnIdle;     // the queue is free again: the waiting input goes in
        std::function<void()> fnTick;     // a tick that fell due during the command
        std::function<void()> fnExit;     // the exit asked for during the command
    };

    explicit CCommandQueue(SHooks hooks, QObject *pParent = nullptr);

    // Runs fnCommand at once; does nothing while another command runs or
    // once the window has closed.
    void Run(const std::function<void()> &fnCommand);
    // Runs fnCommand at once when none runs, otherwise after the running one.
    void RunWhenIdle(std::function<void()> fnCommand);

    bool IsBusy() const { return m_bBusy; }
    bool IsClosed() const { return m_bClosed; }

    // Both only while a command runs: it is done once the command has ended.
    void TickDue() { m_bTickDue = true; }
    void ExitDue() { m_bExitDue = true; }
    // Continuous reading stopped: a tick that fell due no longer runs.
    void DropTick() { m_bTickDue = false; }
    // The exit command ran: from now on nothing runs.
    void Close() { m_bClosed = true; }

private:
    void RunDeferred();
    void RunTick();

    SHooks m_hooks;
    bool m_bBusy = false;
    bool m_bTickDue = false;
    bool m_bExitDue = false;
    bool m_bClosed = false;
    std::deque<std::function<void()>> m_deferred; // asked for while another ran
};
