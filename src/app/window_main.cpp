// varik: the operator's window. --port PATH adds a device the system does not
// report (may be repeated); --demo starts a simulated meter on a
// pseudo-terminal, lists and selects it and fills in its device number.
#include "window/app_title.h"
#include "sim/meter_sim.h"
#include "window/qt_translations.h"
#include "window/varik_dlg.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>

#include <cstring>

namespace {

const QCommandLineOption kDemo(QStringLiteral("demo"),
                               QStringLiteral("Start a simulated meter and select it (device number 1)."));
const QCommandLineOption kPort(QStringLiteral("port"), QStringLiteral("Offer this serial device too; may be repeated."),
                               QStringLiteral("PATH"));

void DescribeOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QStringLiteral("Varik reads a power-quality meter over a serial line."));
    QCoreApplication::setApplicationVersion(QStringLiteral(VARIK_VERSION));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(kDemo);
    parser.addOption(kPort);
}

// Help and version need no display: they are answered before the window
// system is set up.
bool AsksForHelp(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i)
        for (const char *p : {"-h", "--help", "-?", "--help-all", "-v", "--version"})
            if (std::strcmp(argv[i], p) == 0)
                return true;
    return false;
}

} // namespace

class CVarikApp : public QApplication {
public:
    using QApplication::QApplication;

    // Runs the window modally; the program ends when it closes.
    int InitInstance();
};

int CVarikApp::InitInstance()
{
    QCommandLineParser parser;
    DescribeOptions(parser);
    parser.process(*this);
    // The command line stays English like the help; what the window shows
    // of Qt's own (file dialogs, standard buttons, context menus) is Russian.
    // Without Qt's translations installed those stay English.
    InstallQtTranslations(*this);

    SWindowSetup setup;
    setup.strTitle = ApplicationTitle();
    setup.extraPorts = parser.values(kPort);

    CMeterSim sim;
    if (parser.isSet(kDemo)) {
        QString strError;
        if (sim.Start(&strError)) {
            setup.extraPorts.append(sim.SlavePath());
            setup.strPort = sim.SlavePath();
            setup.strDeviceNumber = QStringLiteral("1");
        } else {
            QMessageBox::warning(nullptr, setup.strTitle,
                                 QStringLiteral("Не удалось запустить демонстрационный прибор:\n") + strError);
        }
    }

    CVarikDlg dialog(setup);
    dialog.exec();
    return 0;
}

int main(int argc, char **argv)
{
    if (AsksForHelp(argc, argv)) {
        QCoreApplication core(argc, argv);
        QCommandLineParser parser;
        DescribeOptions(parser);
        parser.process(core); // prints the help or version and ends the process
    }
    CVarikApp app(argc, argv);
    return app.InitInstance();
}
