#include "report/report_plots.h"

#include "report/report_text.h"

#include <qcustomplot.h>

#include <QTimeZone>

#include <algorithm>
#include <cmath>
#include <map>

namespace {

constexpr qint64 INTERVAL_MSECS = 10 * 60 * 1000;
// Pixel sizes: the page is painted at 72 units an inch, so these are points,
// and the plot measures its texts as the page will draw them.
constexpr int TICK_PIXELS = 7;
constexpr int LABEL_PIXELS = 8;

// Distinct on paper and in grey; none of them red, which marks what fails.
const QColor LINE_COLOURS[] = {QColor(0x1f, 0x77, 0xb4), QColor(0xff, 0x7f, 0x0e), QColor(0x2c, 0xa0, 0x2c),
                               QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b), QColor(0x7f, 0x7f, 0x7f)};
const QColor BAND_COLOUR(0xc0, 0x39, 0x2b);
const QColor BAR_COLOUR(0x4a, 0x86, 0xc5);
const QColor BEYOND_COLOUR(0xd6, 0x27, 0x28);

QFont PlotFont(int nPixels, bool bBold = false)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(nPixels);
    font.setBold(bBold);
    return font;
}

void StylePlot(QCustomPlot &plot)
{
    plot.setFont(PlotFont(TICK_PIXELS));
    for (QCPAxis *pAxis : {plot.xAxis, plot.yAxis}) {
        pAxis->setTickLabelFont(PlotFont(TICK_PIXELS));
        pAxis->setLabelFont(PlotFont(LABEL_PIXELS));
        pAxis->grid()->setPen(QPen(QColor(0xd0, 0xd0, 0xd0), 0.4, Qt::DotLine));
    }
    plot.legend->setVisible(true);
    plot.legend->setFont(PlotFont(TICK_PIXELS));
    plot.legend->setIconSize(14, 6);
    plot.legend->setRowSpacing(-2);
    plot.legend->setBrush(QColor(255, 255, 255, 230));
    plot.legend->setBorderPen(QPen(QColor(0xa0, 0xa0, 0xa0), 0.5));
    // The legend goes above the plot, where it hides no value.
    auto *pLegendRect = new QCPLayoutGrid;
    plot.plotLayout()->insertRow(0);
    plot.plotLayout()->addElement(0, 0, pLegendRect);
    plot.axisRect()->insetLayout()->take(plot.legend);
    pLegendRect->addElement(0, 0, plot.legend);
    plot.legend->setFillOrder(QCPLegend::foColumnsFirst);
    plot.legend->setWrap(8);
    plot.plotLayout()->setRowStretchFactor(0, 0.001);
    plot.plotLayout()->setRowSpacing(2);
}

void Note(QCustomPlot &plot, const QString &strText)
{
    auto *pNote = new QCPItemText(&plot);
    pNote->position->setType(QCPItemPosition::ptAxisRectRatio);
    pNote->position->setCoords(0.5, 0.5);
    pNote->setText(strText);
    pNote->setFont(PlotFont(LABEL_PIXELS));
}

// A line across the period at a band's bound; one legend entry per band.
void BandLine(QCustomPlot &plot, double dFrom, double dTo, double dValue, const QPen &pen, const QString &strName)
{
    QCPGraph *pGraph = plot.addGraph();
    pGraph->setPen(pen);
    pGraph->setData({dFrom, dTo}, {dValue, dValue}, true);
    pGraph->setName(strName);
    if (strName.isEmpty())
        pGraph->removeFromLegend();
}

void BandLines(QCustomPlot &plot, double dFrom, double dTo, const SLimitBand &band, const QPen &pen,
               const QString &strName)
{
    bool bNamed = false;
    for (const double dBound : {band.dMax, band.dMin}) {
        if (!std::isfinite(dBound))
            continue;
        BandLine(plot, dFrom, dTo, dBound, pen, bNamed ? QString() : strName);
        bNamed = true;
    }
}

struct SValueRange {
    double dLow = std::numeric_limits<double>::infinity();
    double dHigh = -std::numeric_limits<double>::infinity();
    void Take(double dValue)
    {
        if (!std::isfinite(dValue))
            return;
        dLow = std::min(dLow, dValue);
        dHigh = std::max(dHigh, dValue);
    }
    bool Holds(double dValue) const { return dValue >= dLow && dValue <= dHigh; }
};

// One column's values over the whole period, week after week, with the
// UTC msecs each value's span starts at and how long a span is.
struct SSeries {
    QString strColumn;
    const SReportRow *pFirst = nullptr; // its band, hard band
    std::vector<qint64> starts;
    std::vector<double> values;
    qint64 nSpanMsecs = INTERVAL_MSECS;
};

