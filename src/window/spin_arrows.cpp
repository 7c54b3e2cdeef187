#include "window/spin_arrows.h"

#include <QKeyEvent>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

CSpinArrows::CSpinArrows(QWidget *pParent)
    : QWidget(pParent), m_pUp(new QToolButton(this)), m_pDown(new QToolButton(this))
{
    auto *pLayout = new QVBoxLayout(this);
    pLayout->setContentsMargins(0, 0, 0, 0);
    pLayout->setSpacing(0);
    for (QToolButton *pButton : {m_pUp, m_pDown}) {
        pButton->setAutoRepeat(true);
        pButton->setFocusPolicy(Qt::NoFocus);
        pButton->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        pLayout->addWidget(pButton);
    }
    m_pUp->setObjectName(QStringLiteral("up"));
    m_pDown->setObjectName(QStringLiteral("down"));
    m_pUp->setArrowType(Qt::UpArrow);
    m_pDown->setArrowType(Qt::DownArrow);
    connect(m_pUp, &QToolButton::clicked, this, [this] { Step(+1); });
    connect(m_pDown, &QToolButton::clicked, this, [this] { Step(-1); });
    // Reachable by mouse and, once clicked, by the arrow keys; not a tab stop.
    setFocusPolicy(Qt::ClickFocus);
}

void CSpinArrows::SetRange(int nLow, int nHigh)
{
    m_nLow = nLow;
    m_nHigh = nHigh;
}

void CSpinArrows::Step(int nDelta)
{
    emit DeltaPos(m_nPosition, nDelta);
    m_nPosition = std::clamp(m_nPosition + nDelta, m_nLow, m_nHigh);
}

QSize CSpinArrows::sizeHint() const
{
    return QSize(16, 22);
}

void CSpinArrows::keyPressEvent(QKeyEvent *pEvent)
{
    if (pEvent->key() == Qt::Key_Up)
        Step(+1);
    else if (pEvent->key() == Qt::Key_Down)
        Step(-1);
    else
        QWidget::keyPressEvent(pEvent);
}
