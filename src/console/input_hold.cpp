#include "input_hold.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QWidget>

namespace {

// The operator's acts. Plain mouse moves are not among them: hovering over
// a busy window changes nothing, and a move with a button down (a drag)
// belongs to its press and release and waits with them.
bool IsOperatorInput(const QEvent *pEvent)
{
    switch (pEvent->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::InputMethod:
        return true;
    case QEvent::MouseMove:
        return static_cast<const QMouseEvent *>(pEvent)->buttons() != Qt::NoButton;
    default:
        return false;
    }
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
        SHeld held = std::move(m_held.front());
        m_held.pop_front();
        if (held.pReceiver)
            QCoreApplication::sendEvent(held.pReceiver, held.pEvent.get());
    }
}

bool CInputHold::IsForWindow(QObject *pReceiver) const
{
    // A widget of the window, or a shortcut or action that hangs on one.
    for (QObject *p = pReceiver; p; p = p->parent()) {
        if (p->isWidgetType())
            return static_cast<QWidget *>(p)->window() == m_pWindow;
    }
    return false;
}

bool CInputHold::eventFilter(QObject *pReceiver, QEvent *pEvent)
{
    if (!m_bHolding || !IsOperatorInput(pEvent) || !IsForWindow(pReceiver))
        return false;
    m_held.push_back({pReceiver, std::unique_ptr<QEvent>(pEvent->clone())});
    // Taken: the widget and its parents see it when it is delivered.
    pEvent->accept();
    return true;
}
