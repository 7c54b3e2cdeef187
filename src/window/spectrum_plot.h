// The harmonic spectrum of one phase on a QCustomPlot: a bar per order 2 to
// 40, the limit of each order that has one as a mark across its bar, bars
// beyond their limit in the warning colour, and a note in place of the bars
// while there is nothing to show.
#pragma once

#include "data/spectrum.h"
#include "data/supply_limits.h"

#include <QColor>
#include <QObject>

class QCPBars;
class QCPGraph;
class QCPItemText;
class QCustomPlot;

class CSpectrumPlot : public QObject {
public:
    explicit CSpectrumPlot(QCustomPlot *pPlot);

    void SetLimits(const CLimits &limits);
    // Sets the bars and replots at the next chance.
    void Show(const SSpectrum &spectrum);

    static QColor BarColour() { return QColor(60, 110, 180); }
    static QColor WarningColour() { return QColor(215, 60, 30); }
    static QColor LimitColour() { return QColor(40, 40, 40); }

    // What the plot shows, for the tests: bars within their limit (or without
    // one), bars beyond it, the limit marks, the note.
    QCPBars *Bars() const { return m_pBars; }
    QCPBars *BeyondBars() const { return m_pBeyond; }
    QCPGraph *LimitMarks() const { return m_pLimitMarks; }
    QCPItemText *Note() const { return m_pNote; }

private:
    void FitMarksToBars();

    QCustomPlot *m_pPlot;
    QCPBars *m_pBars;
    QCPBars *m_pBeyond;
    QCPGraph *m_pLimitMarks;
    QCPItemText *m_pNote;
    CLimits m_limits = CLimits::None();
    double m_dHighestLimit = 0.0;
};
