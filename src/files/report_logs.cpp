// The logs are read in blocks of a megabyte; a row is parsed where it lies
// in the block, and only the columns the report judges are turned into
// numbers. A week of per-second rows is a gigabyte: nothing of a row is kept
// once it has been added to its interval.
#include "files/report_logs.h"

#include "data/csv_log.h"
#include "data/data_set.h"
#include "data/report_intervals.h"
#include "data/supply_events.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>

namespace {

constexpr qint64 BLOCK_BYTES = 1 << 20;
// A row of either list is a few kilobytes: a line as long as a block is no row.
constexpr qint64 MAX_LINE_BYTES = BLOCK_BYTES;
constexpr std::size_t MAX_NAMED_BAD_ROWS = 10;
// What a message shows of a line that is no row.
constexpr qsizetype SHOWN_LINE_CHARS = 60;
// A spreadsheet saving UTF-8 puts this before the first line.
const QByteArray UTF8_BOM = QByteArrayLiteral("\xEF\xBB\xBF");

QString Shown(const QString &strPath)
{
    return QDir::toNativeSeparators(strPath);
}

SReportOutcome Failure(EReportFailure eFailure, const QString &strError)
{
    SReportOutcome outcome;
    outcome.eFailure = eFailure;
    outcome.strError = strError;
    return outcome;
}

SReportOutcome Unreadable(const QString &strPath, const QFile &file)
{
    return Failure(EReportFailure::LogUnreadable,
                   QStringLiteral("%1: файл не читается (%2)").arg(Shown(strPath), file.errorString()));
}

struct SLog {
    QString strPath;
    EDataSet eSet = EDataSet::Minute;
};

// The list whose log the first line heads; none for any other line.
std::optional<EDataSet> ListOfHeader(const QByteArray &firstLine)
{
    for (const EDataSet eSet : {EDataSet::Second, EDataSet::Minute})
        if (firstLine == CsvHeader(eSet))
            return eSet;
    return std::nullopt;
}

// A line as the log's writer wrote it: a log opened and saved again by a
// spreadsheet keeps its rows, but gains a byte order mark before the header
// and a carriage return before each line feed.
QByteArray WithoutSpreadsheetMarks(QByteArray line)
{
    if (line.startsWith(UTF8_BOM))
        line.remove(0, UTF8_BOM.size());
    if (line.endsWith("\r\n"))
        line.remove(line.size() - 2, 1);
    return line;
}

// A number a spreadsheet wrote in a Russian locale: its decimal comma makes
// it a quoted field ("231,5", "-0,35"). The log Varik writes quotes nothing.
bool HasDecimalComma(const QByteArray &line)
{
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    for (qsizetype nQuote = line.indexOf('"'); nQuote >= 0; nQuote = line.indexOf('"', nQuote + 1)) {
        qsizetype i = nQuote + 1;
        if (i < line.size() && (line[i] == '-' || line[i] == '+'))
            ++i;
        const qsizetype nWhole = i;
        while (i < line.size() && isDigit(line[i]))
            ++i;
        if (i == nWhole || i >= line.size() || line[i] != ',')
            continue;
        const qsizetype nFraction = ++i;
        while (i < line.size() && isDigit(line[i]))
            ++i;
        if (i > nFraction && i < line.size() && line[i] == '"')
            return true;
    }
    return false;
}

const char *const kVarikCsv = "отчёт читает журнал CSV, каким его пишет Varik: поля через запятую, числа с точкой";

// Why a file is no log of the report; none when it is one of the list the
// header names.
std::optional<SReportOutcome> RefusalOf(const QString &strPath, const QByteArray &header,
                                        const QByteArray &firstRow)
{
    if (ListOfHeader(header)) {
        if (!HasDecimalComma(firstRow))
            return std::nullopt;
        return Failure(EReportFailure::DecimalCommas,
                       QStringLiteral("%1, строка 2: числа записаны с десятичной запятой, как их сохраняет "
                                      "табличный редактор; %2")
                           .arg(Shown(strPath), QString::fromUtf8(kVarikCsv)));
    }
    if (header.contains(';') && ListOfHeader(QByteArray(header).replace(';', ',')))
        return Failure(EReportFailure::SemicolonSeparated,
                       QStringLiteral("%1: поля разделены «;», как их сохраняет табличный редактор; %2")
                           .arg(Shown(strPath), QString::fromUtf8(kVarikCsv)));
    return Failure(EReportFailure::NotALog,
                   QStringLiteral("%1: не журнал CSV списка «Секунда» или «Минута»: первая строка "
                                  "не заголовок такого журнала")
                       .arg(Shown(strPath)));
}

// Opens every log and reads its header and first row, so that a wrong file
// is told before the long read of the others.
SReportOutcome CheckLogs(const QStringList &paths, std::vector<SLog> &logs, qint64 &nTotalBytes)
{
    const qint64 nLongestHeader = std::max(CsvHeader(EDataSet::Second).size(), CsvHeader(EDataSet::Minute).size());
    for (const QString &strPath : paths) {
        QFile file(strPath);
        if (!file.open(QIODevice::ReadOnly))
            return Unreadable(strPath, file);
        const QByteArray firstLine =
            WithoutSpreadsheetMarks(file.readLine(UTF8_BOM.size() + nLongestHeader + 2));
        const QByteArray firstRow = file.readLine(MAX_LINE_BYTES);
        if (file.error() != QFileDevice::NoError)
            return Unreadable(strPath, file);
        if (std::optional<SReportOutcome> refusal = RefusalOf(strPath, firstLine, firstRow))
            return *refusal;
        const std::optional<EDataSet> set = ListOfHeader(firstLine);
        if (!logs.empty() && *set != logs.front().eSet)
            return Failure(EReportFailure::NotALog,
                           QStringLiteral("%1: журнал списка «%2», а %3 - журнал списка «%4»; отчёт "
                                          "составляется по журналам одного списка")
                               .arg(Shown(strPath), DataSetListName(*set), Shown(logs.front().strPath),
                                    DataSetListName(logs.front().eSet)));
        logs.push_back({strPath, *set});
        nTotalBytes += file.size();
    }
    return {};
}

// The rows of the logs, one at a time, into the intervals of the period,
// and their phase voltages into the events.
class CRowReader {
public:
    CRowReader(EDataSet eSet, const std::vector<SReportRow> &rows, qint64 nFirstInterval, qint64 nEndInterval)
        : m_nFirstInterval(nFirstInterval), m_nEndInterval(nEndInterval), m_tally(Means(rows), SpansOf(eSet, rows)),
          m_events(eSet), m_values(rows.size() + PHASES)
    {
        const QByteArray header = CsvHeader(eSet).chopped(1);
        const QList<QByteArray> names = header.split(',');
        m_nFields = int(names.size());
        m_valueOfField.assign(names.size(), -1);
        for (std::size_t i = 0; i < rows.size(); ++i)
            m_valueOfField[std::size_t(names.indexOf(rows[i].strColumn.toUtf8()))] = int(i);
        // The phase voltages go to the events whether dU is judged or not.
        m_bPhases = true;
        for (std::size_t i = 0; i < PHASES; ++i) {
            const qsizetype nField = names.indexOf(QByteArray("dU") + "ABC"[i]);
            m_bPhases = m_bPhases && nField > 0;
            if (nField > 0 && m_valueOfField[std::size_t(nField)] < 0)
                m_valueOfField[std::size_t(nField)] = int(rows.size() + i);
            m_phaseAt[i] = nField > 0 ? std::size_t(m_valueOfField[std::size_t(nField)]) : 0;
        }
    }

