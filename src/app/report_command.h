// The report command: options, logs and limits in, the summary, the text
// table or the PDF out. varik-cli runs it for "report" and hands a PDF over
// to varik-report, which runs the same function with the writer that draws
// it; this part links no widget or GUI library.
//   varik-cli report [--from DATE] [--to DATE] [--tz ZONE] [--limits FILE]
//                    [--min-coverage PERCENT] [--title TEXT] [--meter TEXT]
//                    [--pdf OUT.pdf] [--summary OUT.csv] LOG.csv...
#pragma once

#include "data/report_document.h"
#include "data/supply_report.h"

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// Writes the report as a PDF to strPath; on failure false and
// strError names the file and the reason.
using PdfWriter = std::function<bool(const SSupplyReport &report, const SReportDocument &document,
                                     const QString &strPath, QString &strError)>;

// --from, --to, --tz, --limits, --min-coverage, --title, --meter, --pdf and
// --summary, for a parser that
// must take a report command line (varik-cli's own, for its help).
QList<QCommandLineOption> ReportOptions();

// args: the whole command line, the program first (QCoreApplication::
// arguments()), the word "report" as the first word that is no option, the
// logs after it; options anywhere. A QCoreApplication must exist.
// Returns the exit code: 0 made (whatever the verdicts), 1 a log or an
// output could not be read or written, 2 bad usage, a file that is no log
// of the Секунда or Минута list, logs without a readable row, or an output
// that is a log or the other output. Messages go to standard error.
// With --pdf and an empty writePdf, the process is replaced by varik-report
// (beside this executable, else in ../libexec/varik/) with the same
// arguments; 1 when it cannot be started.
int RunReportCommand(const QStringList &args, const PdfWriter &writePdf);
