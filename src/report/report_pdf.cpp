#include "report/report_pdf.h"

#include "data/limits_against_standard.h"
#include "data/supply_characteristics.h"
#include "data/supply_events.h"
#include "files/file_output.h"
#include "report/report_plots.h"
#include "report/report_text.h"

#include <qcustomplot.h>

#include <QBuffer>
#include <QDir>
#include <QPdfWriter>

#include <cerrno>
#include <cstring>
#include <map>

namespace {

// The page is painted at 72 units an inch: every length here is in points.
constexpr int POINTS_PER_INCH = 72;
constexpr double MARGIN = 42.0;
constexpr double FOOTER_GAP = 14.0; // from the text's bottom to the footer
constexpr double PLOT_HEIGHT = 300.0;
constexpr double ROW_HEIGHT = 10.0;
// A long list of events would bury the rest; the counts and the dip table
// hold them all.
constexpr std::size_t MAX_EVENTS_LISTED = 200;

QFont TextFont(double dPoints, bool bBold = false)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(dPoints);
    font.setBold(bBold);
    return font;
}

const QColor FAILED_BACKGROUND(0xfb, 0xd5, 0xd5);
const QColor INCOMPLETE_BACKGROUND(0xfd, 0xf0, 0xc8);
const QColor FAILED_TEXT(0xa0, 0x00, 0x00);
const QColor GROUP_BACKGROUND(0xe8, 0xe8, 0xe8);
const QColor QUIET_TEXT(0x70, 0x70, 0x70);
const QColor RULE_COLOUR(0xd8, 0xd8, 0xd8);

// The footer's two lines: what the document is, and when and by what it was
// made beside "Стр. N из M".
struct SFooter {
    QString strTitle;
    QString strMade;
    int nPages = 0; // 0 while the pages are being counted
};

// The pages of the document as they fill: where the next line goes, and a
// new page with its footer when what comes does not fit.
class CReportPages {
public:
    CReportPages(QPdfWriter &writer, QCPPainter &painter, SFooter footer)
        : m_writer(writer), m_painter(painter), m_footer(std::move(footer))
    {
        const QRectF page = QRectF(writer.pageLayout().fullRectPoints());
        m_content = page.adjusted(MARGIN, MARGIN - 8.0, -MARGIN, -MARGIN - FOOTER_GAP);
        m_dY = m_content.top();
        Footer();
    }

    QCPPainter &Painter() { return m_painter; }
    double Left() const { return m_content.left(); }
    double Width() const { return m_content.width(); }
    double Y() const { return m_dY; }
    int PageCount() const { return m_nPage; }
    void Advance(double dHeight) { m_dY += dHeight; }
    bool AtTop() const { return m_dY == m_content.top(); }

    // True when a new page had to be begun for dHeight.
    bool Need(double dHeight)
    {
        if (m_dY + dHeight <= m_content.bottom() || AtTop())
            return false;
        NewPage();
        return true;
    }
    void NewPage()
    {
        m_writer.newPage();
        ++m_nPage;
        m_dY = m_content.top();
        Footer();
    }

    double TextHeight(const QString &strText, const QFont &font)
    {
        m_painter.setFont(font);
        return m_painter.boundingRect(QRectF(Left(), 0.0, Width(), 1e6), Qt::TextWordWrap, strText).height();
    }

    // Text wrapped to the width of the page; a new page when it does not fit.
    void Paragraph(const QString &strText, const QFont &font, const QColor &colour = Qt::black, double dAfter = 5.0)
    {
        const double dHeight = TextHeight(strText, font);
        Need(dHeight);
        m_painter.setFont(font);
        m_painter.setPen(colour);
        m_painter.drawText(QRectF(Left(), m_dY, Width(), dHeight), Qt::TextWordWrap, strText);
        m_dY += dHeight + dAfter;
    }

private:
    void Footer()
    {
        const QRectF line(Left(), m_content.bottom() + FOOTER_GAP, Width(), 9.0);
        m_painter.save();
        m_painter.setFont(TextFont(7));
        m_painter.setPen(QUIET_TEXT);
        m_painter.drawText(line, Qt::AlignLeft | Qt::AlignVCenter, m_footer.strTitle);
        m_painter.drawText(line.translated(0.0, 9.0), Qt::AlignLeft | Qt::AlignVCenter, m_footer.strMade);
        m_painter.drawText(line.translated(0.0, 9.0), Qt::AlignRight | Qt::AlignVCenter,
                           ReportText::Page(m_nPage, m_footer.nPages));
        m_painter.restore();
    }

