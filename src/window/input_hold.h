// Holds the operator's input to one window while a command of that window
// runs, and delivers it, in the order it came, once the command has ended.
// The window keeps painting and its other windows (the progress box with its
// Cancel, message boxes, dialogs) take their input at once; only clicks, keys
// and the close box meant for the held window wait. The progress box takes
// no focus, so its Esc comes to the window and goes on to it at once.
//
// The input is taken where the window system hands it to the window, before
// Qt picks a widget for it, and handed back there. So each act takes effect
// as if it came just now: a key goes to the widget that has the focus at its
// turn, a click to the widget under it then (an edit the click before it
// enabled, a popup the click before it opened), and a shortcut is matched
// then. Once the window is closed, what is still held is dropped.
#pragma once

#include <QObject>

#include <deque>
#include <functional>
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
    void Deliver(QEvent *pEvent);

    QWidget *m_pWindow;
    // Each makes one held event again, at its turn.
    std::deque<std::function<std::unique_ptr<QEvent>()>> m_held;
    bool m_bHolding = false;
};
