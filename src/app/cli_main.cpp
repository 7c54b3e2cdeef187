// varik-cli: the meter from the command line, with the window's link.
//   varik-cli [options] check
//   varik-cli [options] read second|minute|day [--output FILE] [--encoding utf-8]
//   varik-cli [options] record [--set second|minute|day] [--file FILE] [--csv FILE]
//             [--interval SECONDS] [--count N]
//   varik-cli report [--from DATE] [--to DATE] [--tz ZONE] [--limits FILE]
//             [--min-coverage PERCENT] [--title TEXT] [--meter TEXT]
//             [--pdf OUT.pdf] [--summary OUT.csv] LOG.csv...
#include "app/cli_commands.h"
#include "app/cli_operator.h"
#include "app/report_command.h"
#include "session/meter_session.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

const char *const kUsage =
    "usage: varik-cli --port PATH [--baud RATE] [--device N] [--feeder 1|2] [--level 1|2]\n"
    "                 [--password TEXT] check | read second|minute|day\n"
    "                 | record [--set second|minute|day] [--file FILE] [--csv FILE]\n"
    "                   (--file or --csv at least; --file for second alone)\n"
    "       varik-cli report [--from DATE] [--to DATE] [--tz ZONE] [--limits FILE]\n"
    "                 [--min-coverage PERCENT] [--title TEXT] [--meter TEXT]\n"
    "                 [--pdf OUT.pdf] [--summary OUT.csv] LOG.csv...";

const QStringList kBaudRates = {"110", "300", "600", "1200", "2400", "4800",
                                "9600", "19200", "38400", "57600", "115200"};

int Usage(const QString &strProblem)
{
    std::fprintf(stderr, "varik-cli: %s\n%s\n", strProblem.toUtf8().constData(), kUsage);
    return 2;
}

// "second", "minute" or "day", as the read command and --set name them.
bool ParseSet(const QString &strText, EDataSet &eOut)
{
    for (const EDataSet eSet : {EDataSet::Second, EDataSet::Minute, EDataSet::Day}) {
        if (strText == QLatin1String(DataSetName(eSet))) {
            eOut = eSet;
            return true;
        }
    }
    return false;
}