    QPdfWriter &m_writer;
    QCPPainter &m_painter;
    SFooter m_footer;
    QRectF m_content;
    double m_dY = 0.0;
    int m_nPage = 1;
};

// A table's columns: widths in points that fill the page's width, and which
// of them line up at the right (numbers).
struct STable {
    std::vector<double> widths;
    std::vector<bool> rightAligned;
};

// A cell of this text gives its width to the cell before it.
const QString SPANNED(QChar(0x01));

void Cells(CReportPages &pages, const STable &table, const QStringList &cells, double dHeight, int nFlags,
           bool bAlign = false)
{
    double dX = pages.Left();
    for (std::size_t c = 0; c < std::size_t(cells.size()) && c < table.widths.size(); ++c) {
        double dWidth = table.widths[c];
        std::size_t nLast = c;
        while (nLast + 1 < std::size_t(cells.size()) && nLast + 1 < table.widths.size() &&
               cells[qsizetype(nLast + 1)] == SPANNED)
            dWidth += table.widths[++nLast];
        if (cells[qsizetype(c)] != SPANNED) {
            const int nAlign = bAlign ? (table.rightAligned[c] ? Qt::AlignRight : Qt::AlignLeft) : 0;
            // Text at the left of its cell keeps clear of a number at the
            // right of the cell before.
            const double dInset = bAlign && c > 0 && !table.rightAligned[c] && table.rightAligned[c - 1] ? 6.0 : 1.5;
            pages.Painter().drawText(QRectF(dX + dInset, pages.Y(), dWidth - dInset - 1.5, dHeight), nFlags | nAlign,
                                     cells[qsizetype(c)]);
        }
        dX += dWidth;
        c = nLast;
    }
}

void TableHeader(CReportPages &pages, const STable &table, const QStringList &columns, double dLines = 2.5)
{
    QCPPainter &painter = pages.Painter();
    const double dHeight = dLines * ROW_HEIGHT;
    painter.setFont(TextFont(6, true));
    painter.setPen(Qt::black);
    Cells(pages, table, columns, dHeight, Qt::AlignCenter | Qt::TextWordWrap);
    painter.setPen(QPen(Qt::black, 0.6));
    painter.drawLine(QPointF(pages.Left(), pages.Y() + dHeight),
                     QPointF(pages.Left() + pages.Width(), pages.Y() + dHeight));
    pages.Advance(dHeight + 1.0);
}

void GroupRow(CReportPages &pages, const QString &strText)
{
    QCPPainter &painter = pages.Painter();
    const QRectF band(pages.Left(), pages.Y(), pages.Width(), ROW_HEIGHT * 1.3);
    painter.fillRect(band, GROUP_BACKGROUND);
    painter.setFont(TextFont(7, true));
    painter.setPen(Qt::black);
    painter.drawText(band.adjusted(2.0, 0.0, 0.0, 0.0), Qt::AlignLeft | Qt::AlignVCenter, strText);
    pages.Advance(band.height());
}

// One line of a table, shaded and coloured by its verdict.
void TableLine(CReportPages &pages, const STable &table, const QStringList &cells, EVerdict verdict,
               double dHeight = ROW_HEIGHT, double dPoints = 6.5)
{
    QCPPainter &painter = pages.Painter();
    const bool bFailed = verdict == EVerdict::Fail;
    if (bFailed || verdict == EVerdict::Incomplete)
        painter.fillRect(QRectF(pages.Left(), pages.Y(), pages.Width(), dHeight),
                         bFailed ? FAILED_BACKGROUND : INCOMPLETE_BACKGROUND);
    painter.setFont(TextFont(dPoints, bFailed));
    painter.setPen(bFailed ? FAILED_TEXT : verdict == EVerdict::NoData ? QUIET_TEXT : Qt::black);
    Cells(pages, table, cells, dHeight, Qt::AlignVCenter, true);
    painter.setPen(QPen(RULE_COLOUR, 0.3));
    painter.drawLine(QPointF(pages.Left(), pages.Y() + dHeight),
                     QPointF(pages.Left() + pages.Width(), pages.Y() + dHeight));
    pages.Advance(dHeight);
}

