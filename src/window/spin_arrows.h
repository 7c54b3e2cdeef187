// An up-down arrow pair that keeps a position of its own and is bound to no
// edit: each step reports the position before it and the step, and the
// window decides what to show. The position starts at 0, which may lie below
// the range; a step then moves it into the range.
#pragma once

#include <QWidget>

class QToolButton;

class CSpinArrows : public QWidget {
    Q_OBJECT
public:
    explicit CSpinArrows(QWidget *pParent = nullptr);

    void SetRange(int nLow, int nHigh);
    int Position() const { return m_nPosition; }

    // One step up (+1) or down (-1), as the arrows and arrow keys make it.
    void Step(int nDelta);

    QSize sizeHint() const override;

signals:
    void DeltaPos(int nPosition, int nDelta);

protected:
    void keyPressEvent(QKeyEvent *pEvent) override;

private:
    QToolButton *m_pUp;
    QToolButton *m_pDown;
    int m_nPosition = 0;
    int m_nLow = 0;
    int m_nHigh = 100;
};
