// Making a supply-quality report from CSV log files: each file read once,
// in pieces, so memory does not grow with the logs' size.
#pragma once

#include "data/supply_limits.h"
#include "data/supply_report.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <QTimeZone>

#include <functional>
#include <optional>

struct SReportRequest {
    QStringList logs;          // in any order; may overlap
    std::optional<QDate> from; // local dates; none: the logs' whole span
    std::optional<QDate> to;
    CLimits limits = CLimits::Defaults();
    // Local dates, weeks and the period are of this zone (--tz, else the
    // machine's).
    QTimeZone zone = QTimeZone::systemTimeZone();
    double dMinCoverage = 90.0; // --min-coverage, %
};

enum class EReportFailure {
    None,
    LogUnreadable, // a missing or unreadable file (varik-cli exits 1)
    NotALog,       // a header of neither list, or logs of both (exit 2)
    BadPeriod,     // --to before --from (exit 2)
    Cancelled,
    // A log a spreadsheet has saved: its own separators or number format
    // in place of the log's (exit 2).
    SemicolonSeparated, // ';' between the header's fields
    DecimalCommas,      // the first row's numbers written with a comma
    NoReadableRow,      // no row of any log could be read (exit 2)
};

struct SReportOutcome {
    EReportFailure eFailure = EReportFailure::None;
    QString strError; // the message, naming the file; empty on success
    SSupplyReport report;
};

// Bytes read so far of the logs' total; returns false to stop (Cancelled).
// Called now and then from the thread MakeReport runs on.
using ReportProgress = std::function<bool(qint64 nRead, qint64 nTotal)>;

SReportOutcome MakeReport(const SReportRequest &request, const ReportProgress &progress = {});

// The meter and its site as the report names them: the first log's folder,
// or the folder above it where that is varikd's folder of a data set
// (/var/lib/varik/<meter>/minute/).
QString ReportTitleOf(const QStringList &logs);