// What the document says about its limits: the bands that differ from
// EN 50160's, by the limits file's names.
struct SLimitsNote {
    std::vector<SBandDifference> differences;
    bool Differs(const QString &strKey) const
    {
        return std::any_of(differences.begin(), differences.end(),
                           [&strKey](const SBandDifference &d) { return d.strKey == strKey; });
    }
    bool Standard() const { return differences.empty(); }
};

QString OptionalBand(const std::optional<SLimitBand> &band)
{
    return band ? ReportText::Band(*band) : ReportText::NoLimit();
}

// A row's band, marked when it is not EN 50160's (its 100 % band counts).
QString MarkedBand(const SReportRow &row, const SLimitsNote &limits)
{
    const bool bDiffers = limits.Differs(row.strQuantity) ||
                          (row.hardBand && limits.Differs(row.strQuantity + QStringLiteral("100")));
    return ReportText::Band(row.band) + (bDiffers ? QStringLiteral(" ") + ReportText::DifferingMark() : QString());
}

// ---- the first page: the verdict a customer reads

const STable CHARACTERISTIC_TABLE{{160, 95, 80, 66, 110}, {false, false, true, true, false}};

QStringList CharacteristicKeys(ECharacteristic characteristic)
{
    switch (characteristic) {
    case ECharacteristic::VoltageVariations:
        return {QStringLiteral("dU"), QStringLiteral("dU100")};
    case ECharacteristic::Frequency:
        return {QStringLiteral("dF"), QStringLiteral("dF100")};
    case ECharacteristic::TotalDistortion:
        return {QStringLiteral("Ku")};
    case ECharacteristic::Unbalance:
        return {QStringLiteral("K2")};
    case ECharacteristic::Harmonics: {
        QStringList keys;
        for (int n = FIRST_HARMONIC_ORDER; n <= LAST_HARMONIC_ORDER; ++n)
            keys << QStringLiteral("Ku%1").arg(n);
        return keys;
    }
    default:
        return {};
    }
}

QStringList CharacteristicCells(const SCharacteristicRow &row, const SLimitsNote &limits)
{
    const QString strName = ReportText::Characteristic(row.eCharacteristic);
    const QString strNone = ReportText::None();
    switch (row.eState) {
    case ECharacteristicState::Counted:
        return {strName, ReportText::EventCounts(row.nInterruptions, row.nDips, row.nSwells), SPANNED,
                ReportText::EventsNotLimited(), ReportText::Counted()};
    case ECharacteristicState::NotJudged:
        if (row.eCharacteristic == ECharacteristic::DipsAndSwells)
            return {strName, ReportText::NotShownPerMinute(), SPANNED, strNone, ReportText::NotJudged()};
        return {strName, strNone, strNone, strNone, ReportText::NotJudged()};
    case ECharacteristicState::OffByChoice:
        return {strName, strNone, strNone, ReportText::NoLimit() + QStringLiteral(" ") + ReportText::DifferingMark(),
                ReportText::NotJudgedByChoice()};
    case ECharacteristicState::Judged:
        break;
    }
    const QStringList keys = CharacteristicKeys(row.eCharacteristic);
    const bool bDiffers = std::any_of(keys.begin(), keys.end(), [&limits](const QString &k) { return limits.Differs(k); });
    const QString strMark = bDiffers ? QStringLiteral(" ") + ReportText::DifferingMark() : QString();
    if (!row.worst)
        return {strName, strNone, strNone, strNone + strMark, ReportText::Verdict(row.eVerdict)};
    return {strName, ReportText::WorstPlace(*row.worst), ReportText::WorstValue(*row.worst),
            ReportText::WorstBound(*row.worst) + strMark, ReportText::Verdict(row.eVerdict)};
}

void CharacteristicTable(CReportPages &pages, const std::vector<SCharacteristicRow> &rows, const SLimitsNote &limits)
{
    TableHeader(pages, CHARACTERISTIC_TABLE, ReportText::CharacteristicColumns(), 1.6);
    for (const SCharacteristicRow &row : rows) {
        const EVerdict shown = row.eState == ECharacteristicState::Judged ? row.eVerdict : EVerdict::Pass;
        TableLine(pages, CHARACTERISTIC_TABLE, CharacteristicCells(row, limits),
                  row.eState == ECharacteristicState::NotJudged || row.eState == ECharacteristicState::OffByChoice
                      ? EVerdict::NoData
                      : shown,
                  ROW_HEIGHT * 1.4, 7.0);
    }
    QStringList partlyOff;
    for (const SCharacteristicRow &row : rows) {
        if (row.eState == ECharacteristicState::Judged)
            partlyOff << row.offByChoice;
    }
    pages.Advance(3.0);
    if (!partlyOff.isEmpty())
        pages.Paragraph(ReportText::OffByChoice(partlyOff), TextFont(7), Qt::black, 2.0);
}