bool ParseCount(const QString &strText, int nMin, int &nOut)
{
    bool bOk = false;
    const int n = strText.toInt(&bOk);
    if (!bOk || n < nMin)
        return false;
    nOut = n;
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("varik-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VARIK_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Reads a power-quality meter over a serial line, as the Varik window does.\n"
        "\n"
        "Commands:\n"
        "  check                 connection check, then unlock the access level\n"
        "                        (what the button \"Проверка связи\" does)\n"
        "  read second|minute|day\n"
        "                        read one data set and write the whole list, one\n"
        "                        line per row: name, tab, value\n"
        "  record --file FILE    read the per-second values every interval and append\n"
        "                        one record (rows 0 to 6, tab after each, two line\n"
        "                        feeds) to FILE, which must exist\n"
        "  record --csv FILE     read a data set (--set, default second) every interval\n"
        "                        and append one CSV row per successful read to FILE,\n"
        "                        which is created when missing; --file and --csv may\n"
        "                        be given together for the per-second values\n"
        "\n"
        "The CSV log is UTF-8 with LF line ends. A new or empty file first gets a\n"
        "header row: \"time\", then the names of the set's values in list order (the\n"
        "259 of \"Секунда\", the 250 of \"Минута\" or the 1074 of \"Сутки\"). Each\n"
        "row holds the local time of the read in ISO 8601 with its UTC offset\n"
        "(2026-12-10T14:03:07+03:00), then every value exactly as the meter sent it,\n"
        "with a dot whatever the locale: per-second values with three decimals\n"
        "(-1.234), the others with two (-0.05; the day's Tprov and Tper counts\n"
        "divided by 50 exactly, 2.50), the day's work and idle times in seconds\n"
        "(3661). Each row is on the disk before the next read. A failed read writes\n"
        "no row (a --file record keeps the values held); a CSV write error ends the\n"
        "command with exit 1, keeping the rows written. A file that already holds\n"
        "rows is only appended to when its first line is the header of the same\n"
        "set; any other is refused (exit 1) and left as it was.\n"
        "\n"
        "  report LOG.csv...     judge the supply after EN 50160 from CSV logs of the\n"
        "                        Секунда or the Минута list (no port needed): per\n"
        "                        quantity and phase the share of valid 10-minute\n"
        "                        intervals within the band of the limits file, and a\n"
        "                        verdict pass, fail or no data; a short table on\n"
        "                        standard output, or --summary CSV and --pdf A4.\n"
        "                        The period is --from 00:00 to the end of --to (local\n"
        "                        dates), else the logs' span. Rows that cannot be read\n"
        "                        are counted and the first ten named; a missing log\n"
        "                        exits 1; a file that is no such log (also one a\n"
        "                        spreadsheet saved with ';' or decimal commas), logs\n"
        "                        without a readable row, or an output that is a log\n"
        "                        or the other output exit 2, nothing written. CR LF\n"
        "                        line ends and a UTF-8 byte order mark are read as\n"
        "                        they are. The report is indicative: the values are\n"
        "                        polled, not measured by a class A instrument.\n"
        "\n"
        "The access level is unlocked with --level and --password before the first\n"
        "read, as the window's access dialog would. Every failure message prints on\n"
        "standard error and the command exits 1; a question (a refused password)\n"
        "prints its text and is answered No. The success message of an unlock prints\n"
        "on standard output. Exit status: 0 done, 1 failed, 2 bad usage.\n"
        "Options may stand before or after the command words."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("port"), QStringLiteral("Serial device, e.g. /dev/ttyUSB0."), QStringLiteral("PATH")},
        {QStringLiteral("baud"), QStringLiteral("Baud rate: 110, 300, 600, 1200, 2400, 4800, 9600 (default), "
                                                "19200, 38400, 57600 or 115200."),
         QStringLiteral("RATE"), QStringLiteral("9600")},
        {QStringLiteral("device"), QStringLiteral("Device number of the meter, 1 to 65535 (default 1); read "
                                                  "as atoi reads it, so 12abc is 12."),
         QStringLiteral("N"), QStringLiteral("1")},
        {QStringLiteral("feeder"), QStringLiteral("Feeder, 1 (default) or 2; every request of the command carries it."),
         QStringLiteral("1|2"), QStringLiteral("1")},
        {QStringLiteral("level"), QStringLiteral("Access level to unlock, 1 (default) or 2."),
         QStringLiteral("1|2"), QStringLiteral("1")},
        {QStringLiteral("password"), QStringLiteral("Password of that level, at most 8 characters "
                                                    "(default empty)."),
         QStringLiteral("TEXT"), QString()},
        {QStringLiteral("output"), QStringLiteral("read: write the list to FILE instead of standard output; "
                                                  "the file is written only when the read succeeded."),
         QStringLiteral("FILE")},
        {QStringLiteral("encoding"), QStringLiteral("read: windows-1251 (default, the format of every saved "
                                                    "list) or utf-8 (for terminals and pipes)."),
         QStringLiteral("NAME"), QStringLiteral("windows-1251")},
        {QStringLiteral("set"), QStringLiteral("record: the data set read and logged: second (default), "
                                               "minute or day."),
         QStringLiteral("second|minute|day"), QStringLiteral("second")},
        {QStringLiteral("file"), QStringLiteral("record: the recording file of the per-second values; it must "
                                                "exist and is only appended to. Needed unless --csv is "
                                                "given; not with --set minute or day."),
         QStringLiteral("FILE")},
        {QStringLiteral("csv"), QStringLiteral("record: the CSV log of the set; created when missing, else "
                                               "appended to when it starts with the set's header (the header "
                                               "only goes into an empty file)."),
         QStringLiteral("FILE")},
        {QStringLiteral("interval"), QStringLiteral("record: seconds between reads (default 1)."),
         QStringLiteral("SECONDS"), QStringLiteral("1")},
        {QStringLiteral("count"), QStringLiteral("record: stop after N reads (default: run until "
                                                 "interrupted; SIGINT or SIGTERM end it after the current read)."),
         QStringLiteral("N"), QStringLiteral("0")},
    });
    parser.addOptions(ReportOptions());
    if (!parser.parse(QCoreApplication::arguments()))
        return Usage(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(parser.helpText().toUtf8().constData(), stdout);
        return 0;
    }
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion(); // ends the process with 0
    if (parser.positionalArguments().value(0) == QStringLiteral("report"))
        return RunReportCommand(QCoreApplication::arguments(), {});

    SCliLinkOptions opts;
    opts.strPort = parser.value(QStringLiteral("port"));
    if (opts.strPort.isEmpty())
        return Usage(QStringLiteral("--port is required"));
    if (!kBaudRates.contains(parser.value(QStringLiteral("baud"))))
        return Usage(QStringLiteral("--baud must be one of ") + kBaudRates.join(QStringLiteral(", ")));
    opts.nBaudRate = parser.value(QStringLiteral("baud")).toInt();
    opts.strDevice = parser.value(QStringLiteral("device"));
    const QString strFeeder = parser.value(QStringLiteral("feeder"));
    const QString strLevel = parser.value(QStringLiteral("level"));
    if (strFeeder != QStringLiteral("1") && strFeeder != QStringLiteral("2"))
        return Usage(QStringLiteral("--feeder must be 1 or 2"));
    if (strLevel != QStringLiteral("1") && strLevel != QStringLiteral("2"))
        return Usage(QStringLiteral("--level must be 1 or 2"));
    opts.nFeeder = strFeeder.toInt();
    const QString strPassword = parser.value(QStringLiteral("password"));
    if (strPassword.size() > MAX_PASSWORD_LENGTH)
        return Usage(QStringLiteral("--password has at most 8 characters"));

    CCliOperator op(strLevel.toInt() - 1, strPassword);
    CMeterSession session(&op);

    const QStringList words = parser.positionalArguments();
    const QString strCommand = words.value(0);
    if (strCommand == QStringLiteral("check") && words.size() == 1)
        return RunCheck(session, op, opts);

    if (strCommand == QStringLiteral("read") && words.size() == 2) {
        EDataSet set;
        if (!ParseSet(words.at(1), set))
            return Usage(QStringLiteral("read takes second, minute or day"));
        const QString strEncoding = parser.value(QStringLiteral("encoding")).toLower();
        if (strEncoding != QStringLiteral("windows-1251") && strEncoding != QStringLiteral("utf-8"))
            return Usage(QStringLiteral("--encoding must be windows-1251 or utf-8"));
        return RunRead(session, op, opts, set, parser.value(QStringLiteral("output")),
                       strEncoding == QStringLiteral("utf-8"));
    }

    if (strCommand == QStringLiteral("read") && words.size() == 1)
        return Usage(QStringLiteral("read needs a data set: second, minute or day"));

    if (strCommand == QStringLiteral("record") && words.size() == 1) {
        const QString strFile = parser.value(QStringLiteral("file"));
        const QString strCsv = parser.value(QStringLiteral("csv"));
        EDataSet set;
        if (!ParseSet(parser.value(QStringLiteral("set")), set))
            return Usage(QStringLiteral("--set takes second, minute or day"));
        if (strFile.isEmpty() && strCsv.isEmpty())
            return Usage(QStringLiteral("record needs --file FILE or --csv FILE"));
        // A record is the window's: the first rows of the per-second list.
        if (!strFile.isEmpty() && set != EDataSet::Second)
            return Usage(QStringLiteral("--file records the per-second values only; "
                                        "use --csv with --set minute or day"));
        int nInterval = 1;
        int nCount = 0;
        if (!ParseCount(parser.value(QStringLiteral("interval")), 0, nInterval))
            return Usage(QStringLiteral("--interval takes a whole number of seconds"));
        if (!ParseCount(parser.value(QStringLiteral("count")), 0, nCount))
            return Usage(QStringLiteral("--count takes a whole number"));
        return RunRecord(session, op, opts, set, strFile, strCsv, nInterval, nCount);
    }

    return Usage(strCommand.isEmpty() ? QStringLiteral("no command given")
                                      : QStringLiteral("unknown command: ") + words.join(u' '));
}
