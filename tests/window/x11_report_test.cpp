// "Отчёт…" on a real X server under openbox, as the operator goes through
// it with the pointer and the keyboard: Qt's own file dialog for two logs,
// the period dialog, the PDF's name in the save dialog; the PDF is written
// and handed to the desktop's opener (xdg-open, here a stand-in that notes
// what it was given). Skips when xvfb-run, xdotool, openbox or import is
// missing. Pictures next to the test program: x11_report_period.png with
// the period dialog over the chart window, x11_report_done.png after.
#include "window/charts_dlg.h"
#include "window/report_period_dlg.h"
#include "x11_operator.h"

#include "data/csv_log.h"
#include "test_files.h"

#include <QFileDialog>
#include <QProgressDialog>
#include <QTimeZone>

#include <functional>

namespace {

QByteArray MinuteLog(const QDateTime &from, int nRows)
{
    const std::vector<QByteArray> values(std::size_t(CsvHeader(EDataSet::Minute).count(',')), QByteArray("0.00"));
    QByteArray bytes = CsvHeader(EDataSet::Minute);
    for (int i = 0; i < nRows; ++i)
        bytes += CsvRow(from.toMSecsSinceEpoch() + qint64(i) * 60000, from.offsetFromUtc(), values);
    return bytes;
}

QString PicturePath(const QString &strName)
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(strName);
}

// One act after another, each once its window has come up: a modal dialog
// runs a loop of its own, so the acts are started from a timer, not from
// the test's code, which waits under that loop.
class CActs : public QObject {
public:
    struct SAct {
        std::function<bool()> fnReady;
        std::function<void()> fnAct;
    };
    explicit CActs(std::vector<SAct> acts) : m_acts(std::move(acts))
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (m_nNext < m_acts.size() && m_player.Finished() && m_acts[m_nNext].fnReady()) {
                QTest::qWait(200); // drawn and given the keys by the window manager
                m_acts[m_nNext++].fnAct();
            }
        });
        m_timer.start(50);
    }
    bool Done() const { return m_nNext == m_acts.size() && m_player.Finished(); }
    bool Succeeded() const { return Done() && m_player.Succeeded(); }
    X11::CPlayer &Player() { return m_player; }

private:
    std::vector<SAct> m_acts;
    std::size_t m_nNext = 0;
    X11::CPlayer m_player;
    QTimer m_timer;
};

template <typename T> T *ActiveModal()
{
    QWidget *pModal = QApplication::activeModalWidget();
    return pModal && QApplication::activeWindow() == pModal ? qobject_cast<T *>(pModal) : nullptr;
}

} // namespace

class CX11ReportTest : public X11::CWindowFixture {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        const QString strMissing = X11::Missing();
        if (!strMissing.isEmpty())
            QSKIP(qPrintable(strMissing));
        QVERIFY(m_opener.isValid());
        // The desktop's opener, found on the PATH when a document is opened.
        const QString strOpener = m_opener.filePath(u"xdg-open"_qs);
        QVERIFY(TestFiles::PutFile(strOpener, "#!/bin/sh\nprintf '%s\\n' \"$@\" >>\"$0.log\"\n"));
        QFile::setPermissions(strOpener, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", QFile::encodeName(m_opener.path()) + ':' + qgetenv("PATH"));
        QVERIFY(StartScreen());
    }

    void init() { QVERIFY(OpenWindow()); }
    void cleanup() { CloseWindow(); }

    void reportThroughTheRealDialogs()
    {
        const QTimeZone zone(3 * 3600);
        QVERIFY(TestFiles::PutFile(u"a.csv"_qs, MinuteLog(QDateTime({2026, 12, 1}, {0, 0}, zone), 120)));
        QVERIFY(TestFiles::PutFile(u"b.csv"_qs, MinuteLog(QDateTime({2026, 12, 7}, {22, 0}, zone), 120)));
        const QString strPdf = QDir::current().filePath(u"report.pdf"_qs);

        X11::CPlayer open;
        open.Play(X11::CScript().Key(u"ctrl+g"_qs));
        CChartsDlg *pCharts = nullptr;
        QVERIFY(QTest::qWaitFor([&] {
            pCharts = m_pWindow->findChild<CChartsDlg *>();
            return pCharts && pCharts->isVisible() && open.Finished();
        }, 5000));
        QTest::qWait(500); // framed by the window manager

        // The boxes are this test's to answer now.
        m_boxWatch.stop();
        SReportPeriod periodShown;
        CActs acts({
            {[] { return ActiveModal<QFileDialog>() != nullptr; },
             [&] { acts.Player().Play(X11::CScript().Type(u"\"a.csv\" \"b.csv\""_qs).Key(u"Return"_qs)); }},
            {[] { return ActiveModal<CReportPeriodDlg>() != nullptr; },
             [&] {
                 periodShown = ActiveModal<CReportPeriodDlg>()->Period();
                 X11::Screenshot(PicturePath(u"x11_report_period.png"_qs));
                 acts.Player().Play(X11::CScript().Key(u"Return"_qs));
             }},
            {[] {
                 auto *pDialog = ActiveModal<QFileDialog>();
                 return pDialog && pDialog->acceptMode() == QFileDialog::AcceptSave;
             },
             [&] { acts.Player().Play(X11::CScript().Key(u"ctrl+a"_qs).Type(u"report.pdf"_qs).Key(u"Return"_qs)); }},
        });
        X11::CPlayer click;
        click.Play(X11::CScript().Click(X11::ScreenPoint(pCharts->findChild<QPushButton *>(u"m_btnReport"_qs))));
        QVERIFY(QTest::qWaitFor([&] { return acts.Done() && !pCharts->ReportUnderWay(); }, 60000));
        QVERIFY(click.Succeeded() && acts.Succeeded());
        m_boxWatch.start();

        QCOMPARE(periodShown, (SReportPeriod{true, QDate(2026, 12, 1), QDate(2026, 12, 7)}));
        QVERIFY(TestFiles::FileBytes(strPdf).startsWith("%PDF"));
        const QString strOpened = m_opener.filePath(u"xdg-open.log"_qs);
        QVERIFY(QTest::qWaitFor([&] { return QFile::exists(strOpened); }, 5000));
        QCOMPARE(QUrl(QString::fromUtf8(TestFiles::FileBytes(strOpened)).trimmed()).toLocalFile(), strPdf);
        X11::Screenshot(PicturePath(u"x11_report_done.png"_qs));
        QCOMPARE(m_boxes, QStringList());
    }

private:
    QTemporaryDir m_opener;
};

int main(int argc, char **argv)
{
    return X11::RunTest<CX11ReportTest>(argc, argv);
}

#include "x11_report_test.moc"
