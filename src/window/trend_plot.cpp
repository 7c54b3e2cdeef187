#include "window/trend_plot.h"

#include "window/charts_text.h"

#include <qcustomplot.h>

#include <algorithm>
#include <cmath>

namespace {

// Distinct colours, one per series in the order the rows are followed.
const QColor PALETTE[] = {
    {31, 119, 180}, {255, 127, 14}, {44, 160, 44},  {214, 39, 40},  {148, 103, 189},
    {140, 86, 75},  {227, 119, 194}, {127, 127, 127}, {188, 189, 34}, {23, 190, 207},
};

// The time axis counts seconds since the epoch, as the date-time ticker does.
double Key(qint64 nMsecs)
{
    return double(nMsecs) / 1000.0;
}

// Shown while the span holds no more than this: a span of a single reading
// would have no width.
constexpr double SHORTEST_SPAN_SECONDS = 60.0;

} // namespace

CTrendPlot::CTrendPlot(QCustomPlot *pPlot, std::size_t nCapacity)
    : QObject(pPlot), m_pPlot(pPlot), m_trend(nCapacity)
{
    m_trend.SetRows({});
    auto pTicker = QSharedPointer<QCPAxisTickerDateTime>::create();
    pTicker->setDateTimeFormat(QStringLiteral("hh:mm:ss\ndd.MM.yyyy"));
    pTicker->setDateTimeSpec(Qt::LocalTime);
    m_pPlot->xAxis->setTicker(pTicker);

    m_pPlot->yAxis->setLabel(QStringLiteral("%"));
    m_pPlot->yAxis2->setLabel(QStringLiteral("Гц"));
    m_pVolts = m_pPlot->axisRect()->addAxis(QCPAxis::atRight);
    m_pVolts->setLabel(QStringLiteral("В"));
    m_pVolts->grid()->setVisible(false);
    for (QCPAxis *pAxis : {m_pPlot->yAxis2, m_pVolts}) {
        pAxis->setVisible(false);
        pAxis->setTickLabels(true);
    }
    const QDateTime now = QDateTime::currentDateTime();
    m_pPlot->xAxis->setRange(Key(now.toMSecsSinceEpoch()) - SHORTEST_SPAN_SECONDS, Key(now.toMSecsSinceEpoch()));

    // Time is zoomed and dragged; each value axis fits what is in sight.
    m_pPlot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    m_pPlot->axisRect()->setRangeDrag(Qt::Horizontal);
    m_pPlot->axisRect()->setRangeZoom(Qt::Horizontal);
    m_pPlot->axisRect()->setRangeDragAxes(m_pPlot->xAxis, nullptr);
    m_pPlot->axisRect()->setRangeZoomAxes(m_pPlot->xAxis, nullptr);

    // The legend takes a row of its own above the axes.
    m_pPlot->legend->setVisible(true);
    m_pPlot->axisRect()->insetLayout()->take(m_pPlot->legend);
    m_pPlot->plotLayout()->insertRow(0);
    m_pPlot->plotLayout()->addElement(0, 0, m_pPlot->legend);
    m_pPlot->plotLayout()->setRowStretchFactor(0, 0.001);
    m_pPlot->legend->setFillOrder(QCPLayoutGrid::foColumnsFirst);
    m_pPlot->legend->setBorderPen(Qt::NoPen);
    m_pPlot->legend->setMargins(QMargins(4, 2, 4, 0));

    m_pNote = new QCPItemText(m_pPlot);
    m_pNote->position->setType(QCPItemPosition::ptAxisRectRatio);
    m_pNote->position->setCoords(0.5, 0.4);
    m_pNote->setText(ChartsText::NoTrend());

    connect(m_pPlot, &QCustomPlot::beforeReplot, this, &CTrendPlot::UpdateSpan);
    connect(m_pPlot->xAxis, qOverload<const QCPRange &>(&QCPAxis::rangeChanged), this, &CTrendPlot::OnRangeChanged);
}

CTrendPlot::~CTrendPlot() = default;

QString CTrendPlot::UnitOf(const QString &strRowName)
{
    if (strRowName == u"F" || strRowName == u"dF")
        return QStringLiteral("Гц");
    if (strRowName.startsWith(u'U'))
        return QStringLiteral("В");
    return QStringLiteral("%");
}

QCPAxis *CTrendPlot::AxisFor(const QString &strUnit) const
{
    if (strUnit == u"Гц")
        return m_pPlot->yAxis2;
    if (strUnit == u"В")
        return m_pVolts;
    return m_pPlot->yAxis;
}

QColor CTrendPlot::Colour(std::size_t nSeries) const
{
    return PALETTE[nSeries % std::size(PALETTE)];
}

std::vector<int> CTrendPlot::Rows() const
{
    std::vector<int> rows;
    for (const SSeries &series : m_series)
        rows.push_back(series.nRow);
    return rows;
}

