#include "report/report_pdf.h"

#include "files/file_output.h"
#include "report/report_plots.h"
#include "report/report_text.h"

#include <qcustomplot.h>

#include <QBuffer>
#include <QDir>
#include <QPdfWriter>

#include <cerrno>
#include <cstring>

namespace {

// The page is painted at 72 units an inch: every length here is in points.
constexpr int POINTS_PER_INCH = 72;
constexpr double MARGIN = 42.0;
constexpr double FOOTER_GAP = 18.0; // from the text's bottom to the footer
constexpr double PLOT_HEIGHT = 300.0;
constexpr double ROW_HEIGHT = 10.0;

QFont TextFont(double dPoints, bool bBold = false)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(dPoints);
    font.setBold(bBold);
    return font;
}

const QColor FAILED_BACKGROUND(0xfb, 0xd5, 0xd5);
const QColor FAILED_TEXT(0xa0, 0x00, 0x00);
const QColor GROUP_BACKGROUND(0xe8, 0xe8, 0xe8);
const QColor QUIET_TEXT(0x70, 0x70, 0x70);

// The pages of the document as they fill: where the next line goes, and a
// new page with its footer when what comes does not fit.
class CReportPages {
public:
    CReportPages(QPdfWriter &writer, QCPPainter &painter, QString strFooter)
        : m_writer(writer), m_painter(painter), m_strFooter(std::move(strFooter))
    {
        const QRectF page = QRectF(writer.pageLayout().fullRectPoints());
        m_content = page.adjusted(MARGIN, MARGIN, -MARGIN, -MARGIN - FOOTER_GAP);
        m_dY = m_content.top();
        Footer();
    }

    QCPPainter &Painter() { return m_painter; }
    double Left() const { return m_content.left(); }
    double Width() const { return m_content.width(); }
    double Y() const { return m_dY; }
    void Advance(double dHeight) { m_dY += dHeight; }