const STable WEEK_TABLE{{40, 125, 60, 60, 60, 60, 106}, {false, false, true, true, true, true, false}};

void WeekTable(CReportPages &pages, const SSupplyReport &report)
{
    TableHeader(pages, WEEK_TABLE, ReportText::WeekColumns(), 1.4);
    for (std::size_t w = 0; w < report.weeks.size(); ++w) {
        const SReportWeek &week = report.weeks[w];
        QString strDates = ReportText::WeekDates(week);
        if (week.bShort)
            strDates += QStringLiteral(" (") + ReportText::Length(week.nToMsecs - week.nFromMsecs) + QStringLiteral(")");
        TableLine(pages, WEEK_TABLE,
                  {ReportText::WeekName(int(w)), strDates, QString::number(week.nIntervals),
                   QString::number(week.nValidIntervals), QString::number(week.nFlaggedIntervals),
                   ReportText::Coverage(week), ReportText::Verdict(week.eVerdict)},
                  week.eVerdict, ROW_HEIGHT * 1.2, 7.0);
    }
    pages.Advance(4.0);
}

QStringList DifferenceTexts(const SLimitsNote &limits)
{
    QStringList texts;
    for (const SBandDifference &d : limits.differences)
        texts << ReportText::DifferingBand(d.strKey, OptionalBand(d.given), OptionalBand(d.standard));
    return texts;
}

void FirstPage(CReportPages &pages, const SSupplyReport &report, const SReportDocument &document,
               const std::vector<SCharacteristicRow> &characteristics, const SLimitsNote &limits)
{
    const QString strTitle = document.strTitle.isEmpty() ? document.strMeter : document.strTitle;
    // The long heading breaks where its sense does, not where the line ends.
    pages.Paragraph(ReportText::Heading(limits.Standard()).replace(QStringLiteral(", "), QStringLiteral(",\n")),
                    TextFont(15, true), Qt::black, 4.0);
    if (!strTitle.isEmpty())
        pages.Paragraph(strTitle, TextFont(12, true), Qt::black, 3.0);
    if (!document.strMeter.isEmpty())
        pages.Paragraph(ReportText::Meter(document.strMeter), TextFont(9), Qt::black, 2.0);
    if (report.weeks.empty()) {
        pages.Paragraph(ReportText::NoPeriod(), TextFont(9), FAILED_TEXT, 2.0);
    } else {
        const SReportWeek &first = report.weeks.front();
        const SReportWeek &last = report.weeks.back();
        pages.Paragraph(ReportText::Period(first.nFromMsecs, first.nOffsetSeconds, last.nToMsecs,
                                           report.nEndOffsetSeconds),
                        TextFont(9), Qt::black, 2.0);
    }
    QString strLogs = ReportText::Logs(report.eSet) + QStringLiteral("; ") + ReportText::FrequencyBasis(report.eSet);
    if (!report.strTimeZone.isEmpty())
        strLogs = ReportText::Zone(report.strTimeZone) + QStringLiteral(". ") + strLogs;
    pages.Paragraph(strLogs + QStringLiteral("."), TextFont(9), Qt::black, 2.0);
    pages.Paragraph(ReportText::LimitsFile(QDir::toNativeSeparators(document.strLimitsFile), limits.Standard()), TextFont(9), Qt::black,
                    6.0);

    const EVerdict verdict = CharacteristicsVerdict(characteristics);
    int nJudged = 0;
    int nFailed = 0;
    for (const SCharacteristicRow &row : characteristics) {
        if (row.eState != ECharacteristicState::Judged || row.eVerdict == EVerdict::NoData)
            continue;
        ++nJudged;
        nFailed += row.eVerdict == EVerdict::Fail ? 1 : 0;
    }
    pages.Paragraph(ReportText::Headline(verdict, nFailed, nJudged), TextFont(12, true),
                    verdict == EVerdict::Fail ? FAILED_TEXT : Qt::black, 6.0);
    CharacteristicTable(pages, characteristics, limits);
    if (!limits.Standard())
        pages.Paragraph(ReportText::DifferingBands(DifferenceTexts(limits)), TextFont(7.5), FAILED_TEXT, 4.0);

    pages.Advance(4.0);
    pages.Paragraph(ReportText::WeeksLine(int(report.weeks.size()), report.dMinCoverage), TextFont(9), Qt::black, 3.0);
    WeekTable(pages, report);
    pages.Paragraph(ReportText::Indicative(), TextFont(8, true), Qt::black, 4.0);
}

