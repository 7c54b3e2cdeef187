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

struct SIntOption {
    const char *pName;
    const char *pHelp;
    int SMeterBehaviour::*pField;
};

const SIntOption g_aIntOptions[] = {
    {"status", "Answer every data read with status <n> and no data.", &SMeterBehaviour::nForcedStatus},
    {"locked", "Answer the next <n> data reads with status 15 (locked).", &SMeterBehaviour::nLockedReplies},
    {"reply-bytes", "Cut every reply after <n> bytes.", &SMeterBehaviour::nReplyBytes},
    {"hangup-after", "Close the line after <n> bytes of the next reply.", &SMeterBehaviour::nHangupAfter},
};

void Fail(const QString &strText)
{
    std::fprintf(stderr, "varik-meter: %s\n", strText.toLocal8Bit().constData());
    std::exit(1);
}

// Passwords go to the meter in the code page of the program's texts.
QByteArray WirePassword(const QString &strPassword)
{
    QStringEncoder encoder("windows-1251");
    QByteArray bytes = encoder.encode(strPassword);
    if (encoder.hasError())
        Fail(QStringLiteral("password \"%1\" has characters outside Windows-1251").arg(strPassword));
    return bytes;
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
    const QCommandLineOption tail(QStringLiteral("tail"),
                                  QStringLiteral("Send one extra byte after the checksum of replies without data."));
    const QCommandLineOption paced(QStringLiteral("paced"),
                                   QStringLiteral("Send replies at the line's baud rate, 10 bits a byte."));
    const QCommandLineOption silent(QStringLiteral("silent"), QStringLiteral("Take requests, answer nothing."));
    const QCommandLineOption wrongEcho(QStringLiteral("wrong-echo"),
                                       QStringLiteral("Echo the connection check with one byte changed."));
    const QCommandLineOption busy(QStringLiteral("busy"),
                                  QStringLiteral("Answer every data read with status 7 (busy)."));
    const QCommandLineOption password1(QStringLiteral("password1"),
                                       QStringLiteral("Password of access level 1 (default: empty)."),
                                       QStringLiteral("text"));
    const QCommandLineOption password2(QStringLiteral("password2"),
                                       QStringLiteral("Password of access level 2 (default: 2222)."),
                                       QStringLiteral("text"));
    const QCommandLineOption noUnlock(QStringLiteral("no-unlock-needed"),
                                      QStringLiteral("Serve data reads without an unlocked access level."));
    const QCommandLineOption log(QStringLiteral("log"),
                                 QStringLiteral("Write every frame in (<-) and out (->) as hex to standard error."));
    parser.addOptions({link, tail, paced, silent, wrongEcho, busy, password1, password2, noUnlock, log});
    QList<QCommandLineOption> intOptions;
    for (const auto &o : g_aIntOptions)
        intOptions.append(QCommandLineOption(QLatin1String(o.pName), QLatin1String(o.pHelp), QStringLiteral("n")));
    parser.addOptions(intOptions);
    parser.process(app);

    SMeterBehaviour behaviour;
    behaviour.bTailByte = parser.isSet(tail);
    behaviour.bPaced = parser.isSet(paced);
    behaviour.bSilent = parser.isSet(silent);
    behaviour.bWrongEcho = parser.isSet(wrongEcho);
    behaviour.bRequireUnlock = !parser.isSet(noUnlock);
    if (parser.isSet(busy))
        behaviour.nForcedStatus = 7;
    for (int i = 0; i < intOptions.size(); ++i) {
        if (!parser.isSet(intOptions[i]))
            continue;
        bool bOk = false;
        const int n = parser.value(intOptions[i]).toInt(&bOk);
        if (!bOk || n < 0)
            Fail(QStringLiteral("--%1 needs a number of 0 or more").arg(QLatin1String(g_aIntOptions[i].pName)));
        behaviour.*g_aIntOptions[i].pField = n;
    }
    if (parser.isSet(password1))
        behaviour.aPasswords[0] = WirePassword(parser.value(password1));
    if (parser.isSet(password2))
        behaviour.aPasswords[1] = WirePassword(parser.value(password2));

    CMeterSim sim;
    sim.SetBehaviour(behaviour);
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
