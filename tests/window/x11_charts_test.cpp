// Where the chart window opens, on a real X server under openbox, as the
// operator opens it: a read, then Ctrl+G. It opens whole on the screen, on
// top of the main window, beside it where the screen has room for both, and
// the keys stay with the main window. Run on a screen of 1280x900 and on a
// wide one, where the main window stands at the left edge; skips when
// xvfb-run, xdotool, openbox or import is missing. The picture goes next to
// the test program: x11_charts_<width>x<height>.png.
#include "window/charts_dlg.h"
#include "x11_operator.h"

#include <QScreen>

namespace {

// The window manager's stacking order, bottom first (client windows).
QList<WId> Stacking()
{
    QProcess query;
    query.start(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_CLIENT_LIST_STACKING")});
    if (!query.waitForFinished(3000))
        return {};
    const QString strOut = QString::fromLatin1(query.readAllStandardOutput());
    QList<WId> windows;
    for (const QString &strId : strOut.mid(strOut.indexOf(u'#') + 1).split(u',', Qt::SkipEmptyParts))
        windows.append(strId.trimmed().toULongLong(nullptr, 16));
    return windows;
}

// The window that has the keyboard, as the window manager says.
WId ActiveWindow()
{
    QProcess query;
    query.start(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow")});
    if (!query.waitForFinished(3000))
        return 0;
    return query.readAllStandardOutput().trimmed().toULongLong();
}

// Room for `size` whole beside `owner` on `screen`: right, left, below or above.
bool RoomBeside(const QRect &owner, const QSize &size, const QRect &screen)
{
    const bool bTallEnough = size.height() <= screen.height();
    const bool bWideEnough = size.width() <= screen.width();
    return (bTallEnough && (screen.right() - owner.right() >= size.width() || owner.left() - screen.left() >= size.width()))
           || (bWideEnough && (screen.bottom() - owner.bottom() >= size.height() || owner.top() - screen.top() >= size.height()));
}

} // namespace

class CX11ChartsTest : public X11::CWindowFixture {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        const QString strMissing = X11::Missing();
        if (!strMissing.isEmpty())
            QSKIP(qPrintable(strMissing));
        if (QStandardPaths::findExecutable(QStringLiteral("xprop")).isEmpty())
            QSKIP("xprop is missing");
        m_bConfirmAccess = false; // the operator presses Enter
        QVERIFY(StartScreen());
    }

    void init() { QVERIFY(OpenWindow()); }
    void cleanup() { CloseWindow(); }

    void chartsOpenBesideOnTopWithoutTheKeys()
    {
        const QRect screen = m_pWindow->screen()->availableGeometry();
        const bool bWide = screen.width() > 1280;
        if (bWide)
            m_pWindow->move(screen.topLeft());
        QTest::qWait(300); // placed by the window manager

        // Enter, once the access dialog has the keys.
        X11::CPlayer enter;
        QTimer accessWatch;
        connect(&accessWatch, &QTimer::timeout, [&] {
            QWidget *pModal = QApplication::activeModalWidget();
            if (qobject_cast<CAccessDlg *>(pModal) && QApplication::activeWindow() == pModal && enter.Finished()) {
                accessWatch.stop();
                enter.Play(X11::CScript().Key(u"Return"_qs));
            }
        });
        accessWatch.start(50);
        X11::CPlayer player;
        player.Play(X11::CScript().Click(At("m_btnReadSecond")));
        QVERIFY(QTest::qWaitFor([&] { return player.Finished() && enter.Finished() && !m_pWindow->IsBusy(); }, 10000));
        QVERIFY(player.Succeeded() && enter.Succeeded());
        QCOMPARE(Commands(*m_pMeter), (QList<int>{CMD_UNLOCK, CMD_READ_SECOND}));
        QVERIFY(QTest::qWaitForWindowActive(m_pWindow.get()));

        player.Play(X11::CScript().Key(u"ctrl+g"_qs));
        CChartsDlg *pCharts = nullptr;
        QVERIFY(QTest::qWaitFor([&] {
            pCharts = m_pWindow->findChild<CChartsDlg *>();
            return pCharts && pCharts->isVisible() && player.Finished();
        }, 5000));
        QTest::qWait(500); // framed and stacked by the window manager
        X11::Screenshot(QDir(QCoreApplication::applicationDirPath())
                            .filePath(u"x11_charts_%1x%2.png"_qs.arg(screen.width()).arg(screen.height())));

        const QRect main = m_pWindow->frameGeometry();
        const QRect charts = pCharts->frameGeometry();
        qInfo("screen %dx%d, main window %d,%d %dx%d, chart window %d,%d %dx%d", screen.width(), screen.height(),
              main.x(), main.y(), main.width(), main.height(), charts.x(), charts.y(), charts.width(), charts.height());
        QVERIFY(screen.contains(charts));
        const QList<WId> stacking = Stacking();
        QVERIFY(stacking.contains(m_pWindow->winId()));
        QVERIFY(stacking.indexOf(pCharts->winId()) > stacking.indexOf(m_pWindow->winId()));
        QCOMPARE(ActiveWindow(), m_pWindow->winId());
        QCOMPARE(QApplication::activeWindow(), m_pWindow.get());
        if (bWide)
            QVERIFY(RoomBeside(main, charts.size(), screen)); // what this run is for
        if (RoomBeside(main, charts.size(), screen))
            QVERIFY(!main.intersects(charts));
        QCOMPARE(m_boxes, QStringList());
    }
};

int main(int argc, char **argv)
{
    return X11::RunTest<CX11ChartsTest>(argc, argv);
}

#include "x11_charts_test.moc"