// ---- per week

void WeekSection(CReportPages &pages, int nIndex, const SReportWeek &week)
{
    pages.Need(60.0);
    pages.Paragraph(ReportText::WeekHeading(nIndex, week) + QStringLiteral(" — ") + ReportText::Verdict(week.eVerdict),
                    TextFont(10, true), week.eVerdict == EVerdict::Fail ? FAILED_TEXT : Qt::black, 2.0);
    pages.Paragraph(ReportText::WeekCounts(week), TextFont(8), Qt::black, 2.0);
    for (const EVerdict verdict : {EVerdict::Fail, EVerdict::Incomplete, EVerdict::NoData}) {
        QStringList columns;
        for (const SReportRow &row : week.rows) {
            if (row.eVerdict == verdict)
                columns << row.strColumn;
        }
        if (qsizetype(week.rows.size()) == columns.size())
            columns = QStringList{ReportText::EveryRow(columns.size())};
        if (!columns.isEmpty())
            pages.Paragraph(ReportText::WeekRowsOf(ReportText::Verdict(verdict), columns), TextFont(8),
                            verdict == EVerdict::Fail ? FAILED_TEXT : Qt::black, 2.0);
    }
    pages.Advance(6.0);
}

// ---- the tables: every row of a week, the harmonics one line per order

const STable ROW_TABLE{{38, 22, 50, 26, 46, 34, 34, 38, 33, 33, 33, 33, 91},
                       {false, false, true, true, true, true, true, true, true, true, true, true, false}};

QStringList RowCells(const SReportRow &row, const SLimitsNote &limits)
{
    const QByteArray within = WithinText(row);
    return {row.strQuantity,
            row.strPhase.isEmpty() ? ReportText::None() : row.strPhase,
            MarkedBand(row, limits),
            QString::number(row.dRequiredShare, 'g', 4),
            QString::number(row.nIntervals),
            QString::number(row.nBeyond),
            row.hardBand ? QString::number(row.nBeyondHard) : ReportText::None(),
            within.isEmpty() ? ReportText::None() : QString::fromLatin1(within),
            ReportText::Number(row.dMinimum),
            ReportText::Number(row.dMaximum),
            ReportText::Number(row.dP05),
            ReportText::Number(row.dP95),
            ReportText::Verdict(row.eVerdict)};
}

constexpr EQuantityGroup ROW_GROUPS[] = {EQuantityGroup::VoltageDeviation, EQuantityGroup::Frequency,
                                         EQuantityGroup::Unbalance, EQuantityGroup::TotalDistortion};

const STable HARMONIC_TABLE{{40, 46, 42, 42, 42, 42, 42, 42, 66, 107},
                            {false, true, true, true, true, true, true, true, true, false}};
const char *const PHASES[] = {"A", "B", "C", "AB", "BC", "CA"};

// The worse of two verdicts, as a characteristic combines its rows.
EVerdict Worse(EVerdict a, EVerdict b)
{
    const auto rank = [](EVerdict v) {
        return v == EVerdict::Fail ? 3 : v == EVerdict::Incomplete ? 2 : v == EVerdict::NoData ? 1 : 0;
    };
    return rank(a) >= rank(b) ? a : b;
}

