// varik: the operator's window. --port PATH adds a device the system does not
// report (may be repeated); --demo starts a simulated meter on a
// pseudo-terminal, lists and selects it and fills in its device number.
#include "app_title.h"
#include "meter_sim.h"
#include "varik_dlg.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>

class CVarikApp : public QApplication {
public:
    using QApplication::QApplication;

    // Runs the window modally; the program ends when it closes.
    int InitInstance();
};

int CVarikApp::InitInstance()
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Varik reads a power-quality meter over a serial line."));
    parser.addHelpOption();
    const QCommandLineOption demo(QStringLiteral("demo"),
                                  QStringLiteral("Start a simulated meter and select it (device number 1)."));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Offer this serial device too; may be repeated."),
                                  QStringLiteral("PATH"));
    parser.addOption(demo);
    parser.addOption(port);
    parser.process(*this);

    SConsoleSetup setup;
    setup.strTitle = ApplicationTitle();
    setup.extraPorts = parser.values(port);

    CMeterSim sim;
    if (parser.isSet(demo)) {
        QString strError;
        if (sim.Start(&strError)) {
            setup.extraPorts.append(sim.SlavePath());
            setup.strPort = sim.SlavePath();
            setup.strDeviceNumber = QStringLiteral("1");
        } else {
            QMessageBox::warning(nullptr, setup.strTitle,
                                 QStringLiteral("The demo meter could not start: ") + strError);
        }
    }

    CVarikDlg dialog(setup);
    dialog.exec();
    return 0;
}

int main(int argc, char **argv)
{
    CVarikApp app(argc, argv);
    return app.InitInstance();
}
