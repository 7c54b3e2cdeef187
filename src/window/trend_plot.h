// The trend on a QCustomPlot: each followed row of the Секунда list as a
// line over a date-time axis, a gap where a reading failed, one value axis
// per unit (%, Hz, V) fitted to the visible span. The operator zooms and
// drags the time axis with the mouse; until then the plot shows the whole
// trend and follows each new reading. The graphs hold only what the visible
// span draws, worked out before each replot: a copy of every point of every
// followed row would cost more than the trend itself.
#pragma once

#include "data/list_rows.h"
#include "data/trend.h"

#include <QColor>
#include <QObject>

#include <vector>

class QCPAxis;
class QCPGraph;
class QCPItemText;
class QCPRange;
class QCustomPlot;

class CTrendPlot : public QObject {
    Q_OBJECT
public:
    // nCapacity: readings held per series (the oldest drop off).
    explicit CTrendPlot(QCustomPlot *pPlot, std::size_t nCapacity = CTrend::DEFAULT_CAPACITY);
    ~CTrendPlot() override;

    // The rows followed, by position in the Секунда list (whose names label
    // them). A row followed before keeps its points; a new one starts empty.
    void SetRows(const std::vector<int> &rows, const CListRows &secondRows);
    std::vector<int> Rows() const;

    // A successful reading of the Секунда list, and a failed one.
    void AppendReading(qint64 nMsecs, const CListRows &secondRows);
    void AppendGap(qint64 nMsecs);

    // Back to the whole trend, following new readings.
    void ShowAll();
    bool IsFollowing() const { return m_bFollowing; }

    std::size_t SeriesCount() const { return m_series.size(); }
    // Its series are those of the plot, in the same order.
    const CTrend &Trend() const { return m_trend; }
    QCPGraph *Graph(std::size_t nSeries) const { return m_series[nSeries].pGraph; }
    QCPItemText *Note() const { return m_pNote; }
    QString Name(std::size_t nSeries) const { return m_series[nSeries].strName; }
    QColor Colour(std::size_t nSeries) const;
    // min / max / mean of the points in the visible span, as of the last
    // replot (a change of the span or its points queues one).
    SSpanStats VisibleStats(std::size_t nSeries) const;
    // Bytes held by the points: the trend's and what the graphs draw.
    std::size_t BytesHeld() const;

    // The unit of a row of the Секунда list by its name: "В", "Гц" or "%".
    static QString UnitOf(const QString &strRowName);

signals:
    // The statistics of the visible span are new.
    void SpanChanged();

private:
    struct SSeries {
        int nRow;
        QString strName;
        QCPGraph *pGraph;
    };

    void OnRangeChanged();
    void OnSpanContentChanged();
    void UpdateSpan();
    void FitValueAxes();
    QCPAxis *AxisFor(const QString &strUnit) const;

    QCustomPlot *m_pPlot;
    CTrend m_trend;
    QCPAxis *m_pVolts;
    std::vector<SSeries> m_series;
    std::vector<SSpanStats> m_visibleStats; // per series
    QCPItemText *m_pNote;
    bool m_bFollowing = true;
    bool m_bSettingRange = false;
    bool m_bSpanDirty = true;
};