void HarmonicTable(CReportPages &pages, const SReportWeek &week, const SLimitsNote &limits)
{
    struct SOrder {
        const SReportRow *phases[6] = {};
    };
    std::map<int, SOrder> orders;
    for (const SReportRow &row : week.rows) {
        if (row.eGroup != EQuantityGroup::Harmonics)
            continue;
        for (int p = 0; p < 6; ++p) {
            if (row.strPhase == QLatin1String(PHASES[p]))
                orders[row.strQuantity.mid(2).toInt()].phases[p] = &row;
        }
    }
    if (orders.empty())
        return;
    pages.Need(ROW_HEIGHT * 6);
    GroupRow(pages, ReportText::Group(EQuantityGroup::Harmonics));
    TableHeader(pages, HARMONIC_TABLE, ReportText::HarmonicColumns(), 2.0);
    for (const auto &[nOrder, order] : orders) {
        QStringList cells{QStringLiteral("Ku%1").arg(nOrder)};
        const SReportRow *pAny = nullptr;
        QString strLeast;
        double dLeast = std::numeric_limits<double>::infinity();
        EVerdict verdict = EVerdict::Pass;
        QStringList p95;
        for (const SReportRow *pRow : order.phases) {
            p95 << (pRow ? ReportText::Number(pRow->dP95) : ReportText::None());
            if (!pRow)
                continue;
            pAny = pRow;
            verdict = Worse(verdict, pRow->eVerdict);
            const QByteArray within = WithinText(*pRow);
            if (!within.isEmpty() && within.toDouble() < dLeast) {
                dLeast = within.toDouble();
                strLeast = QString::fromLatin1(within);
            }
        }
        cells << (pAny ? MarkedBand(*pAny, limits) : ReportText::None()) << p95
              << (strLeast.isEmpty() ? ReportText::None() : strLeast) << ReportText::Verdict(verdict);
        if (pages.Need(ROW_HEIGHT))
            TableHeader(pages, HARMONIC_TABLE, ReportText::HarmonicColumns(), 2.0);
        TableLine(pages, HARMONIC_TABLE, cells, verdict);
    }
}

void RowTables(CReportPages &pages, const SSupplyReport &report, const SLimitsNote &limits)
{
    for (std::size_t w = 0; w < report.weeks.size(); ++w) {
        const SReportWeek &week = report.weeks[w];
        pages.NewPage();
        pages.Paragraph(ReportText::WeekTable(int(w), week), TextFont(11, true));
        TableHeader(pages, ROW_TABLE, ReportText::Columns());
        for (const EQuantityGroup group : ROW_GROUPS) {
            if (std::none_of(week.rows.begin(), week.rows.end(),
                             [group](const SReportRow &row) { return row.eGroup == group; }))
                continue;
            // A group's heading never stands alone at the foot of a page.
            if (pages.Need(ROW_HEIGHT * 2.3))
                TableHeader(pages, ROW_TABLE, ReportText::Columns());
            GroupRow(pages, ReportText::Group(group));
            for (const SReportRow &row : week.rows) {
                if (row.eGroup != group)
                    continue;
                if (pages.Need(ROW_HEIGHT))
                    TableHeader(pages, ROW_TABLE, ReportText::Columns());
                TableLine(pages, ROW_TABLE, RowCells(row, limits), row.eVerdict);
            }
        }
        pages.Advance(6.0);
        HarmonicTable(pages, week, limits);
    }
}

// ---- events

const STable EVENT_TABLE{{120, 80, 100, 60, 80}, {false, false, false, false, true}};

QString Duration(qint64 nMsecs)
{
    if (nMsecs < 60000)
        return QStringLiteral("%1 с").arg(nMsecs / 1000);
    return ReportText::Length(nMsecs) + (nMsecs % 60000 ? QStringLiteral(" %1 с").arg(nMsecs % 60000 / 1000) : QString());
}

