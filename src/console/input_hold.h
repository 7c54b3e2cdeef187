// Holds the operator's input to one window while a command of that window
// runs, and delivers it, in the order it came, once the command has ended.
// The window keeps painting and its other windows (the progress box with its
// Cancel, message boxes, dialogs) take their input at once; only clicks, keys
// and shortcuts meant for the held window wait. Nothing is dropped.
#pragma once

#include <QObject>
#include <QPointer>

#include <deque>
#include <memory>

class QEvent;
class QWidget;

class CInputHold : public QObject {
public:
    explicit CInputHold(QWidget *pWindow);
    ~CInputHold() override;

    // From now on input for the window is held.
    void Begin();
    // Delivers what was held. A delivered click may start the next command:
    // what is still held then waits behind it again, so the order stays the
    // order in which the operator acted.
    void End();

    bool IsHolding() const { return m_bHolding; }
    std::size_t HeldCount() const { return m_held.size(); }

protected:
    bool eventFilter(QObject *pReceiver, QEvent *pEvent) override;

private:
    bool IsForWindow(QObject *pReceiver) const;

    struct SHeld {
        QPointer<QObject> pReceiver;
        std::unique_ptr<QEvent> pEvent;
    };

    QWidget *m_pWindow;
    std::deque<SHeld> m_held;
    bool m_bHolding = false;
};
