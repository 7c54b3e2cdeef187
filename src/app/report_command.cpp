#include "app/report_command.h"

#include "files/file_output.h"
#include "files/file_text.h"
#include "files/limits_file.h"
#include "files/report_logs.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace {

const char *const kReportUsage =
    "usage: varik-cli report [--from YYYY-MM-DD] [--to YYYY-MM-DD] [--limits FILE] [--title TEXT]\n"
    "                        [--pdf OUT.pdf] [--summary OUT.csv] LOG.csv...";

const QString kFrom = QStringLiteral("from");
const QString kTo = QStringLiteral("to");
const QString kLimits = QStringLiteral("limits");
const QString kTitle = QStringLiteral("title");
const QString kPdf = QStringLiteral("pdf");
const QString kSummary = QStringLiteral("summary");

void Print(std::FILE *pOut, const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), pOut);
    std::fflush(pOut);
}

void Tell(const QString &strText)
{
    Print(stderr, strText.toUtf8() + '\n');
}

int Usage(const QString &strProblem)
{
    Tell(QCoreApplication::applicationName() + QStringLiteral(": ") + strProblem + u'\n'
         + QLatin1String(kReportUsage));
    return 2;
}

// A date as YYYY-MM-DD and nothing else.
bool ParseDate(const QString &strText, std::optional<QDate> &out)
{
    static const QRegularExpression kDate(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    if (strText.isEmpty())
        return true;
    const QDate date = QDate::fromString(strText, Qt::ISODate);
    if (!kDate.match(strText).hasMatch() || !date.isValid())
        return false;
    out = date;
    return true;
}

// The limits of the report: --limits, else the window's own file (made
// with the defaults when missing, as the window would). Problems in the file
// are warnings: what could not be read keeps its default.
bool LoadLimits(const QString &strGiven, CLimits &limits)
{
    if (!strGiven.isEmpty()) {
        QFile file(strGiven);
        if (!file.open(QIODevice::ReadOnly)) {
            Tell(QStringLiteral("%1: файл не читается (%2)").arg(QDir::toNativeSeparators(strGiven), file.errorString()));
            return false;
        }
    }
    const SLimitsRead read = LoadLimitsFile(strGiven.isEmpty() ? WindowLimitsPath() : strGiven);
    for (const QString &strProblem : read.problems)
        Tell(strProblem);
    limits = read.limits;
    return true;
}

// The program that draws the PDF: beside this one (the build tree), else
// where the package installs it.
QString ReportProgramPath()
{
    const QString strDir = QCoreApplication::applicationDirPath();
    for (const QString &strPath : {strDir + QStringLiteral("/varik-report"),
                                   strDir + QStringLiteral("/../libexec/varik/varik-report")}) {
        const QFileInfo info(strPath);
        if (info.isFile() && info.isExecutable())
            return QDir::cleanPath(info.absoluteFilePath());
    }
    return {};
}

// Replaces this process with varik-report and the same arguments; returns
// only when that failed.
int HandOverToReportProgram(const QStringList &args)
{
    const QString strProgram = ReportProgramPath();
    if (strProgram.isEmpty()) {
        Tell(QStringLiteral("Программа, рисующая отчёт в PDF (varik-report), не найдена ни рядом с %1, ни в "
                            "%2/../libexec/varik/")
                 .arg(QCoreApplication::applicationFilePath(), QCoreApplication::applicationDirPath()));
        return 1;
    }
    std::vector<QByteArray> texts{QFile::encodeName(strProgram)};
    for (qsizetype i = 1; i < args.size(); ++i)
        texts.push_back(QFile::encodeName(args.at(i)));
    std::vector<char *> argv;
    for (QByteArray &text : texts)
        argv.push_back(text.data());
    argv.push_back(nullptr);
    std::fflush(stdout);
    std::fflush(stderr);
    ::execv(argv.front(), argv.data());
    Tell(QStringLiteral("%1: не запускается (%2)").arg(strProgram, QString::fromLocal8Bit(std::strerror(errno))));
    return 1;
}

int ExitCodeOf(EReportFailure eFailure)
{
    return eFailure == EReportFailure::NotALog || eFailure == EReportFailure::BadPeriod ? 2 : 1;
}

// The rows that could not be read, where the report's own output has no
// place for them.
void TellBadRows(const SSupplyReport &report)
{
    for (const SBadRow &bad : report.firstBadRows)
        Tell(QStringLiteral("%1, строка %2: строка журнала не читается и не учтена")
                 .arg(bad.strFile, QString::number(bad.nLine)));
    if (report.nBadRows > qint64(report.firstBadRows.size()))
        Tell(QStringLiteral("Всего не читаются строк журналов: %1").arg(report.nBadRows));
}

bool WriteSummary(const QString &strPath, const SSupplyReport &report)
{
    const EFileResult result = ReplaceFile(strPath, ReportSummaryCsv(report));
    if (result == EFileResult::Ok)
        return true;
    Tell((result == EFileResult::OpenFailed ? FileText::OpenFailed() : FileText::WriteFailed()) + u'\n'
         + QDir::toNativeSeparators(strPath));
    return false;
}

} // namespace