void EventsSection(CReportPages &pages, const SSupplyReport &report, const QTimeZone &zone)
{
    pages.NewPage();
    pages.Paragraph(ReportText::Events(), TextFont(11, true));
    if (report.events.empty()) {
        pages.Paragraph(ReportText::NoEvents(), TextFont(8), Qt::black, 6.0);
    } else {
        TableHeader(pages, EVENT_TABLE, ReportText::EventColumns(), 1.4);
        for (std::size_t i = 0; i < report.events.size() && i < MAX_EVENTS_LISTED; ++i) {
            const SSupplyEvent &event = report.events[i];
            const QDateTime start = QDateTime::fromMSecsSinceEpoch(event.nStartMsecs, zone);
            if (pages.Need(ROW_HEIGHT))
                TableHeader(pages, EVENT_TABLE, ReportText::EventColumns(), 1.4);
            TableLine(pages, EVENT_TABLE,
                      {ReportText::LocalTimeWithOffset(event.nStartMsecs, start.offsetFromUtc()),
                       Duration(event.nEndMsecs - event.nStartMsecs), ReportText::EventKind(event.eKind),
                       event.strPhases, ReportText::Number(event.dExtreme, 1)},
                      EVerdict::Pass);
        }
        if (report.events.size() > MAX_EVENTS_LISTED)
            pages.Paragraph(ReportText::EventsLeftOut(qsizetype(report.events.size() - MAX_EVENTS_LISTED)),
                            TextFont(8), Qt::black, 2.0);
        pages.Advance(8.0);
    }

    const SDipTable dips = DipTableOf(report.events, report.eSet);
    const STable dipTable{{86, 85, 85, 85, 85, 85}, {false, true, true, true, true, true}};
    pages.Need(ROW_HEIGHT * 12);
    pages.Paragraph(ReportText::DipTable(), TextFont(10, true), Qt::black, 3.0);
    TableHeader(pages, dipTable, QStringList{QString()} + ReportText::DipDurations(), 1.4);
    const QStringList residuals = ReportText::DipResiduals();
    for (int r = 0; r < DIP_RESIDUAL_BANDS; ++r) {
        QStringList cells{residuals[r]};
        for (int d = 0; d < DIP_DURATION_BANDS; ++d)
            cells << (dips.shown[std::size_t(d)] ? QString::number(dips.counts[std::size_t(r)][std::size_t(d)])
                                                 : ReportText::None());
        TableLine(pages, dipTable, cells, EVerdict::Pass, ROW_HEIGHT * 1.2, 7.0);
    }
    pages.Advance(8.0);

    const SSwellTable swells = SwellTableOf(report.events, report.eSet);
    pages.Need(ROW_HEIGHT * 7);
    pages.Paragraph(ReportText::SwellTable(), TextFont(10, true), Qt::black, 3.0);
    TableHeader(pages, dipTable, QStringList{QString()} + ReportText::DipDurations(), 1.4);
    const QStringList swellBands = ReportText::SwellBands();
    for (int r = 0; r < SWELL_RESIDUAL_BANDS; ++r) {
        QStringList cells{swellBands[r]};
        for (int d = 0; d < DIP_DURATION_BANDS; ++d)
            cells << (swells.shown[std::size_t(d)] ? QString::number(swells.counts[std::size_t(r)][std::size_t(d)])
                                                   : ReportText::None());
        TableLine(pages, dipTable, cells, EVerdict::Pass, ROW_HEIGHT * 1.2, 7.0);
    }
    pages.Advance(3.0);
    pages.Paragraph(ReportText::DipTableNote(report.eSet), TextFont(7.5), QUIET_TEXT, 6.0);
}

// ---- plots

constexpr EQuantityGroup PLOT_GROUPS[] = {EQuantityGroup::VoltageDeviation, EQuantityGroup::Frequency,
                                          EQuantityGroup::Unbalance, EQuantityGroup::Harmonics,
                                          EQuantityGroup::TotalDistortion};

bool HasGroup(const SSupplyReport &report, EQuantityGroup group)
{
    for (const SReportWeek &week : report.weeks) {
        if (std::any_of(week.rows.begin(), week.rows.end(),
                        [group](const SReportRow &row) { return row.eGroup == group; }))
            return true;
    }
    return false;
}

void Plots(CReportPages &pages, const SSupplyReport &report)
{
    pages.NewPage();
    pages.Paragraph(ReportText::Plots(), TextFont(11, true));
    for (const EQuantityGroup group : PLOT_GROUPS) {
        if (!HasGroup(report, group))
            continue;
        pages.Need(PLOT_HEIGHT + 40.0);
        pages.Paragraph(ReportText::Group(group), TextFont(9, true), Qt::black, 2.0);
        PaintGroupPlot(pages.Painter(), QRectF(pages.Left(), pages.Y(), pages.Width(), PLOT_HEIGHT), report, group);
        pages.Advance(PLOT_HEIGHT + 4.0);
        if (group == EQuantityGroup::Harmonics)
            pages.Paragraph(ReportText::HarmonicsNote(), TextFont(7), QUIET_TEXT);
        pages.Advance(10.0);
    }
}

// ---- the last page: where it all came from