    // True when a new page had to be begun for dHeight.
    bool Need(double dHeight)
    {
        if (m_dY + dHeight <= m_content.bottom() || m_dY == m_content.top())
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

    // Text wrapped to the width of the page; a new page when it does not fit.
    void Paragraph(const QString &strText, const QFont &font, const QColor &colour = Qt::black, double dAfter = 5.0)
    {
        m_painter.setFont(font);
        const QRectF bounds(Left(), 0.0, Width(), 1e6);
        const double dHeight = m_painter.boundingRect(bounds, Qt::TextWordWrap, strText).height();
        Need(dHeight);
        m_painter.setPen(colour);
        m_painter.drawText(QRectF(Left(), m_dY, Width(), dHeight), Qt::TextWordWrap, strText);
        m_dY += dHeight + dAfter;
    }

private:
    void Footer()
    {
        const QRectF line(Left(), m_content.bottom() + FOOTER_GAP, Width(), 12.0);
        m_painter.save();
        m_painter.setFont(TextFont(7));
        m_painter.setPen(QUIET_TEXT);
        m_painter.drawText(line, Qt::AlignLeft | Qt::AlignVCenter, m_strFooter);
        m_painter.drawText(line, Qt::AlignRight | Qt::AlignVCenter, ReportText::Page(m_nPage));
        m_painter.restore();
    }

    QPdfWriter &m_writer;
    QCPPainter &m_painter;
    QString m_strFooter;
    QRectF m_content;
    double m_dY = 0.0;
    int m_nPage = 1;
};

// The verdict table's columns, in points; they fill the page's width.
constexpr double COLUMN_WIDTHS[] = {42, 24, 50, 30, 42, 36, 36, 40, 34, 34, 34, 34, 75};

QStringList RowCells(const SReportRow &row)
{
    const QString strWithin = row.nIntervals > 0
                                  ? ReportText::Number(100.0 * (row.nIntervals - row.nBeyond) / row.nIntervals, 2)
                                  : ReportText::None();
    return {row.strQuantity,
            row.strPhase.isEmpty() ? ReportText::None() : row.strPhase,
            ReportText::Band(row.band),
            QString::number(row.dRequiredShare, 'g', 4),
            QString::number(row.nIntervals),
            QString::number(row.nBeyond),
            row.hardBand ? QString::number(row.nBeyondHard) : ReportText::None(),
            strWithin,
            ReportText::Number(row.dMinimum),
            ReportText::Number(row.dMaximum),
            ReportText::Number(row.dP05),
            ReportText::Number(row.dP95),
            ReportText::Verdict(row.eVerdict)};
}

void Cells(CReportPages &pages, const QStringList &cells, double dHeight, int nFlags)
{
    double dX = pages.Left();
    for (int c = 0; c < cells.size(); ++c) {
        pages.Painter().drawText(QRectF(dX + 1.5, pages.Y(), COLUMN_WIDTHS[c] - 3.0, dHeight), nFlags, cells[c]);
        dX += COLUMN_WIDTHS[c];
    }
}

void TableHeader(CReportPages &pages)
{
    QCPPainter &painter = pages.Painter();
    const double dHeight = 2.5 * ROW_HEIGHT;
    painter.setFont(TextFont(6, true));
    painter.setPen(Qt::black);
    Cells(pages, ReportText::Columns(), dHeight, Qt::AlignCenter | Qt::TextWordWrap);
    painter.setPen(QPen(Qt::black, 0.6));
    painter.drawLine(QPointF(pages.Left(), pages.Y() + dHeight), QPointF(pages.Left() + pages.Width(), pages.Y() + dHeight));
    pages.Advance(dHeight + 1.0);
}

void GroupRow(CReportPages &pages, EQuantityGroup group)
{
    QCPPainter &painter = pages.Painter();
    const QRectF band(pages.Left(), pages.Y(), pages.Width(), ROW_HEIGHT * 1.3);
    painter.fillRect(band, GROUP_BACKGROUND);
    painter.setFont(TextFont(7, true));
    painter.setPen(Qt::black);
    painter.drawText(band.adjusted(2.0, 0.0, 0.0, 0.0), Qt::AlignLeft | Qt::AlignVCenter, ReportText::Group(group));
    pages.Advance(band.height());
}

void TableRow(CReportPages &pages, const SReportRow &row)
{
    QCPPainter &painter = pages.Painter();
    const bool bFailed = row.eVerdict == EVerdict::Fail;
    if (bFailed)
        painter.fillRect(QRectF(pages.Left(), pages.Y(), pages.Width(), ROW_HEIGHT), FAILED_BACKGROUND);
    painter.setFont(TextFont(6.5));
    painter.setPen(bFailed ? FAILED_TEXT : row.eVerdict == EVerdict::NoData ? QUIET_TEXT : Qt::black);
    const QStringList cells = RowCells(row);
    Cells(pages, cells.mid(0, 2), ROW_HEIGHT, Qt::AlignLeft | Qt::AlignVCenter);
    // The numbers line up at the right of their columns.
    double dX = pages.Left() + COLUMN_WIDTHS[0] + COLUMN_WIDTHS[1];
    for (int c = 2; c < cells.size(); ++c) {
        const bool bVerdict = c == cells.size() - 1;
        painter.setFont(TextFont(6.5, bVerdict && bFailed));
        painter.drawText(QRectF(dX + 1.5, pages.Y(), COLUMN_WIDTHS[c] - 3.0, ROW_HEIGHT),
                         (bVerdict ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter, cells[c]);
        dX += COLUMN_WIDTHS[c];
    }
    painter.setPen(QPen(QColor(0xd8, 0xd8, 0xd8), 0.3));
    painter.drawLine(QPointF(pages.Left(), pages.Y() + ROW_HEIGHT),
                     QPointF(pages.Left() + pages.Width(), pages.Y() + ROW_HEIGHT));
    pages.Advance(ROW_HEIGHT);
}

constexpr EQuantityGroup GROUPS[] = {EQuantityGroup::VoltageDeviation, EQuantityGroup::Frequency,
                                     EQuantityGroup::Unbalance, EQuantityGroup::Harmonics,
                                     EQuantityGroup::TotalDistortion};

bool HasGroup(const SSupplyReport &report, EQuantityGroup group)
{
    return std::any_of(report.rows.begin(), report.rows.end(),
                       [group](const SReportRow &row) { return row.eGroup == group; });
}

void VerdictTable(CReportPages &pages, const SSupplyReport &report)
{
    pages.Paragraph(ReportText::VerdictTable(), TextFont(11, true));
    TableHeader(pages);
    for (const EQuantityGroup group : GROUPS) {
        if (!HasGroup(report, group))
            continue;
        // A group's heading never stands alone at the foot of a page.
        if (pages.Need(ROW_HEIGHT * 2.3))
            TableHeader(pages);
        GroupRow(pages, group);
        for (const SReportRow &row : report.rows) {
            if (row.eGroup != group)
                continue;
            if (pages.Need(ROW_HEIGHT))
                TableHeader(pages);
            TableRow(pages, row);
        }
    }
}

void Plots(CReportPages &pages, const SSupplyReport &report)
{
    pages.NewPage();
    pages.Paragraph(ReportText::Plots(), TextFont(11, true));
    for (const EQuantityGroup group : GROUPS) {
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

void Summary(CReportPages &pages, const SSupplyReport &report, const QString &strTitle)
{
    pages.Paragraph(ReportText::Heading(), TextFont(16, true), Qt::black, 6.0);
    if (!strTitle.isEmpty())
        pages.Paragraph(ReportText::Site(strTitle), TextFont(11, true));
    pages.Paragraph(ReportText::Period(report), TextFont(9), Qt::black, 2.0);
    if (!report.bWeek)
        pages.Paragraph(ReportText::NotAWeek(), TextFont(9), FAILED_TEXT, 2.0);
    pages.Paragraph(ReportText::Logs(report.eSet) + QStringLiteral(". ") +
                        ReportText::RowsRead(report.nRowsRead, report.nDuplicateRows),
                    TextFont(9), Qt::black, 2.0);
    pages.Paragraph(ReportText::Intervals(report.nValidIntervals, report.nInvalidIntervals), TextFont(9), Qt::black,
                    2.0);
    if (report.nBadRows > 0) {
        QStringList first;
        for (const SBadRow &bad : report.firstBadRows)
            first << ReportText::BadRow(QDir::toNativeSeparators(bad.strFile), bad.nLine);
        pages.Paragraph(ReportText::BadRows(report.nBadRows, first), TextFont(9), FAILED_TEXT, 2.0);
    }
    const auto count = [&report](EVerdict verdict) {
        return int(std::count_if(report.rows.begin(), report.rows.end(),
                                 [verdict](const SReportRow &row) { return row.eVerdict == verdict; }));
    };
    const int nFailed = count(EVerdict::Fail);
    pages.Advance(4.0);
    pages.Paragraph(ReportText::Overall(nFailed, count(EVerdict::Pass), count(EVerdict::NoData)), TextFont(11, true),
                    nFailed > 0 ? FAILED_TEXT : Qt::black, 8.0);
    pages.Paragraph(ReportText::Indicative(), TextFont(8, true), Qt::black, 4.0);
    pages.Paragraph(ReportText::Rules(), TextFont(8), Qt::black, 12.0);
}

} // namespace

QByteArray SupplyReportPdf(const SSupplyReport &report, const SReportDocument &document)
{
    const QString strTitle = document.strTitle;
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(POINTS_PER_INCH);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF()));
        writer.setTitle(ReportText::DocumentTitle(strTitle));
        writer.setCreator(QStringLiteral("Varik"));
        QCPPainter painter(&writer);
        CReportPages pages(writer, painter, ReportText::DocumentTitle(strTitle));
        Summary(pages, report, strTitle);
        VerdictTable(pages, report);
        Plots(pages, report);
        painter.end();
    }
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