QList<QCommandLineOption> ReportOptions()
{
    return {
        {kFrom, QStringLiteral("report: the first day of the period, YYYY-MM-DD, from 00:00 local time "
                               "(default: the logs' first row)."),
         QStringLiteral("DATE")},
        {kTo, QStringLiteral("report: the last day of the period, YYYY-MM-DD, to its end in local time "
                             "(default: the logs' last row)."),
         QStringLiteral("DATE")},
        {kLimits, QStringLiteral("report: the limits file to judge by (default: the window's, "
                                 "~/.config/varik/limits.txt)."),
         QStringLiteral("FILE")},
        {kTitle, QStringLiteral("report: the meter and site the PDF names (default: the logs' folder)."),
         QStringLiteral("TEXT")},
        {kPdf, QStringLiteral("report: write the report as an A4 PDF to FILE."), QStringLiteral("FILE")},
        {kSummary, QStringLiteral("report: write the verdicts as CSV to FILE."), QStringLiteral("FILE")},
    };
}

int RunReportCommand(const QStringList &args, const PdfWriter &writePdf)
{
    QCommandLineParser parser;
    parser.addOptions(ReportOptions());
    if (!parser.parse(args))
        return Usage(parser.errorText());
    QStringList logs = parser.positionalArguments();
    if (logs.value(0) != QStringLiteral("report"))
        return Usage(QStringLiteral("the command word report is missing"));
    logs.removeFirst();
    if (logs.isEmpty())
        return Usage(QStringLiteral("report needs at least one log"));

    SReportRequest request;
    request.logs = logs;
    if (!ParseDate(parser.value(kFrom), request.from) || !ParseDate(parser.value(kTo), request.to))
        return Usage(QStringLiteral("--from and --to take a date: YYYY-MM-DD"));
    const QString strPdf = parser.value(kPdf);
    if (!strPdf.isEmpty() && !writePdf)
        return HandOverToReportProgram(args);
    if (!LoadLimits(parser.value(kLimits), request.limits))
        return 1;

    const SReportOutcome outcome = MakeReport(request);
    if (outcome.eFailure != EReportFailure::None) {
        Tell(outcome.strError);
        return ExitCodeOf(outcome.eFailure);
    }
    const QString strSummary = parser.value(kSummary);
    if (strSummary.isEmpty() && strPdf.isEmpty()) {
        Print(stdout, ReportTextTable(outcome.report));
        return 0;
    }
    TellBadRows(outcome.report);
    if (!strSummary.isEmpty() && !WriteSummary(strSummary, outcome.report))
        return 1;
    if (!strPdf.isEmpty()) {
        const QString strTitle = parser.isSet(kTitle) ? parser.value(kTitle) : ReportTitleOf(logs);
        SReportDocument document;
        document.strTitle = strTitle;
        QString strError;
        if (!writePdf(outcome.report, document, strPdf, strError)) {
            Tell(strError);
            return 1;
        }
    }
    return 0;
}
