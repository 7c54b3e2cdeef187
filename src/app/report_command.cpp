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
#include <QTimeZone>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

const char *const kReportUsage =
    "usage: varik-cli report [--from YYYY-MM-DD] [--to YYYY-MM-DD] [--tz ZONE] [--limits FILE]\n"
    "                        [--min-coverage PERCENT] [--title TEXT] [--meter TEXT]\n"
    "                        [--pdf OUT.pdf] [--summary OUT.csv] LOG.csv...";

const QString kFrom = QStringLiteral("from");
const QString kTo = QStringLiteral("to");
const QString kLimits = QStringLiteral("limits");
const QString kTitle = QStringLiteral("title");
const QString kPdf = QStringLiteral("pdf");
const QString kSummary = QStringLiteral("summary");
const QString kZone = QStringLiteral("tz");
const QString kMinCoverage = QStringLiteral("min-coverage");
const QString kMeter = QStringLiteral("meter");

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

// --tz: an IANA id (Europe/Moscow), UTC or a fixed offset (UTC+03:00).
bool ParseZone(const QString &strText, QTimeZone &zone)
{
    // No id is no zone, though Qt takes it for the machine's.
    const QTimeZone given(strText.toUtf8());
    if (strText.isEmpty() || !given.isValid())
        return false;
    zone = given;
    return true;
}

// --min-coverage: a percentage, 0 to 100.
bool ParseCoverage(const QString &strText, double &dPercent)
{
    bool bOk = false;
    const double d = strText.toDouble(&bOk);
    if (!bOk || !(d >= 0.0 && d <= 100.0))
        return false;
    dPercent = d;
    return true;
}

// What a name stands for on the disk: through a symbolic or a hard link,
// the same device and inode. None for a name of nothing yet.
std::optional<std::pair<dev_t, ino_t>> FileIdOf(const QString &strPath)
{
    struct stat st {};
    if (::stat(QFile::encodeName(strPath).constData(), &st) != 0)
        return std::nullopt;
    return std::pair(st.st_dev, st.st_ino);
}

bool SameFile(const QString &strA, const QString &strB)
{
    const auto idA = FileIdOf(strA);
    const auto idB = FileIdOf(strB);
    if (idA || idB)
        return idA == idB;
    return QDir::cleanPath(QFileInfo(strA).absoluteFilePath()) == QDir::cleanPath(QFileInfo(strB).absoluteFilePath());
}

// An output written over a log would destroy what the report is made from,
// and two outputs in one file would leave only the last: refused before
// anything is read or written.
bool OutputsAreSafe(const QString &strPdf, const QString &strSummary, const QStringList &logs)
{
    const std::pair<QString, QString> outputs[] = {{QStringLiteral("--pdf"), strPdf},
                                                   {QStringLiteral("--summary"), strSummary}};
    for (const auto &[strOption, strOutput] : outputs) {
        if (strOutput.isEmpty())
            continue;
        for (const QString &strLog : logs) {
            if (SameFile(strOutput, strLog)) {
                Tell(QStringLiteral("%1 %2 - тот же файл, что и журнал %3; журнал не перезаписывается")
                         .arg(strOption, QDir::toNativeSeparators(strOutput), QDir::toNativeSeparators(strLog)));
                return false;
            }
        }
    }
    if (!strPdf.isEmpty() && !strSummary.isEmpty() && SameFile(strPdf, strSummary)) {
        Tell(QStringLiteral("--pdf %1 и --summary %2 - один и тот же файл")
                 .arg(QDir::toNativeSeparators(strPdf), QDir::toNativeSeparators(strSummary)));
        return false;
    }
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
    switch (eFailure) {
    case EReportFailure::NotALog:
    case EReportFailure::BadPeriod:
    case EReportFailure::SemicolonSeparated:
    case EReportFailure::DecimalCommas:
    case EReportFailure::NoReadableRow:
        return 2;
    case EReportFailure::None:
    case EReportFailure::LogUnreadable:
    case EReportFailure::Cancelled:
        break;
    }
    return 1;
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

// What the PDF says about itself beside the verdicts.
SReportDocument DocumentOf(const QCommandLineParser &parser, const QStringList &logs, const QTimeZone &zone)
{
    SReportDocument document;
    document.strTitle = parser.value(kTitle);
    document.strMeter = parser.isSet(kMeter) ? parser.value(kMeter) : ReportTitleOf(logs);
    const QString strLimits = parser.value(kLimits);
    document.strLimitsFile = strLimits.isEmpty() ? WindowLimitsPath() : strLimits;
    document.logs = logs;
    document.made = QDateTime::currentDateTime().toTimeZone(zone);
    document.strVersion = QStringLiteral(VARIK_VERSION);
    return document;
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
        {kZone, QStringLiteral("report: the time zone of the dates, the weeks and the period, an IANA id "
                               "(Europe/Moscow), UTC or UTC+03:00 (default: the machine's)."),
         QStringLiteral("ZONE")},
        {kMinCoverage, QStringLiteral("report: the share of a week's 10-minute intervals, 0 to 100, that must "
                                      "be valid for a verdict (default 90)."),
         QStringLiteral("PERCENT")},
        {kTitle, QStringLiteral("report: the title the PDF is headed with (default: the meter)."),
         QStringLiteral("TEXT")},
        {kMeter, QStringLiteral("report: the meter the PDF names (default: the logs' folder, or varikd's "
                                "folder of the meter)."),
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
    if (parser.isSet(kZone) && !ParseZone(parser.value(kZone), request.zone))
        return Usage(QStringLiteral("--tz takes a time zone: an IANA id such as Europe/Moscow, UTC or UTC+03:00; "
                                    "not \"%1\"")
                         .arg(parser.value(kZone)));
    if (parser.isSet(kMinCoverage) && !ParseCoverage(parser.value(kMinCoverage), request.dMinCoverage))
        return Usage(
            QStringLiteral("--min-coverage takes a percentage, 0 to 100; not \"%1\"").arg(parser.value(kMinCoverage)));
    const QString strPdf = parser.value(kPdf);
    const QString strSummary = parser.value(kSummary);
    if (!OutputsAreSafe(strPdf, strSummary, logs))
        return 2;
    if (!strPdf.isEmpty() && !writePdf)
        return HandOverToReportProgram(args);
    if (!LoadLimits(parser.value(kLimits), request.limits))
        return 1;

    const SReportOutcome outcome = MakeReport(request);
    if (outcome.eFailure != EReportFailure::None) {
        Tell(outcome.strError);
        return ExitCodeOf(outcome.eFailure);
    }
    if (strSummary.isEmpty() && strPdf.isEmpty()) {
        Print(stdout, ReportTextTable(outcome.report));
        return 0;
    }
    TellBadRows(outcome.report);
    if (!strSummary.isEmpty() && !WriteSummary(strSummary, outcome.report))
        return 1;
    if (!strPdf.isEmpty()) {
        QString strError;
        if (!writePdf(outcome.report, DocumentOf(parser, logs, request.zone), strPdf, strError)) {
            Tell(strError);
            return 1;
        }
    }
    return 0;
}
