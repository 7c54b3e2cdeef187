#include "window/input_hold.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QProgressDialog>
#include <QWidget>
#include <QWindow>

namespace {

// The operator's acts as the window system hands them to the window. Plain
// mouse moves are not among them: hovering over a busy window changes
// nothing, and a move with a button down (a drag) belongs to its press and
// release and waits with them. The close box is one: it exits in its turn.
bool IsOperatorInput(const QEvent *pEvent)
{
    switch (pEvent->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ContextMenu:
    case QEvent::Close:
        return true;
    case QEvent::MouseMove:
        return static_cast<const QMouseEvent *>(pEvent)->buttons() != Qt::NoButton;
    default:
        return false;
    }
}

// What makes the event again at its turn. A copy of a pointer event will not
// do: in Qt 6.4 every mouse event of a device shares that device's one point,
// which each later mouse event moves, so a held click would land where the
// last one went. So the pointer's events are kept as values and made anew.
std::function<std::unique_ptr<QEvent>()> Keep(const QEvent *pEvent)
{
    switch (pEvent->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove: {
        const auto *pMouse = static_cast<const QMouseEvent *>(pEvent);
        return [type = pMouse->type(), position = pMouse->position(), global = pMouse->globalPosition(),
                button = pMouse->button(), buttons = pMouse->buttons(), modifiers = pMouse->modifiers(),
                nTimestamp = pMouse->timestamp()] {
            auto pMade = std::make_unique<QMouseEvent>(type, position, position, global, button, buttons, modifiers);
            pMade->setTimestamp(nTimestamp);
            return std::unique_ptr<QEvent>(std::move(pMade));
        };
    }
    case QEvent::Wheel: {
        const auto *pWheel = static_cast<const QWheelEvent *>(pEvent);
        return [position = pWheel->position(), global = pWheel->globalPosition(), pixels = pWheel->pixelDelta(),
                angle = pWheel->angleDelta(), buttons = pWheel->buttons(), modifiers = pWheel->modifiers(),
                phase = pWheel->phase(), bInverted = pWheel->inverted(), nTimestamp = pWheel->timestamp()] {
            auto pMade = std::make_unique<QWheelEvent>(position, global, pixels, angle, buttons, modifiers, phase,
                                                       bInverted);
            pMade->setTimestamp(nTimestamp);
            return std::unique_ptr<QEvent>(std::move(pMade));
        };
    }
    default: {
        const std::shared_ptr<const QEvent> pCopy(pEvent->clone());
        return [pCopy] { return std::unique_ptr<QEvent>(pCopy->clone()); };
    }
    }
}

// The progress box of the window's command, while it shows. It takes no
// focus, so that what the operator types stays with the window; a progress
// box that may have the focus gets its Esc itself.
QProgressDialog *ShownProgressBox(const QWidget *pWindow)
{
    for (QObject *pChild : pWindow->children()) {
        auto *pBox = qobject_cast<QProgressDialog *>(pChild);
        if (pBox && pBox->isVisible() && pBox->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus))
            return pBox;
    }
    return nullptr;
}

} // namespace

CInputHold::CInputHold(QWidget *pWindow) : m_pWindow(pWindow) {}

CInputHold::~CInputHold()
{
    if (m_bHolding)
        QCoreApplication::instance()->removeEventFilter(this);
}

void CInputHold::Begin()
{
    if (m_bHolding)
        return;
    m_bHolding = true;
    QCoreApplication::instance()->installEventFilter(this);
}

void CInputHold::End()
{
    if (!m_bHolding)
        return;
    m_bHolding = false;
    QCoreApplication::instance()->removeEventFilter(this);
    // Delivered one at a time from the front: a command started by one of
    // them holds again, and its own End delivers the rest.
    while (!m_bHolding && !m_held.empty()) {
        // A closed window takes nothing more: no held click may start a
        // command, open a box or talk to the meter after the exit.
        if (!m_pWindow->isVisible()) {
            m_held.clear();
            break;
        }
        const std::unique_ptr<QEvent> pEvent = m_held.front()();
        m_held.pop_front();
        Deliver(pEvent.get());
    }
}

void CInputHold::Deliver(QEvent *pEvent)
{
    QWindow *pHandle = m_pWindow->windowHandle();
    if (!pHandle)
        return;
    if (pEvent->type() == QEvent::InputMethod) {
        // Composed text goes where a key would go now.
        if (QObject *pFocus = pHandle->focusObject())
            QCoreApplication::sendEvent(pFocus, pEvent);
        return;
    }
    const bool bPopupOpen = QApplication::activePopupWidget() != nullptr;
    QCoreApplication::sendEvent(pHandle, pEvent);
    // A press outside an open popup closes it. Where the platform has such a
    // press go on to the widget under it (X11 does not), Qt posts it again:
    // it belongs here, before the release still held behind it.
    if (bPopupOpen && pEvent->type() == QEvent::MouseButtonPress)
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MouseButtonPress);
}

bool CInputHold::eventFilter(QObject *pReceiver, QEvent *pEvent)
{
    if (!m_bHolding)
        return false;
    const QWindow *pHandle = m_pWindow->windowHandle();
    if (!pHandle)
        return false;
    if (pReceiver == pHandle) {
        if (pEvent->type() == QEvent::ShortcutOverride) {
            // Counted as overridden, so that no shortcut fires now and the
            // key comes to the window, to be held: delivered, it is matched
            // against the shortcuts as they stand then.
            pEvent->accept();
            return true;
        }
        if (!IsOperatorInput(pEvent))
            return false;
        // Esc is the Cancel of the progress box, which cannot have the focus:
        // the key comes to the window, and cancels at once.
        if (pEvent->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(pEvent)->matches(QKeySequence::Cancel)) {
            if (QProgressDialog *pBox = ShownProgressBox(m_pWindow)) {
                pBox->cancel();
                pEvent->accept();
                return true;
            }
        }
    } else {
        // Composed text (dead keys, an input method) goes straight to the
        // focus widget, past the window.
        const auto *pWidget = qobject_cast<const QWidget *>(pReceiver);
        if (pEvent->type() != QEvent::InputMethod || !pWidget || pWidget->window() != m_pWindow)
            return false;
    }
    m_held.push_back(Keep(pEvent));
    // Taken: it reaches the window when it is delivered.
    pEvent->accept();
    return true;
}
