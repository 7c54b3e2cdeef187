// CSV logs for the report tests, made in the test: every value "0" unless
// a row names others, times given in UTC with the offset the row shows.
#pragma once

#include "data/csv_log.h"

#include <QByteArray>
#include <QList>

#include <map>
#include <vector>

class CTestLog {
public:
    explicit CTestLog(EDataSet set) : m_bytes(CsvHeader(set))
    {
        m_names = m_bytes.chopped(1).split(',');
        m_names.removeFirst();
    }

    // A row at nUtcSeconds, local time nOffsetSeconds east.
    void Row(qint64 nUtcSeconds, int nOffsetSeconds, const std::map<QByteArray, QByteArray> &values = {})
    {
        std::vector<QByteArray> fields(std::size_t(m_names.size()), QByteArray("0"));
        for (const auto &[name, value] : values)
            fields[std::size_t(m_names.indexOf(name))] = value;
        m_bytes += CsvRow(nUtcSeconds * 1000, nOffsetSeconds, fields);
        ++m_nLines;
    }

    // Any text as a line of its own.
    void Line(const QByteArray &line)
    {
        m_bytes += line + '\n';
        ++m_nLines;
    }

    // The line the next row or line will be on (the header is line 1).
    qint64 NextLine() const { return m_nLines + 1; }
    const QByteArray &Bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
    QList<QByteArray> m_names;
    qint64 m_nLines = 1;
};