    enum class ETaken { Taken, Duplicate, Outside, Bad };

    // One line without its line feed.
    ETaken Take(const char *p, const char *pEnd)
    {
        const char *pComma = static_cast<const char *>(std::memchr(p, ',', std::size_t(pEnd - p)));
        if (!pComma)
            return ETaken::Bad;
        const std::optional<SLogTime> time = ParseLogTime(std::string_view(p, std::size_t(pComma - p)));
        if (!time)
            return ETaken::Bad;
        const qint64 nInterval = IntervalOf(time->nUtcSeconds);
        if (nInterval < m_nFirstInterval || nInterval >= m_nEndInterval)
            return ETaken::Outside;
        if (!ReadValues(pComma + 1, pEnd))
            return ETaken::Bad;
        if (!m_tally.Add(time->nUtcSeconds, m_values.data()))
            return ETaken::Duplicate;
        if (m_bPhases)
            m_events.Add(time->nUtcSeconds, m_values[m_phaseAt[0]], m_values[m_phaseAt[1]], m_values[m_phaseAt[2]]);
        m_nEarliest = std::min(m_nEarliest, time->nUtcSeconds);
        return ETaken::Taken;
    }

    CIntervalTally &Tally() { return m_tally; }
    const CEventTally &Events() const { return m_events; }
    bool HasRows() const { return !m_tally.Intervals().empty(); }
    qint64 LastInterval() const { return m_tally.Intervals().rbegin()->first; }
    qint64 EarliestSeconds() const { return m_nEarliest; }

private:
    static constexpr std::size_t PHASES = 3;