void CTrendPlot::SetRows(const std::vector<int> &rows, const CListRows &secondRows)
{
    std::vector<SSeries> kept;
    for (int nRow : rows) {
        const auto it = std::find_if(m_series.begin(), m_series.end(), [nRow](const SSeries &s) { return s.nRow == nRow; });
        if (it != m_series.end()) {
            kept.push_back(std::move(*it));
            m_series.erase(it);
            continue;
        }
        if (nRow < 0 || size_t(nRow) >= secondRows.size() || secondRows[size_t(nRow)].strName.isEmpty())
            continue;
        const QString &strName = secondRows[size_t(nRow)].strName;
        QCPGraph *pGraph = m_pPlot->addGraph(m_pPlot->xAxis, AxisFor(UnitOf(strName)));
        pGraph->setName(strName + QStringLiteral(", ") + UnitOf(strName));
        kept.push_back({nRow, strName, pGraph});
    }
    for (SSeries &dropped : m_series)
        m_pPlot->removePlottable(dropped.pGraph);
    m_series = std::move(kept);
    m_trend.SetRows(Rows());

    // Colours and the legend follow the order of the rows.
    m_pPlot->legend->clearItems();
    for (std::size_t i = 0; i < m_series.size(); ++i) {
        // A thin pen draws a day of points in a few milliseconds, a wider
        // one takes Qt's stroker and many times as long.
        m_series[i].pGraph->setPen(QPen(Colour(i), 1.0));
        m_series[i].pGraph->addToLegend();
    }
    for (QCPAxis *pAxis : {m_pPlot->yAxis, m_pPlot->yAxis2, m_pVolts}) {
        pAxis->setVisible(std::any_of(m_series.begin(), m_series.end(),
                                      [pAxis](const SSeries &s) { return s.pGraph->valueAxis() == pAxis; }));
    }
    if (m_bFollowing)
        ShowAll();
    else
        OnSpanContentChanged();
}

void CTrendPlot::AppendReading(qint64 nMsecs, const CListRows &secondRows)
{
    m_trend.AppendReading(nMsecs, secondRows);
    if (m_bFollowing)
        ShowAll();
    else
        OnSpanContentChanged();
}

void CTrendPlot::AppendGap(qint64 nMsecs)
{
    m_trend.AppendGap(nMsecs);
    if (m_bFollowing)
        ShowAll();
    else
        OnSpanContentChanged();
}

void CTrendPlot::ShowAll()
{
    m_bFollowing = true;
    if (!m_trend.IsEmpty()) {
        m_bSettingRange = true;
        m_pPlot->xAxis->setRange(Key(m_trend.FirstTime()),
                                 std::max(Key(m_trend.LastTime()), Key(m_trend.FirstTime()) + SHORTEST_SPAN_SECONDS));
        m_bSettingRange = false;
    }
    OnSpanContentChanged();
}

void CTrendPlot::OnRangeChanged()
{
    if (m_bSettingRange)
        return;
    // The operator has zoomed or dragged: the span stays where it is put.
    m_bFollowing = false;
    OnSpanContentChanged();
}

void CTrendPlot::OnSpanContentChanged()
{
    // Worked out once before the next replot, however many readings and
    // range changes come before it: a day of points takes a while to go through.
    m_bSpanDirty = true;
    m_pPlot->replot(QCustomPlot::rpQueuedReplot);
}

void CTrendPlot::UpdateSpan()
{
    if (!m_bSpanDirty)
        return;
    m_bSpanDirty = false;
    const QCPRange range = m_pPlot->xAxis->range();
    const int nPixels = std::max(1, m_pPlot->axisRect()->width());
    const std::vector<STrendView> views = m_trend.View(qint64(std::floor(range.lower * 1000.0)),
                                                       qint64(std::ceil(range.upper * 1000.0)), nPixels);
    m_visibleStats.clear();
    for (std::size_t i = 0; i < m_series.size(); ++i) {
        const STrendView &view = views[i];
        m_visibleStats.push_back(view.stats);
        QVector<QCPGraphData> data;
        data.reserve(qsizetype(view.points.size()));
        for (const STrendPoint &point : view.points)
            data.append(QCPGraphData(Key(point.nMsecs), point.dValue));
        // Handed over, not copied: the graph shares the vector.
        m_series[i].pGraph->data()->set(data, true);
        // Smooth lines while the span holds a few points a pixel at most; a
        // denser span is a band of samples anyway, drawn many times as fast
        // without antialiasing.
        m_series[i].pGraph->setAntialiased(double(view.stats.nCount) <= 2.0 * double(nPixels));
    }
    m_pNote->setVisible(m_trend.IsEmpty());
    FitValueAxes();
    emit SpanChanged();
}

void CTrendPlot::FitValueAxes()
{
    for (QCPAxis *pAxis : {m_pPlot->yAxis, m_pPlot->yAxis2, m_pVolts}) {
        double dLow = INFINITY;
        double dHigh = -INFINITY;
        for (std::size_t i = 0; i < m_series.size(); ++i) {
            if (m_series[i].pGraph->valueAxis() != pAxis || m_visibleStats[i].nCount == 0)
                continue;
            dLow = std::min(dLow, m_visibleStats[i].dMin);
            dHigh = std::max(dHigh, m_visibleStats[i].dMax);
        }
        if (!(dLow <= dHigh))
            continue;
        const double dMargin = dHigh > dLow ? (dHigh - dLow) * 0.08 : std::max(std::abs(dHigh) * 0.01, 0.05);
        pAxis->setRange(dLow - dMargin, dHigh + dMargin);
    }
}

SSpanStats CTrendPlot::VisibleStats(std::size_t nSeries) const
{
    return nSeries < m_visibleStats.size() ? m_visibleStats[nSeries] : SSpanStats();
}

std::size_t CTrendPlot::BytesHeld() const
{
    std::size_t nBytes = m_trend.BytesHeld();
    for (const SSeries &series : m_series)
        nBytes += std::size_t(series.pGraph->data()->size()) * sizeof(QCPGraphData);
    return nBytes;
}
