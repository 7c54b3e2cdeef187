// Takes docs/spectrum.png and docs/trend.png: the real chart window beside
// the main window, against a simulated meter, on an X server. Not a test;
// run it under Xvfb:
//   xvfb-run -a -s "-screen 0 1280x900x24" build/tests/window/window_charts_screenshot docs
// The spectrum is of a per-second read whose phase A carries the harmonics
// of a rectifier load, the 11th beyond its limit. The trend is ten minutes of
// the simulated network's per-second values, with half a minute of failed
// reads, fed to the window as continuous reading would.
#include "screenshot_support.h"
#include "data/catalogue.h"
#include "window/charts_dlg.h"
#include "data/decoders.h"
#include "sim/meter_sim.h"
#include "sim/meter_values.h"
#include "window/trend_plot.h"

#include <qcustomplot.h>

#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QtEndian>

#include <cmath>

namespace {

// Where the simulator puts phase A's harmonics and distortion in a
// per-second reply: signed 32-bit values in thousandths.
constexpr int SECOND_HARMONICS_A = 24; // order 2, then 4 bytes an order
constexpr int SECOND_KU_A = 960;

QByteArray RectifierSecondData(double t)
{
    QByteArray data = SimSecondData(t);
    const struct {
        int nOrder;
        double dPercent;
    } raised[] = {{3, 2.1}, {5, 4.6}, {7, 3.2}, {11, 3.9}, {13, 2.2}, {17, 1.1}, {19, 0.9}};
    for (const auto &r : raised)
        qToLittleEndian(qint32(std::lround(r.dPercent * 1000.0)), data.data() + SECOND_HARMONICS_A + 4 * (r.nOrder - 2));
    double dSquares = 0.0;
    for (int n = 2; n <= 40; ++n) {
        const double d = qFromLittleEndian<qint32>(data.constData() + SECOND_HARMONICS_A + 4 * (n - 2)) / 1000.0;
        dSquares += d * d;
    }
    qToLittleEndian(qint32(std::lround(std::sqrt(dSquares) * 1000.0)), data.data() + SECOND_KU_A);
    return data;
}

// The window (Xvfb has no window manager, so no frame), with a thin border.
bool Shoot(const QWidget &window, const QString &strOut)
{
    return ShootScreen(window.frameGeometry(), strOut,
                       {QStringLiteral("-bordercolor"), QStringLiteral("#888888"), QStringLiteral("-border"),
                        QStringLiteral("1")});
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QDir out(QFileInfo(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".")).absoluteFilePath());
    CScreenshotStage stage;
    if (!stage.Start())
        return 1;
    stage.Meter().ChangeBehaviour(
        [](SMeterBehaviour &behaviour) { behaviour.aFixedData[0] = RectifierSecondData(1800.0); });
    CVarikDlg window(stage.Setup());
    window.move(0, 0);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;

    window.OnCharts();
    CChartsDlg &charts = *window.Charts();
    charts.setGeometry(40, 40, 960, 640);
    {
        const CAccessConfirm confirm;
        QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("m_btnReadSecond")), Qt::LeftButton);
    }
    if (!QTest::qWaitForWindowExposed(&charts))
        return 1;
    charts.raise();
    QTest::qWait(500);
    if (!Shoot(charts, out.filePath(QStringLiteral("spectrum.png"))))
        return 1;

    // Ten minutes of readings ending now, half a minute of them failed.
    CTrendPlot &trend = charts.Trend();
    CListRows rows = SecondListRows();
    const qint64 nNow = QDateTime::currentMSecsSinceEpoch();
    for (int s = 0; s <= 600; ++s) {
        const qint64 nTime = nNow - (600 - s) * 1000;
        if (s >= 370 && s < 400) {
            trend.AppendGap(nTime);
            continue;
        }
        const QByteArray data = SimSecondData(2400.0 + s);
        DecodeSecond(reinterpret_cast<const std::uint8_t *>(data.constData()), std::size_t(data.size()), rows);
        trend.AppendReading(nTime, rows);
    }
    charts.findChild<QTabWidget *>(QStringLiteral("m_tabs"))->setCurrentIndex(1);
    QTest::qWait(500);
    if (!Shoot(charts, out.filePath(QStringLiteral("trend.png"))))
        return 1;
    return 0;
}