    static std::vector<EIntervalMean> Means(const std::vector<SReportRow> &rows)
    {
        std::vector<EIntervalMean> means;
        for (const SReportRow &row : rows)
            means.push_back(IntervalMeanOf(row));
        return means;
    }

    // The frequency is judged on 10-second means of a per-second log and on
    // the minute values of a per-minute one.
    static std::optional<SSpans> SpansOf(EDataSet eSet, const std::vector<SReportRow> &rows)
    {
        for (std::size_t i = 0; i < rows.size(); ++i)
            if (rows[i].eGroup == EQuantityGroup::Frequency)
                return SSpans{i, eSet == EDataSet::Second ? 10 : 60};
        return std::nullopt;
    }

    // The fields after the time: as many as the header names, the judged
    // ones and the phase voltages numbers.
    bool ReadValues(const char *p, const char *pEnd)
    {
        int nField = 1;
        for (;;) {
            const char *pFieldEnd = static_cast<const char *>(std::memchr(p, ',', std::size_t(pEnd - p)));
            if (!pFieldEnd)
                pFieldEnd = pEnd;
            if (nField >= m_nFields)
                return false;
            const int nValue = m_valueOfField[std::size_t(nField)];
            if (nValue >= 0) {
                if (!ParseLogNumber(p, pFieldEnd, m_values[std::size_t(nValue)]))
                    return false;
            }
            ++nField;
            if (pFieldEnd == pEnd)
                break;
            p = pFieldEnd + 1;
        }
        return nField == m_nFields;
    }

    qint64 m_nFirstInterval;
    qint64 m_nEndInterval;
    CIntervalTally m_tally;
    CEventTally m_events;
    std::vector<double> m_values; // the judged rows', then the phase voltages not judged
    int m_nFields = 0;
    std::vector<int> m_valueOfField; // into m_values, or -1
    bool m_bPhases = false;          // the log has dUA, dUB and dUC
    std::array<std::size_t, PHASES> m_phaseAt{};
    qint64 m_nEarliest = std::numeric_limits<qint64>::max();
};

class CLogPass {
public:
    CLogPass(CRowReader &reader, SSupplyReport &report, const ReportProgress &progress, qint64 nTotalBytes)
        : m_reader(reader), m_report(report), m_progress(progress), m_nTotalBytes(nTotalBytes),
          m_buffer(std::size_t(BLOCK_BYTES + MAX_LINE_BYTES))
    {
    }

    // Every row of the file after its header; a failure when it cannot be
    // read to its end or the progress asks to stop.
    SReportOutcome Read(const QString &strPath)
    {
        QFile file(strPath);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            return Unreadable(strPath, file);
        m_strPath = strPath;
        m_files.push_back(SFileRows{Shown(strPath), 0, 0, {}});
        m_nLine = 1;
        m_bSkipping = false;
        char *pBuffer = m_buffer.data();
        qint64 nCarried = 0;
        for (;;) {
            const qint64 nRead = file.read(pBuffer + nCarried, BLOCK_BYTES);
            if (nRead < 0)
                return Unreadable(strPath, file);
            if (nRead == 0)
                break;
            m_nBytesRead += nRead;
            const char *pEnd = pBuffer + nCarried + nRead;
            const char *pRest = TakeLines(pBuffer, pEnd);
            nCarried = pEnd - pRest;
            if (!m_bSkipping && nCarried >= MAX_LINE_BYTES) {
                Count(CRowReader::ETaken::Bad, pRest, pRest + SHOWN_LINE_CHARS);
                m_bSkipping = true;
            }
            if (m_bSkipping)
                nCarried = 0;
            std::memmove(pBuffer, pRest, std::size_t(nCarried));
            if (m_progress && !m_progress(m_nBytesRead, m_nTotalBytes))
                return Failure(EReportFailure::Cancelled, QStringLiteral("Отчёт прерван."));
        }
        // A last row without its line feed (a log being written) is still a row.
        if (nCarried > 0 && !m_bSkipping)
            TakeLine(pBuffer, pBuffer + nCarried);
        return {};
    }

    // Whether any line of the logs read so far was a row: with none, a
    // report would judge a period of nothing.
    bool ReadAny() const
    {
        return std::any_of(m_files.begin(), m_files.end(), [](const SFileRows &file) { return file.nRows > 0; });
    }

