#include "window/readings.h"

CReadings::CReadings(const CListModel &second, const CListModel &minute, const CLimits &limits)
    : m_second(second),
      m_minute(minute),
      m_limits(limits)
{
}

void CReadings::TakeSecondRead(qint64 nMsecs, const std::vector<std::int32_t> &raw, bool bTick)
{
    m_nSecondReadTime = nMsecs;
    emit SecondRead(nMsecs, raw, bTick);
}

void CReadings::TakeMinuteRead(qint64 nMsecs)
{
    m_nMinuteReadTime = nMsecs;
    emit MinuteRead(nMsecs);
}
