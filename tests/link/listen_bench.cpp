// varik-bench-listen: what the listen after a reply costs an exchange. Not a
// test; prints figures for docs/benchmarks.md. Over a pseudo-terminal to the simulated
// meter, at 9600 and 115200 bit/s:
//   1. the listen on a quiet line, the whole cost a behaving meter pays after
//      each data reply (and after an unlock answer without a tail byte);
//   2. an unlock whose answer comes at the line's rate, without and with
//      the tail byte (the listen ends as that byte comes);
//   3. a whole minute read, unlock first, for scale.
//   varik-bench-listen [--rounds N]
#include "link/meter_link.h"
#include "link/serial_port.h"
#include "sim/meter_sim.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

constexpr quint16 MINUTE_SIZE = 500;

struct SFigures {
    double dMeanMs = 0;
    double dMaxMs = 0;
};

template <typename F> SFigures Time(int nRounds, F fn)
{
    SFigures figures;
    for (int i = 0; i < nRounds; ++i) {
        QElapsedTimer timer;
        timer.start();
        fn();
        const double dMs = double(timer.nsecsElapsed()) / 1e6;
        figures.dMeanMs += dMs / nRounds;
        figures.dMaxMs = std::max(figures.dMaxMs, dMs);
    }
    return figures;
}

void Print(const char *pWhat, quint32 nRate, const SFigures &f)
{
    std::printf("%-40s %6u bit/s  mean %7.2f ms  max %7.2f ms\n", pWhat, nRate, f.dMeanMs, f.dMaxMs);
}

void Bench(CMeterSim &sim, quint32 nRate, int nRounds)
{
    const int nWindowMs = CMeterLink::LateByteWindowMs(nRate);
    std::printf("window at %u bit/s: %d ms\n", nRate, nWindowMs);

    CSerialPort port;
    if (!port.Open(sim.SlavePath(), nRate)) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(sim.SlavePath()));
        return;
    }
    quint8 nByte = 0;
    Print("listen, quiet line", nRate, Time(nRounds, [&] { port.Listen(&nByte, 1, nWindowMs); }));
    port.Close();

    // Answers at the line's rate; with the tail byte the listen ends as it
    // comes, a byte time after the answer, without it the window runs out.
    CMeterLink link(std::make_unique<CSerialPort>());
    link.SetPortName(sim.SlavePath());
    link.SetBaudRate(qint32(nRate));
    link.SetDeviceNumber(1);
    for (const bool bTail : {false, true}) {
        sim.ChangeBehaviour([bTail](SMeterBehaviour &b) {
            b.aPasswords[0] = "2222";
            b.bTailByte = bTail;
            b.bPaced = true;
        });
        Print(bTail ? "unlock, paced answer, tail byte" : "unlock, paced answer, no tail byte", nRate,
              Time(nRounds, [&] { link.Unlock(false, QStringLiteral("2222")); }));
    }

    sim.ChangeBehaviour([](SMeterBehaviour &b) {
        b.bTailByte = false;
        b.bPaced = false;
    });
    quint8 aReply[MINUTE_SIZE];
    Print("minute read, not paced", nRate, Time(nRounds, [&] {
              quint16 nLength = MINUTE_SIZE;
              link.Exchange(CMD_READ_MINUTE, 1, aReply, &nLength, nullptr, 0);
          }));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption rounds(QStringLiteral("rounds"), QStringLiteral("Rounds of each measure."),
                                    QStringLiteral("n"), QStringLiteral("50"));
    parser.addOption(rounds);
    parser.process(app);
    const int nRounds = std::max(1, parser.value(rounds).toInt());

    CMeterSim sim;
    QString strError;
    if (!sim.Start(&strError)) {
        std::fprintf(stderr, "%s\n", qPrintable(strError));
        return 1;
    }
    for (const quint32 nRate : {115200u, 9600u})
        Bench(sim, nRate, nRounds);
    return 0;
}