    // The logs read and the first line of each that is no row; of a year
    // of logs, the first few.
    QString NothingReadText() const
    {
        QString strText = QStringLiteral("Ни одна строка журналов не читается; отчёт не составлен.");
        const std::size_t nNamed = std::min(m_files.size(), MAX_NAMED_BAD_ROWS);
        for (const SFileRows &file : std::span(m_files).first(nNamed)) {
            if (file.nFirstBadLine == 0)
                strText += QStringLiteral("\n%1: после заголовка строк нет").arg(file.strShown);
            else
                strText += QStringLiteral("\n%1, строка %2: %3")
                               .arg(file.strShown, QString::number(file.nFirstBadLine), file.strFirstBad);
        }
        if (m_files.size() > nNamed)
            strText += QStringLiteral("\nи ещё журналов: %1").arg(m_files.size() - nNamed);
        return strText;
    }

private:
    // What one log held: its rows and the first line that is none.
    struct SFileRows {
        QString strShown;
        qint64 nRows = 0; // read, given twice or outside the period
        qint64 nFirstBadLine = 0;
        QString strFirstBad;
    };

    // The whole lines of [p, pEnd); returns where the last, unfinished one starts.
    const char *TakeLines(const char *p, const char *pEnd)
    {
        while (const char *pFeed = static_cast<const char *>(std::memchr(p, '\n', std::size_t(pEnd - p)))) {
            if (m_bSkipping)
                m_bSkipping = false;
            else
                TakeLine(p, pFeed);
            ++m_nLine;
            p = pFeed + 1;
        }
        return p;
    }

    void TakeLine(const char *p, const char *pEnd)
    {
        if (m_nLine == 1) // the header, checked before
            return;
        // A log saved by a spreadsheet ends its lines with CR LF.
        if (pEnd > p && pEnd[-1] == '\r')
            --pEnd;
        Count(m_reader.Take(p, pEnd), p, pEnd);
    }

    // [p, pEnd): the line, for its name where it is the file's first that is
    // no row.
    void Count(CRowReader::ETaken eTaken, const char *p, const char *pEnd)
    {
        SFileRows &file = m_files.back();
        switch (eTaken) {
        case CRowReader::ETaken::Taken:
            ++m_report.nRowsRead;
            ++file.nRows;
            break;
        case CRowReader::ETaken::Duplicate:
            ++m_report.nDuplicateRows;
            ++file.nRows;
            break;
        case CRowReader::ETaken::Bad:
            ++m_report.nBadRows;
            if (m_report.firstBadRows.size() < MAX_NAMED_BAD_ROWS)
                m_report.firstBadRows.push_back({Shown(m_strPath), m_nLine});
            if (file.nFirstBadLine == 0) {
                file.nFirstBadLine = m_nLine;
                file.strFirstBad = ShownLine(p, pEnd);
            }
            break;
        case CRowReader::ETaken::Outside:
            ++file.nRows;
            break;
        }
    }

    static QString ShownLine(const char *p, const char *pEnd)
    {
        const QString strLine = QString::fromUtf8(p, std::min<qsizetype>(pEnd - p, 4 * SHOWN_LINE_CHARS));
        return strLine.size() > SHOWN_LINE_CHARS ? QStringLiteral("«%1…»").arg(strLine.left(SHOWN_LINE_CHARS))
                                                  : QStringLiteral("«%1»").arg(strLine);
    }

    CRowReader &m_reader;
    SSupplyReport &m_report;
    const ReportProgress &m_progress;
    qint64 m_nTotalBytes;
    qint64 m_nBytesRead = 0;
    std::vector<char> m_buffer;
    QString m_strPath;
    std::vector<SFileRows> m_files; // one a log read, the current last
    qint64 m_nLine = 1;
    bool m_bSkipping = false; // within a line too long to be a row
};

qint64 StartOfDayMsecs(QDate day, const QTimeZone &zone)
{
    return day.startOfDay(zone).toMSecsSinceEpoch();
}

// "Europe/Moscow"; a zone of a fixed offset as "UTC+03:00" (Qt names it
// "UTC+03").
QString ZoneName(const QTimeZone &zone)
{
    const QString strId = QString::fromUtf8(zone.id());
    if (!strId.startsWith(QLatin1String("UTC")) || strId.size() <= 3)
        return strId;
    const int nOffset = zone.standardTimeOffset(QDateTime::currentDateTimeUtc());
    const int nMinutes = std::abs(nOffset) / 60;
    return QStringLiteral("UTC%1%2:%3")
        .arg(QLatin1String(nOffset < 0 ? "-" : "+"))
        .arg(nMinutes / 60, 2, 10, QLatin1Char('0'))
        .arg(nMinutes % 60, 2, 10, QLatin1Char('0'));
}

int OffsetAt(qint64 nMsecs, const QTimeZone &zone)
{
    return zone.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(nMsecs, zone));
}

} // namespace

