// varik-meter: a simulated meter on a pseudo-terminal, for trying the program
// without the device. Prints the device to open and answers until stopped.
#include "sim/meter_sim.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStringEncoder>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <cerrno>
#include <pthread.h>
#include <unistd.h>

namespace {

// How often the main thread looks whether the meter has hung up its line.
constexpr long WATCH_NS = 200L * 1000 * 1000;

void Fail(const QString &strText)
{
    std::fprintf(stderr, "varik-meter: %s\n", strText.toLocal8Bit().constData());
    std::exit(1);
}

// Passwords go to the meter in the code page of the program's texts.
bool ToWirePassword(const QString &strPassword, QByteArray *pBytes)
{
    QStringEncoder encoder("windows-1251");
    *pBytes = encoder.encode(strPassword);
    return !encoder.hasError();
}

bool ToCount(const QString &strValue, int *pCount)
{
    bool bOk = false;
    const int n = strValue.toInt(&bOk);
    if (bOk && n >= 0)
        *pCount = n;
    return bOk && n >= 0;
}

// A switch of the meter's behaviour: given on its own it applies to every
// meter on the line, given with --fault to one of them.
struct SSwitch {
    const char *pName;
    const char *pValueName; // null for a switch that takes no value
    const char *pHelp;
    bool (*pApply)(SMeterBehaviour &b, const QString &strValue); // false: the value is not acceptable
};

const SSwitch g_aSwitches[] = {
    {"tail", nullptr, "Send one extra byte after the checksum of replies without data.",
     [](SMeterBehaviour &b, const QString &) {
         b.bTailByte = true;
         return true;
     }},
    {"paced", nullptr, "Send replies at the line's baud rate, 10 bits a byte.",
     [](SMeterBehaviour &b, const QString &) {
         b.bPaced = true;
         return true;
     }},
    {"slow-reply", "n", "Send replies without data (echo, unlock answer, status) one byte every <n> ms.",
     [](SMeterBehaviour &b, const QString &v) { return ToCount(v, &b.nSlowReplyMs); }},
    {"silent", nullptr, "Take requests, answer nothing.",
     [](SMeterBehaviour &b, const QString &) {
         b.bSilent = true;
         return true;
     }},
    {"wrong-echo", nullptr, "Echo the connection check with one byte changed.",
     [](SMeterBehaviour &b, const QString &) {
         b.bWrongEcho = true;
         return true;
     }},
    {"busy", nullptr, "Answer every data read with status 7 (busy).",
     [](SMeterBehaviour &b, const QString &) {
         b.nForcedStatus = 7;
         return true;
     }},
    {"password1", "text", "Password of access level 1 (default: empty).",
     [](SMeterBehaviour &b, const QString &v) { return ToWirePassword(v, &b.aPasswords[0]); }},
    {"password2", "text", "Password of access level 2 (default: 2222).",
     [](SMeterBehaviour &b, const QString &v) { return ToWirePassword(v, &b.aPasswords[1]); }},
    {"no-unlock-needed", nullptr, "Serve data reads without an unlocked access level.",
     [](SMeterBehaviour &b, const QString &) {
         b.bRequireUnlock = false;
         return true;
     }},
    {"status", "n", "Answer every data read with status <n> and no data.",
     [](SMeterBehaviour &b, const QString &v) { return ToCount(v, &b.nForcedStatus); }},
    {"locked", "n", "Answer the next <n> data reads with status 15 (locked).",
     [](SMeterBehaviour &b, const QString &v) { return ToCount(v, &b.nLockedReplies); }},
    {"reply-bytes", "n", "Cut every reply after <n> bytes.",
     [](SMeterBehaviour &b, const QString &v) { return ToCount(v, &b.nReplyBytes); }},
    {"hangup-after", "n", "Close the line after <n> bytes of the next reply.",
     [](SMeterBehaviour &b, const QString &v) { return ToCount(v, &b.nHangupAfter); }},
};

const SSwitch *FindSwitch(const QString &strName)
{
    for (const SSwitch &sw : g_aSwitches)
        if (strName == QLatin1String(sw.pName))
            return &sw;
    return nullptr;
}

// Applies a switch, or ends the program saying what was wrong with its value.
// strWhere names it as the user wrote it (--status, --fault 3=status:x: status).
void Apply(const SSwitch &sw, SMeterBehaviour &b, const QString &strValue, const QString &strWhere)
{
    if (sw.pApply(b, strValue))
        return;
    if (QLatin1String(sw.pValueName) == QLatin1String("n"))
        Fail(QStringLiteral("%1 needs a number of 0 or more").arg(strWhere));
    Fail(QStringLiteral("password \"%1\" has characters outside Windows-1251").arg(strValue));
}

// "1,2,7": the device numbers on the line.
QList<quint16> ParseDevices(const QString &strList)
{
    QList<quint16> devices;
    for (const QString &strNumber : strList.split(u',')) {
        bool bOk = false;
        const uint n = strNumber.trimmed().toUInt(&bOk);
        if (!bOk || n < 1 || n > 65535)
            Fail(QStringLiteral("--devices needs device numbers from 1 to 65535 separated by commas, "
                                "such as 1,2,7; not \"%1\"")
                     .arg(strList));
        devices.append(quint16(n));
    }
    return devices;
}

// "7=silent", "3=status:9", "4=password1:abc": a switch for one listed meter.
void ApplyFault(CMeterSim &sim, const QString &strFault)
{
    const QString strWhere = QStringLiteral("--fault ") + strFault;
    const qsizetype nEquals = strFault.indexOf(u'=');
    bool bOk = false;
    const uint nDevice = strFault.left(nEquals).toUInt(&bOk);
    if (nEquals < 0 || !bOk)
        Fail(QStringLiteral("%1: write it as <device>=<switch>, such as 7=silent or 3=status:9").arg(strWhere));
    if (!sim.Devices().contains(nDevice))
        Fail(QStringLiteral("%1: device %2 is not in --devices").arg(strWhere).arg(nDevice));

    const QString strSwitch = strFault.mid(nEquals + 1);
    const qsizetype nColon = strSwitch.indexOf(u':');
    const QString strName = strSwitch.left(nColon);
    const SSwitch *pSwitch = FindSwitch(strName);
    if (!pSwitch)
        Fail(QStringLiteral("%1: no switch \"%2\"; see --help").arg(strWhere, strName));
    if ((nColon >= 0) != (pSwitch->pValueName != nullptr))
        Fail(pSwitch->pValueName
                 ? QStringLiteral("%1: %2 needs a value, as in %3=%2:<%4>")
                       .arg(strWhere, strName)
                       .arg(nDevice)
                       .arg(QLatin1String(pSwitch->pValueName))
                 : QStringLiteral("%1: %2 takes no value").arg(strWhere, strName));
    SMeterBehaviour b = sim.DeviceBehaviour(quint16(nDevice));
    Apply(*pSwitch, b, nColon < 0 ? QString() : strSwitch.mid(nColon + 1),
          QStringLiteral("%1: %2").arg(strWhere, strName));
    sim.ChangeDeviceBehaviour(quint16(nDevice), [&b](SMeterBehaviour &device) { device = b; });
}

// Points strLink at the slave device, replacing an old link but nothing else.
void MakeLink(const QString &strLink, const QString &strTarget)
{
    const QFileInfo info(strLink);
    if (info.isSymLink())
        QFile::remove(strLink);
    else if (info.exists())
        Fail(QStringLiteral("%1 exists and is not a symbolic link").arg(strLink));
    if (::symlink(strTarget.toLocal8Bit().constData(), strLink.toLocal8Bit().constData()) != 0)
        Fail(QStringLiteral("cannot link %1: %2").arg(strLink, QString::fromLocal8Bit(std::strerror(errno))));
}

} // namespace

