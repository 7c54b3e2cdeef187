#include "window/spectrum_plot.h"

#include "window/charts_text.h"

#include <qcustomplot.h>

#include <algorithm>
#include <cmath>

namespace {

constexpr double BAR_WIDTH = 0.7; // in orders
constexpr int ORDER_COUNT = LAST_HARMONIC_ORDER - FIRST_HARMONIC_ORDER + 1;

// A mark across a bar: a horizontal line 6 units long, scaled to the bar's
// width in pixels by the scatter size.
QCPScatterStyle LimitMark(double dWidthPixels)
{
    QPainterPath path;
    path.moveTo(-3.0, 0.0);
    path.lineTo(3.0, 0.0);
    QPen pen(CSpectrumPlot::LimitColour(), 2.5);
    pen.setCosmetic(true); // the scaling widens the line, not its thickness
    pen.setCapStyle(Qt::FlatCap);
    return QCPScatterStyle(path, pen, Qt::NoBrush, dWidthPixels);
}

} // namespace

CSpectrumPlot::CSpectrumPlot(QCustomPlot *pPlot) : QObject(pPlot), m_pPlot(pPlot)
{
    QCPAxis *pOrders = m_pPlot->xAxis;
    QCPAxis *pPercent = m_pPlot->yAxis;

    m_pBars = new QCPBars(pOrders, pPercent);
    m_pBars->setName(ChartsText::BarsLegend());
    m_pBars->setWidth(BAR_WIDTH);
    m_pBars->setPen(QPen(BarColour().darker(130)));
    m_pBars->setBrush(BarColour());

    m_pBeyond = new QCPBars(pOrders, pPercent);
    m_pBeyond->setName(ChartsText::BeyondLegend());
    m_pBeyond->setWidth(BAR_WIDTH);
    m_pBeyond->setPen(QPen(WarningColour().darker(130)));
    m_pBeyond->setBrush(WarningColour());

    m_pLimitMarks = m_pPlot->addGraph(pOrders, pPercent);
    m_pLimitMarks->setName(ChartsText::LimitLegend());
    m_pLimitMarks->setLineStyle(QCPGraph::lsNone);
    m_pLimitMarks->setScatterStyle(LimitMark(12.0));

    auto pTicker = QSharedPointer<QCPAxisTickerFixed>::create();
    pTicker->setTickStep(1.0);
    pTicker->setScaleStrategy(QCPAxisTickerFixed::ssNone);
    pOrders->setTicker(pTicker);
    pOrders->setRange(FIRST_HARMONIC_ORDER - 0.7, LAST_HARMONIC_ORDER + 0.7);
    pOrders->setLabel(ChartsText::OrderAxis());
    pOrders->grid()->setVisible(false);
    pPercent->setLabel(ChartsText::PercentAxis());
    pPercent->setRange(0.0, 1.0);

    m_pNote = new QCPItemText(m_pPlot);
    m_pNote->position->setType(QCPItemPosition::ptAxisRectRatio);
    m_pNote->position->setCoords(0.5, 0.4);
    m_pNote->setText(ChartsText::NoValues());
    QFont font = m_pPlot->font();
    font.setPointSizeF(font.pointSizeF() * 1.3);
    m_pNote->setFont(font);

    m_pPlot->legend->setVisible(true);
    m_pPlot->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignRight);

    // The marks keep the width of the bars as the window is resized.
    connect(m_pPlot, &QCustomPlot::afterLayout, this, &CSpectrumPlot::FitMarksToBars);
    Show(SSpectrum());
}

void CSpectrumPlot::FitMarksToBars()
{
    const QCPAxis *pOrders = m_pPlot->xAxis;
    const double dWidth = std::abs(pOrders->coordToPixel(BAR_WIDTH + 0.1) - pOrders->coordToPixel(0.0));
    if (std::abs(m_pLimitMarks->scatterStyle().size() - dWidth) >= 0.5)
        m_pLimitMarks->setScatterStyle(LimitMark(dWidth));
}

void CSpectrumPlot::SetLimits(const CLimits &limits)
{
    m_limits = limits;
    QVector<double> orders;
    QVector<double> marks;
    m_dHighestLimit = 0.0;
    for (int n = FIRST_HARMONIC_ORDER; n <= LAST_HARMONIC_ORDER; ++n) {
        const std::optional<SLimitBand> band = m_limits.Harmonic(n);
        if (!band || !std::isfinite(band->dMax))
            continue;
        orders.append(n);
        marks.append(band->dMax);
        m_dHighestLimit = std::max(m_dHighestLimit, band->dMax);
    }
    m_pLimitMarks->setData(orders, marks, true);
}

void CSpectrumPlot::Show(const SSpectrum &spectrum)
{
    QVector<double> orders, values, beyondOrders, beyondValues;
    orders.reserve(ORDER_COUNT);
    values.reserve(ORDER_COUNT);
    double dHighest = 0.0;
    for (int i = 0; i < ORDER_COUNT; ++i) {
        const std::optional<double> &value = spectrum.harmonics[size_t(i)];
        if (!value)
            continue;
        const int nOrder = FIRST_HARMONIC_ORDER + i;
        const std::optional<SLimitBand> band = m_limits.Harmonic(nOrder);
        const bool bBeyond = band && !band->Holds(*value);
        (bBeyond ? beyondOrders : orders).append(nOrder);
        (bBeyond ? beyondValues : values).append(*value);
        dHighest = std::max(dHighest, *value);
    }
    m_pBars->setData(orders, values, true);
    m_pBeyond->setData(beyondOrders, beyondValues, true);
    m_pNote->setVisible(!spectrum.HasValues());
    // The limits stay in sight, so that a short bar reads as far from its limit.
    m_pPlot->yAxis->setRange(0.0, std::max({dHighest, m_dHighestLimit, 1.0}) * 1.12);
    m_pPlot->replot(QCustomPlot::rpQueuedReplot);
}
