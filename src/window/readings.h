// What the chart window may see of the main window: the last Секунда and
// Минута readings, when they were read, and the limits they are judged
// against. It is told of each reading and says so on to its watchers.
#pragma once

#include "data/list_rows.h"
#include "data/supply_limits.h"
#include "window/list_model.h"

#include <QObject>

#include <cstdint>
#include <vector>

class CReadings : public QObject {
    Q_OBJECT
public:
    CReadings(const CListModel &second, const CListModel &minute, const CLimits &limits);

    const CListRows &SecondRows() const { return m_second.Rows(); }
    const CListRows &MinuteRows() const { return m_minute.Rows(); }
    const CLimits &Limits() const { return m_limits; }
    // When the list last showed a new reading (ms since the epoch), 0 never.
    qint64 SecondReadTime() const { return m_nSecondReadTime; }
    qint64 MinuteReadTime() const { return m_nMinuteReadTime; }

    // The list shows the reading already when it is taken.
    void TakeSecondRead(qint64 nMsecs, const std::vector<std::int32_t> &raw, bool bTick);
    void TakeMinuteRead(qint64 nMsecs);

signals:
    // The Секунда list shows a new reading, read at nMsecs; raw holds the
    // values as the meter sent them. bTick: a tick of continuous reading.
    void SecondRead(qint64 nMsecs, const std::vector<std::int32_t> &raw, bool bTick);
    void MinuteRead(qint64 nMsecs);
    // A tick of continuous reading got no reading (the list keeps the last).
    void SecondTickFailed(qint64 nMsecs);

private:
    const CListModel &m_second;
    const CListModel &m_minute;
    const CLimits &m_limits;
    qint64 m_nSecondReadTime = 0;
    qint64 m_nMinuteReadTime = 0;
};