std::vector<SSeries> SeriesOf(const SSupplyReport &report, EQuantityGroup group)
{
    std::vector<SSeries> series;
    for (const SReportWeek &week : report.weeks) {
        for (const SReportRow &row : week.rows) {
            if (row.eGroup != group)
                continue;
            auto it = std::find_if(series.begin(), series.end(),
                                   [&row](const SSeries &s) { return s.strColumn == row.strColumn; });
            if (it == series.end())
                it = series.insert(series.end(), SSeries{row.strColumn, &row, {}, {}, INTERVAL_MSECS});
            // dF's values may be 10-second means or minute values, each
            // with its own start.
            const bool bOwnStarts = !row.valueStarts.empty();
            const std::vector<qint64> &starts = bOwnStarts ? row.valueStarts : week.intervalStarts;
            if (bOwnStarts)
                it->nSpanMsecs = report.eSet == EDataSet::Second ? 10000 : 60000;
            for (std::size_t i = 0; i < row.values.size() && i < starts.size(); ++i) {
                it->starts.push_back(starts[i]);
                it->values.push_back(row.values[i]);
            }
        }
    }
    return series;
}

void PaintTimePlot(QCustomPlot &plot, const SSupplyReport &report, const std::vector<SSeries> &series)
{
    const double dFrom = double(report.weeks.front().nFromMsecs) / 1000.0;
    const double dTo = double(report.weeks.back().nToMsecs) / 1000.0;
    SValueRange range;
    std::size_t nColour = 0;
    for (const SSeries &one : series) {
        QVector<double> keys, values;
        keys.reserve(qsizetype(one.values.size()) * 2);
        values.reserve(keys.capacity());
        for (std::size_t i = 0; i < one.values.size(); ++i) {
            const qint64 nStart = one.starts[i];
            // A span without a value between two with one is a gap in the line.
            if (i > 0 && nStart - one.starts[i - 1] > one.nSpanMsecs) {
                keys.append(double(nStart - one.nSpanMsecs / 2) / 1000.0);
                values.append(std::numeric_limits<double>::quiet_NaN());
            }
            // Each value is drawn at its span's middle.
            keys.append(double(nStart + one.nSpanMsecs / 2) / 1000.0);
            values.append(one.values[i]);
            range.Take(one.values[i]);
        }
        QCPGraph *pGraph = plot.addGraph();
        pGraph->setName(one.strColumn);
        pGraph->setPen(QPen(LINE_COLOURS[nColour++ % std::size(LINE_COLOURS)], 0.6));
        pGraph->setData(keys, values, true);
    }
    if (!std::isfinite(range.dLow))
        Note(plot, ReportText::NoValidInterval());

    const SReportRow &first = *series.front().pFirst;
    range.Take(first.band.dMin);
    range.Take(first.band.dMax);
    if (!std::isfinite(range.dLow))
        range = {0.0, 1.0};
    BandLines(plot, dFrom, dTo, first.band, QPen(BAND_COLOUR, 0.9, Qt::DashLine), ReportText::BandLegend());
    // The 100 % band is far out; it is drawn where the values come near it.
    if (first.hardBand) {
        SLimitBand near = *first.hardBand;
        const double dMargin = (range.dHigh - range.dLow) * 0.25;
        const SValueRange wide{range.dLow - dMargin, range.dHigh + dMargin};
        if (!wide.Holds(near.dMin))
            near.dMin = -std::numeric_limits<double>::infinity();
        if (!wide.Holds(near.dMax))
            near.dMax = std::numeric_limits<double>::infinity();
        range.Take(near.dMin);
        range.Take(near.dMax);
        BandLines(plot, dFrom, dTo, near, QPen(BAND_COLOUR, 1.2, Qt::SolidLine), ReportText::HardBandLegend());
    }
    const double dPad = std::max((range.dHigh - range.dLow) * 0.08, 0.01);
    plot.yAxis->setRange(range.dLow - dPad, range.dHigh + dPad);

    // Ticks in the report's time zone, so that a clock change moves them
    // as it moves the clock.
    const QTimeZone named(report.strTimeZone.toUtf8());
    const int nStartOffset = report.weeks.front().nOffsetSeconds;
    auto pTicker = QSharedPointer<QCPAxisTickerDateTime>::create();
    pTicker->setTimeZone(named.isValid() ? named : QTimeZone(nStartOffset));
    pTicker->setDateTimeFormat(QStringLiteral("dd.MM\nhh:mm"));
    pTicker->setTickCount(8);
    // Days begin at the period's start, a local midnight, not at UTC's.
    pTicker->setTickOrigin(dFrom);
    plot.xAxis->setTicker(pTicker);
    plot.xAxis->setRange(dFrom, dTo);
    plot.xAxis->setLabel(named.isValid() ? ReportText::TimeAxis(report.strTimeZone)
                                         : ReportText::TimeAxis(nStartOffset));
}