int main(int argc, char **argv)
{
    // Taken by sigtimedwait below; blocked before the meter's thread starts
    // so that it inherits the mask and never receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("varik-meter"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VARIK_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A simulated power-quality meter on a pseudo-terminal.\n"
        "Prints the device to open as the first line, then answers the meter protocol\n"
        "until interrupted (Ctrl+C or SIGTERM)."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption link(QStringLiteral("link"),
                                  QStringLiteral("Make <path> a symbolic link to the device (removed on exit)."),
                                  QStringLiteral("path"));
    const QCommandLineOption log(QStringLiteral("log"),
                                 QStringLiteral("Write every frame in (<-) and out (->) as hex to standard error."));
    const QCommandLineOption devices(
        QStringLiteral("devices"),
        QStringLiteral("Be a bus of meters with these device numbers, such as 1,2,7, each with its own values, "
                       "access level and faults. A request to any other number gets no answer. Without it, one "
                       "meter answers every number."),
        QStringLiteral("list"));
    const QCommandLineOption fault(
        QStringLiteral("fault"),
        QStringLiteral("Play one of the switches below on the listed device <n> only, written <n>=<switch> or "
                       "<n>=<switch>:<value>, such as 7=silent, 2=busy, 3=status:9 or 4=password1:abc. May be "
                       "given again. The switches given on their own apply to every device."),
        QStringLiteral("n=switch"));
    parser.addOptions({link, log, devices, fault});
    QList<QCommandLineOption> switchOptions;
    for (const SSwitch &sw : g_aSwitches)
        switchOptions.append(sw.pValueName ? QCommandLineOption(QLatin1String(sw.pName), QLatin1String(sw.pHelp),
                                                                QLatin1String(sw.pValueName))
                                           : QCommandLineOption(QLatin1String(sw.pName), QLatin1String(sw.pHelp)));
    parser.addOptions(switchOptions);
    parser.process(app);

    SMeterBehaviour behaviour;
    for (int i = 0; i < switchOptions.size(); ++i)
        if (parser.isSet(switchOptions[i]))
            Apply(g_aSwitches[i], behaviour, parser.value(switchOptions[i]),
                  QStringLiteral("--") + QLatin1String(g_aSwitches[i].pName));

    CMeterSim sim;
    sim.SetBehaviour(behaviour);
    if (parser.isSet(devices))
        sim.SetDevices(ParseDevices(parser.value(devices)));
    for (const QString &strFault : parser.values(fault))
        ApplyFault(sim, strFault);
    sim.SetLogFrames(parser.isSet(log));
    QString strError;
    if (!sim.Start(&strError))
        Fail(strError);

    const QString strLink = parser.value(link);
    if (!strLink.isEmpty())
        MakeLink(strLink, sim.SlavePath());

    std::printf("%s\n", sim.SlavePath().toLocal8Bit().constData());
    std::fflush(stdout);

    // Until a stop signal, or until the meter hung up its line on purpose.
    const timespec watch{0, WATCH_NS};
    while (sim.IsRunning()) {
        if (sigtimedwait(&stopSignals, nullptr, &watch) >= 0)
            break;
    }
    if (!sim.IsRunning())
        std::fprintf(stderr, "varik-meter: line closed\n");

    sim.Stop();
    if (!strLink.isEmpty())
        QFile::remove(strLink);
    return 0;
}