SReportOutcome MakeReport(const SReportRequest &request, const ReportProgress &progress)
{
    if (request.from && request.to && *request.to < *request.from)
        return Failure(EReportFailure::BadPeriod,
                       QStringLiteral("Конец периода (%1) раньше его начала (%2)")
                           .arg(request.to->toString(Qt::ISODate), request.from->toString(Qt::ISODate)));
    std::vector<SLog> logs;
    qint64 nTotalBytes = 0;
    SReportOutcome outcome = CheckLogs(request.logs, logs, nTotalBytes);
    if (outcome.eFailure != EReportFailure::None)
        return outcome;

    SSupplyReport &report = outcome.report;
    report.eSet = logs.empty() ? EDataSet::Minute : logs.front().eSet;
    const QStringList columns = QString::fromUtf8(CsvHeader(report.eSet).chopped(1)).split(u',');
    const std::vector<SReportRow> judged = JudgedRows(columns, request.limits);
    report.limits = request.limits;
    report.dMinCoverage = request.dMinCoverage;
    report.unjudged = UnjudgedOf(report.eSet);
    report.offByChoice = OffByChoice(request.limits);
    const QTimeZone &zone = request.zone;
    report.strTimeZone = ZoneName(zone);

    // Without dates the period is the logs' span, known once they are read.
    qint64 nFirstInterval = std::numeric_limits<qint64>::min();
    qint64 nEndInterval = std::numeric_limits<qint64>::max();
    if (request.from) {
        report.nFromMsecs = StartOfDayMsecs(*request.from, zone);
        nFirstInterval = FirstIntervalFrom(report.nFromMsecs);
    }
    if (request.to) {
        report.nToMsecs = StartOfDayMsecs(request.to->addDays(1), zone);
        nEndInterval = FirstIntervalFrom(report.nToMsecs);
    }

    CRowReader reader(report.eSet, judged, nFirstInterval, nEndInterval);
    CLogPass pass(reader, report, progress, nTotalBytes);
    for (const SLog &log : logs) {
        SReportOutcome read = pass.Read(log.strPath);
        if (read.eFailure != EReportFailure::None)
            return read;
    }
    if (!pass.ReadAny()) {
        outcome.eFailure = EReportFailure::NoReadableRow;
        outcome.strError = pass.NothingReadText();
        return outcome;
    }

    // No row in a period open on one side leaves it empty at the other.
    if (!request.to)
        report.nToMsecs = reader.HasRows() ? (reader.LastInterval() + 1) * INTERVAL_SECONDS * 1000
                          : request.from   ? report.nFromMsecs
                                           : 0;
    QDate firstDay = request.from.value_or(QDate());
    if (!request.from) {
        // Weeks are of the calendar: the first starts at 00:00 of the first row's day.
        firstDay = reader.HasRows()
                       ? QDateTime::fromMSecsSinceEpoch(reader.EarliestSeconds() * 1000, zone).date()
                       : QDateTime::fromMSecsSinceEpoch(report.nToMsecs, zone).date();
        report.nFromMsecs = reader.HasRows() ? StartOfDayMsecs(firstDay, zone) : report.nToMsecs;
    }
    report.nOffsetSeconds = OffsetAt(report.nFromMsecs, zone);
    report.nEndOffsetSeconds = OffsetAt(report.nToMsecs, zone);
    if (report.nFromMsecs < report.nToMsecs)
        report.weeks = WeeksOf(firstDay, report.nToMsecs, zone);
    report.events = reader.Events().Events();
    JudgeWeeks(report, judged, reader.Tally(), reader.Events().FlaggedIntervals());
    return outcome;
}

QString ReportTitleOf(const QStringList &logs)
{
    if (logs.isEmpty())
        return QString();
    QFileInfo folder(QFileInfo(logs.first()).absolutePath());
    for (const EDataSet set : {EDataSet::Second, EDataSet::Minute, EDataSet::Day}) {
        if (folder.fileName() == QLatin1String(DataSetName(set)))
            return QFileInfo(folder.absolutePath()).fileName();
    }
    return folder.fileName();
}