// A short horizontal stroke across a bar of the given width in pixels.
QCPScatterStyle LimitMark(double dWidthPixels)
{
    QPainterPath path;
    path.moveTo(-3.0, 0.0);
    path.lineTo(3.0, 0.0);
    QPen pen(Qt::black, 1.2);
    pen.setCapStyle(Qt::FlatCap);
    return QCPScatterStyle(path, pen, Qt::NoBrush, dWidthPixels);
}

// Bars rather than lines in time: 39 orders of six phases over a week would
// be a tangle, and P95 against the limit answers the question the verdict
// asks of each order.
void PaintHarmonicsPlot(QCustomPlot &plot, const SSupplyReport &report, double dPlotWidth)
{
    std::map<int, std::pair<double, double>> orders; // order: worst P95 of any week, limit
    std::vector<const SReportRow *> rows;
    for (const SReportWeek &week : report.weeks) {
        for (const SReportRow &row : week.rows) {
            if (row.eGroup == EQuantityGroup::Harmonics)
                rows.push_back(&row);
        }
    }
    for (const SReportRow *pRow : rows) {
        const int nOrder = pRow->strQuantity.mid(2).toInt();
        auto [it, bNew] = orders.try_emplace(nOrder, -std::numeric_limits<double>::infinity(), pRow->band.dMax);
        if (std::isfinite(pRow->dP95))
            it->second.first = std::max(it->second.first, pRow->dP95);
    }
    QVector<double> within, withinP95, beyond, beyondP95, marked, limits;
    double dHighest = 0.0;
    for (const auto &[nOrder, p95Limit] : orders) {
        const auto [dP95, dLimit] = p95Limit;
        if (std::isfinite(dLimit)) {
            marked.append(nOrder);
            limits.append(dLimit);
            dHighest = std::max(dHighest, dLimit);
        }
        if (!std::isfinite(dP95))
            continue;
        (dP95 > dLimit ? beyond : within).append(nOrder);
        (dP95 > dLimit ? beyondP95 : withinP95).append(dP95);
        dHighest = std::max(dHighest, dP95);
    }
    const auto addBars = [&plot](const QVector<double> &keys, const QVector<double> &values, const QColor &colour,
                                 const QString &strName) {
        auto *pBars = new QCPBars(plot.xAxis, plot.yAxis);
        pBars->setWidth(0.7);
        pBars->setPen(QPen(colour.darker(130), 0.4));
        pBars->setBrush(colour);
        pBars->setName(strName);
        pBars->setData(keys, values, true);
    };
    addBars(within, withinP95, BAR_COLOUR, ReportText::HarmonicP95());
    if (!beyond.isEmpty())
        addBars(beyond, beyondP95, BEYOND_COLOUR, ReportText::HarmonicBeyond());
    QCPGraph *pMarks = plot.addGraph();
    pMarks->setName(ReportText::HarmonicLimit());
    pMarks->setLineStyle(QCPGraph::lsNone);
    const int nFirst = orders.empty() ? FIRST_HARMONIC_ORDER : orders.begin()->first;
    const int nLast = orders.empty() ? LAST_HARMONIC_ORDER : orders.rbegin()->first;
    // The axis rect is a little narrower than the plot: the stroke is kept
    // just inside the bar's width.
    pMarks->setScatterStyle(LimitMark(0.8 * dPlotWidth / (nLast - nFirst + 1.4)));
    pMarks->setData(marked, limits, true);
    if (within.isEmpty() && beyond.isEmpty())
        Note(plot, ReportText::NoValidInterval());

    auto pTicker = QSharedPointer<QCPAxisTickerFixed>::create();
    pTicker->setTickStep(1.0);
    pTicker->setScaleStrategy(QCPAxisTickerFixed::ssNone);
    plot.xAxis->setTicker(pTicker);
    plot.xAxis->setRange(nFirst - 0.7, nLast + 0.7);
    plot.xAxis->grid()->setVisible(false);
    plot.xAxis->setLabel(ReportText::OrderAxis());
    plot.yAxis->setRange(0.0, std::max(dHighest * 1.1, 0.1));
}

} // namespace

void PaintGroupPlot(QCPPainter &painter, const QRectF &rect, const SSupplyReport &report, EQuantityGroup group)
{
    if (report.weeks.empty())
        return;
    QCustomPlot plot;
    StylePlot(plot);
    if (group == EQuantityGroup::Harmonics) {
        PaintHarmonicsPlot(plot, report, rect.width());
    } else {
        const std::vector<SSeries> series = SeriesOf(report, group);
        if (series.empty())
            return;
        PaintTimePlot(plot, report, series);
    }

    painter.save();
    painter.translate(rect.topLeft());
    // Cached layers would be bitmaps in the page; every layer is drawn anew.
    painter.setMode(QCPPainter::pmVectorized);
    painter.setMode(QCPPainter::pmNoCaching);
    plot.toPainter(&painter, int(rect.width()), int(rect.height()));
    painter.restore();
}
