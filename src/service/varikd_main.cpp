// varikd: reads the meters of its configuration unattended, line by line,
// into daily CSV logs, until SIGTERM or SIGINT; SIGHUP reads the
// configuration again.
#include "service/journal.h"
#include "service/service.h"
#include "service/service_config.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <systemd/sd-daemon.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>

namespace {

// How often the main thread wakes without a signal at least: the retained
// states are refreshed at its wakes, whatever the watchdog's interval.
constexpr long IDLE_WAKE_MS = 1000;

void PrintLines(std::FILE *pOut, const QStringList &lines)
{
    for (const QString &strLine : lines)
        std::fprintf(pOut, "%s\n", strLine.toUtf8().constData());
}

// Run by hand, so Ctrl+C must end it wherever it is (a description written
// into a pipe nobody reads any more): the signals the service takes itself
// are given back their default here.
int CheckConfig(const QString &strPath, const sigset_t &takenSignals)
{
    pthread_sigmask(SIG_UNBLOCK, &takenSignals, nullptr);
    const SConfigResult result = ReadServiceConfig(strPath);
    PrintLines(stderr, WarningLines(strPath, result.warnings));
    if (!result.Ok()) {
        PrintLines(stderr, ProblemLines(strPath, result.problems));
        return 2;
    }
    PrintLines(stdout, DescribeConfig(result.config));
    return 0;
}

void LogProblems(CJournal &journal, const QString &strPath, const std::vector<SConfigProblem> &problems)
{
    for (const QString &strLine : ProblemLines(strPath, problems))
        journal.Write(EPriority::Error, strLine);
}

void LogWarnings(CJournal &journal, const QString &strPath, const std::vector<SConfigProblem> &warnings)
{
    for (const QString &strLine : WarningLines(strPath, warnings))
        journal.Write(EPriority::Warning, strLine);
}

QString Summary(const SServiceConfig &config)
{
    int nMeters = 0;
    for (const SLineConfig &line : config.lines)
        nMeters += int(line.meters.size());
    const auto count = [](qsizetype n, const char *pOne, const char *pMany) {
        return QString::number(n) + u' ' + QLatin1String(n == 1 ? pOne : pMany);
    };
    return QStringLiteral("%1 on %2, logs in %3")
        .arg(count(nMeters, "meter", "meters"), count(qsizetype(config.lines.size()), "line", "lines"),
             config.strDataDir);
}

// Reads the file again and applies it; a broken file changes nothing.
void Reload(CJournal &journal, CService &service, const QString &strPath)
{
    sd_notify(0, "RELOADING=1");
    const SConfigResult result = ReadServiceConfig(strPath);
    LogWarnings(journal, strPath, result.warnings);
    if (result.Ok()) {
        service.Apply(result.config);
        journal.Write(EPriority::Notice, QStringLiteral("configuration read again: ") + Summary(result.config));
    } else {
        LogProblems(journal, strPath, result.problems);
        journal.Write(EPriority::Error,
                      QStringLiteral("%1 is not used: the configuration read before stays").arg(strPath));
    }
    sd_notify(0, "READY=1");
}

// Runs until SIGTERM or SIGINT. The signals are blocked in every thread and
// taken here, so no worker is ever interrupted by one.
int Serve(const QString &strPath, const sigset_t &takenSignals)
{
    CJournal journal;
    const SConfigResult result = ReadServiceConfig(strPath);
    LogWarnings(journal, strPath, result.warnings);
    if (!result.Ok()) {
        LogProblems(journal, strPath, result.problems);
        return 2;
    }
    CService service(journal);
    service.Apply(result.config);
    journal.Write(EPriority::Info, QStringLiteral("varikd %1 started: %2")
                                       .arg(QStringLiteral(VARIK_VERSION), Summary(result.config)));
    sd_notify(0, "READY=1");

    uint64_t nWatchdogUsec = 0;
    const bool bWatchdog = sd_watchdog_enabled(0, &nWatchdogUsec) > 0 && nWatchdogUsec > 0;
    const long nWakeMs = bWatchdog ? std::min(long(nWatchdogUsec / 2000), IDLE_WAKE_MS) : IDLE_WAKE_MS;
    const timespec wake{nWakeMs / 1000, (nWakeMs % 1000) * 1000000L};
    for (;;) {
        const int nSignal = sigtimedwait(&takenSignals, nullptr, &wake);
        if (nSignal == SIGHUP) {
            Reload(journal, service, strPath);
        } else if (nSignal == SIGTERM || nSignal == SIGINT) {
            sd_notify(0, "STOPPING=1");
            service.Stop();
            journal.Write(EPriority::Info, QStringLiteral("varikd stopped"));
            return 0;
        }
        service.RefreshStates();
        if (bWatchdog)
            sd_notify(0, "WATCHDOG=1");
    }
}

} // namespace

int main(int argc, char *argv[])
{
    // Blocked before any thread starts, so that every thread inherits the
    // mask and only Serve's sigtimedwait takes them.
    sigset_t takenSignals;
    sigemptyset(&takenSignals);
    sigaddset(&takenSignals, SIGTERM);
    sigaddset(&takenSignals, SIGINT);
    sigaddset(&takenSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &takenSignals, nullptr);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("varikd"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VARIK_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Reads power-quality meters on one or more serial lines unattended and logs\n"
        "every reading to daily CSV files, until SIGTERM or SIGINT. SIGHUP reads the\n"
        "configuration again."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption config(QStringLiteral("config"),
                                    QStringLiteral("Run with the configuration <file> (TOML)."),
                                    QStringLiteral("file"));
    const QCommandLineOption checkConfig(
        QStringLiteral("check-config"),
        QStringLiteral("Check <file>, print the lines and meters it would read and exit: 0 when it is "
                       "good, 2 with each problem and its line number when it is not."),
        QStringLiteral("file"));
    parser.addOptions({config, checkConfig});
    parser.process(app);

    if (parser.isSet(checkConfig))
        return CheckConfig(parser.value(checkConfig), takenSignals);
    if (!parser.isSet(config)) {
        std::fprintf(stderr, "varikd: --config FILE or --check-config FILE is needed\n");
        return 2;
    }
    return Serve(parser.value(config), takenSignals);
}