void Sources(CReportPages &pages, const SSupplyReport &report, const SReportDocument &document,
             const SLimitsNote &limits)
{
    pages.NewPage();
    pages.Paragraph(ReportText::Sources(), TextFont(11, true));
    pages.Paragraph(ReportText::LimitsFile(QDir::toNativeSeparators(document.strLimitsFile), limits.Standard()), TextFont(8.5), Qt::black,
                    2.0);
    if (!limits.Standard())
        pages.Paragraph(ReportText::DifferingBands(DifferenceTexts(limits)), TextFont(8), FAILED_TEXT, 4.0);
    pages.Paragraph(ReportText::Logs(report.eSet) + QStringLiteral(". ") +
                        ReportText::RowsRead(report.nRowsRead, report.nDuplicateRows),
                    TextFont(8.5), Qt::black, 2.0);
    if (report.nBadRows > 0) {
        QStringList first;
        for (const SBadRow &bad : report.firstBadRows)
            first << ReportText::BadRow(QDir::toNativeSeparators(bad.strFile), bad.nLine);
        pages.Paragraph(ReportText::BadRows(report.nBadRows, first), TextFont(8.5), FAILED_TEXT, 2.0);
    }
    if (!document.logs.isEmpty()) {
        pages.Paragraph(ReportText::LogsRead(), TextFont(8.5), Qt::black, 1.0);
        for (const QString &strLog : document.logs)
            pages.Paragraph(QDir::toNativeSeparators(strLog), TextFont(7.5), Qt::black, 0.5);
    }
    pages.Advance(8.0);
    pages.Paragraph(ReportText::Rules(), TextFont(8), Qt::black, 6.0);
    pages.Paragraph(ReportText::Indicative(), TextFont(8), Qt::black, 4.0);
}

QTimeZone ZoneOf(const SSupplyReport &report)
{
    const QTimeZone zone(report.strTimeZone.toUtf8());
    if (zone.isValid())
        return zone;
    return QTimeZone(report.weeks.empty() ? 0 : report.weeks.front().nOffsetSeconds);
}

// The document painted into buffer; the number of pages it took.
int Paint(const SSupplyReport &report, const SReportDocument &document, int nPages, QBuffer &buffer)
{
    const SLimitsNote limits{BandsDifferingFromStandard(report.limits)};
    const std::vector<SCharacteristicRow> characteristics = SupplyCharacteristics(report);
    const QString strTitle = document.strTitle.isEmpty() ? document.strMeter : document.strTitle;
    QPdfWriter writer(&buffer);
    writer.setResolution(POINTS_PER_INCH);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF()));
    writer.setTitle(ReportText::DocumentTitle(limits.Standard(), strTitle));
    writer.setCreator(QStringLiteral("Varik"));
    QCPPainter painter(&writer);
    CReportPages pages(writer, painter,
                       {ReportText::DocumentTitle(limits.Standard(), strTitle),
                        ReportText::Made(document.made, document.strVersion), nPages});
    FirstPage(pages, report, document, characteristics, limits);
    pages.Advance(10.0);
    pages.Need(80.0);
    pages.Paragraph(ReportText::Weeks(), TextFont(11, true));
    for (std::size_t w = 0; w < report.weeks.size(); ++w)
        WeekSection(pages, int(w), report.weeks[w]);
    RowTables(pages, report, limits);
    EventsSection(pages, report, ZoneOf(report));
    Plots(pages, report);
    Sources(pages, report, document, limits);
    painter.end();
    return pages.PageCount();
}

} // namespace

QByteArray SupplyReportPdf(const SSupplyReport &report, const SReportDocument &document)
{
    // "Стр. N из M" needs M before the first page is drawn: the pages are
    // counted by painting once, then painted with the count.
    QBuffer counting;
    counting.open(QIODevice::WriteOnly);
    const int nPages = Paint(report, document, 0, counting);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    Paint(report, document, nPages, buffer);
    return buffer.data();
}

bool WriteSupplyReportPdf(const SSupplyReport &report, const SReportDocument &document, const QString &strPath,
                          QString &strError)
{
    const QByteArray bytes = SupplyReportPdf(report, document);
    errno = 0;
    if (ReplaceFile(strPath, bytes) == EFileResult::Ok)
        return true;
    const int nError = errno;
    strError = ReportText::WriteFailed(QDir::toNativeSeparators(strPath),
                                       nError != 0 ? QString::fromLocal8Bit(std::strerror(nError))
                                                   : QStringLiteral("ошибка записи"));
    return false;
}
