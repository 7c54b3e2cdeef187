// The window on a real X server, driven as an operator drives it: clicks and
// keys (xdotool) that arrive while a slow reading runs wait for its end and
// then act as if they had come just after it. Runs under xvfb-run with
// openbox, with the real boxes of the window; keys go to whatever window
// has the focus, as a keyboard's do, also while the progress box shows.
// Skips when any of them is missing. Pictures of telling moments go next to
// the test program: x11_input_*.png.
#include "x11_operator.h"

#include <algorithm>

#include <QCheckBox>
#include <QProgressDialog>
#include <QStyle>
#include <QStyleOptionButton>

class CX11InputTest : public X11::CWindowFixture {
    Q_OBJECT
public:
    // When the progress box comes up among the acts.
    enum class EProgressBox { Unwaited, BeforeTheClick, AfterTheClick };
    Q_ENUM(EProgressBox)

    qsizetype m_nFirstRequest = 0; // where the requests of the test itself begin

    // On the box itself: a click on the far side of a wide check box's text
    // hits nothing.
    QPoint AtIndicator(const char *pName) const
    {
        auto *pBox = Find<QCheckBox>(pName);
        QStyleOptionButton option;
        option.initFrom(pBox);
        return X11::ScreenPoint(pBox, pBox->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, pBox).center());
    }
    // The command codes of the requests since the window was unlocked.
    QList<int> Requests() const { return Commands(*m_pMeter).mid(m_nFirstRequest); }
    static QString Picture(const QString &strName)
    {
        return QDir(QCoreApplication::applicationDirPath()).filePath(u"x11_input_"_qs + strName + u".png"_qs);
    }

    // The progress box of the running reading, once it shows.
    static bool ProgressBoxShows()
    {
        const QWidgetList windows = QApplication::topLevelWidgets();
        return std::any_of(windows.begin(), windows.end(), [](const QWidget *pWindow) {
            return qobject_cast<const QProgressDialog *>(pWindow) && pWindow->isVisible();
        });
    }
    static QPushButton *ProgressBoxCancel()
    {
        for (QWidget *pWindow : QApplication::topLevelWidgets()) {
            if (qobject_cast<QProgressDialog *>(pWindow) && pWindow->isVisible())
                return pWindow->findChild<QPushButton *>();
        }
        qFatal("no progress box");
    }
    // The operator waits for the progress box, and the window manager has
    // placed it (and given it the focus, where it takes the focus).
    static void UntilProgressBoxUp(X11::CScript &script) { script.Until(ProgressBoxShows).Pause(400); }

    // Plays the script: its first act starts a slow reading, the others come
    // while it runs. Returns once the window has done all it was told; false
    // when the acts did not all arrive during that first reading. A picture
    // of the moment they are all in is taken as strPicture.
    bool PlayDuringReading(const X11::CScript &script, const QString &strPicture)
    {
        X11::CPlayer player;
        bool bAllInWhileBusy = false;
        QTimer moment;
        connect(&moment, &QTimer::timeout, [&] {
            if (bAllInWhileBusy || !player.Finished() || !m_pWindow->IsBusy())
                return;
            bAllInWhileBusy = Requests().size() == 1; // still the first reading
            if (bAllInWhileBusy)
                X11::Screenshot(Picture(strPicture));
        });
        moment.start(20);
        player.Play(script);
        const bool bDone = QTest::qWaitFor([&] { return player.Finished() && !m_pWindow->IsBusy(); }, 30000);
        QTest::qWait(300); // what the held input started has shown
        if (!bDone || !player.Succeeded() || !bAllInWhileBusy)
            qWarning("done %d, acts played %d, all in during the first reading %d (%lld requests by now)", bDone,
                     player.Succeeded(), bAllInWhileBusy, static_cast<long long>(Requests().size()));
        return bDone && player.Succeeded() && bAllInWhileBusy && !m_pWindow->IsBusy();
    }

private slots:
    void initTestCase()
    {
        const QString strMissing = X11::Missing();
        if (!strMissing.isEmpty())
            QSKIP(qPrintable(strMissing));
        QVERIFY(StartScreen());
    }

    void init()
    {
        QVERIFY(OpenWindow());
        // Unlocked, each read is one request. Then the meter takes its time:
        // at 2400 bit/s a per-second read takes about 4.4 s, a per-minute
        // one 2.2 s.
        Find<QPushButton>("m_btnReadSecond")->click();
        QCOMPARE(Commands(*m_pMeter), (QList<int>{CMD_UNLOCK, CMD_READ_SECOND}));
        m_nFirstRequest = m_pMeter->Requests().size();
        m_pMeter->ChangeBehaviour([](SMeterBehaviour &behaviour) {
            behaviour.bPaced = true;
        });
        QComboBox *pSpeed = Find<QComboBox>("m_comboSpeed");
        pSpeed->setCurrentIndex(pSpeed->findText(QStringLiteral("2400")));
        QVERIFY(QTest::qWaitForWindowActive(m_pWindow.get()));
        QTest::qWait(200); // placed by the window manager
    }

    void cleanup() { CloseWindow(); }

    void exitThenReadDuringAReading()
    {
        X11::CScript script;
        script.Click(At("m_btnReadSecond")).Pause(800).Click(At("m_btnExit")).Click(At("m_btnReadMinute"));
        QVERIFY(PlayDuringReading(script, u"exit_held"_qs));
        QVERIFY(!m_pWindow->isVisible());
        QCOMPARE(m_pWindow->result(), int(QDialog::Rejected));
        QTest::qWait(1000);
        QCOMPARE(Requests(), QList<int>{CMD_READ_SECOND}); // no Минута read after the exit
        QCOMPARE(m_boxes, QStringList());
    }

    void keysGoToTheFocusOfTheirTurn_data()
    {
        QTest::addColumn<EProgressBox>("box");
        QTest::addColumn<QString>("strPicture");
        QTest::newRow("a moment into the reading") << EProgressBox::Unwaited << u"keys"_qs;
        QTest::newRow("the progress box up before the click") << EProgressBox::BeforeTheClick << u"keys_box"_qs;
        QTest::newRow("the progress box up between the click and the keys")
            << EProgressBox::AfterTheClick << u"keys_box_late"_qs;
    }

    void keysGoToTheFocusOfTheirTurn()
    {
        QFETCH(EProgressBox, box);
        QFETCH(QString, strPicture);
        Find<QCheckBox>("m_chkRecordToFile")->click();
        Find<QLineEdit>("m_editRecordFile")->setText(u"a.txt"_qs);
        Find<QLineEdit>("m_editInterval")->setText(u"1"_qs);
        X11::CScript script;
        script.Click(At("m_btnReadSecond"));
        switch (box) {
        case EProgressBox::Unwaited:
            script.Pause(800).Click(At("m_editRecordFile"));
            break;
        case EProgressBox::BeforeTheClick:
            UntilProgressBoxUp(script);
            script.Click(At("m_editRecordFile"));
            break;
        case EProgressBox::AfterTheClick:
            script.Pause(100).Click(At("m_editRecordFile"));
            UntilProgressBoxUp(script);
            break;
        }
        script.Key(u"End"_qs).Key(u"Tab"_qs).Type(u"7"_qs);
        QVERIFY(PlayDuringReading(script, strPicture + u"_held"_qs));
        X11::Screenshot(Picture(strPicture + u"_after"_qs));
        QCOMPARE(Find<QLineEdit>("m_editRecordFile")->text(), u"a.txt"_qs);
        QCOMPARE(Find<QLineEdit>("m_editInterval")->text(), u"7"_qs); // Tab selected the "1"
        QCOMPARE(QApplication::focusWidget(), Find<QLineEdit>("m_editInterval"));
        QCOMPARE(m_boxes, QStringList());
    }

    // Space on the focused box stops continuous reading, though the
    // progress box of the tick's reading shows when it is pressed.
    void spaceStopsContinuousReadingDuringATick()
    {
        // Each reading takes longer than the interval, so the ticks read one
        // after the other (at 2400 bit/s rather than 4800 for a loaded
        // machine's sake: the acts must fall inside the first reading).
        Find<QLineEdit>("m_editInterval")->setText(u"1"_qs);
        X11::CScript script;
        script.Click(AtIndicator("m_chkContinuous")); // ticks it and gives it the focus
        UntilProgressBoxUp(script);
        script.Key(u"space"_qs);
        QVERIFY(PlayDuringReading(script, u"space_held"_qs));
        X11::Screenshot(Picture(u"space_after"_qs));
        QVERIFY(!Find<QCheckBox>("m_chkContinuous")->isChecked());
        QCOMPARE(QApplication::focusWidget(), Find<QCheckBox>("m_chkContinuous"));
        QTest::qWait(2500); // more than an interval: no tick reads any more
        QCOMPARE(Requests(), QList<int>{CMD_READ_SECOND});
        QCOMPARE(m_boxes, QStringList());
    }

    void progressBoxCancelsTheReading_data()
    {
        QTest::addColumn<bool>("bEscape");
        // The box has no focus: Esc comes to the window and is the box's.
        QTest::newRow("Esc") << true;
        QTest::newRow("a click on Отмена") << false;
    }

    // The reading stops and the window stays, with the keys.
    void progressBoxCancelsTheReading()
    {
        QFETCH(bool, bEscape);
        const qint64 nReadBefore = m_pWindow->SecondReadTime();
        X11::CScript start;
        start.Click(At("m_btnReadSecond"));
        UntilProgressBoxUp(start);
        X11::CPlayer player;
        X11::CPlayer canceller;
        bool bCancelSent = false;
        // From inside the reading, where the box is: the reading runs its
        // own event loop until it ends.
        QTimer moment;
        connect(&moment, &QTimer::timeout, [&] {
            if (bCancelSent || !player.Finished() || !m_pWindow->IsBusy())
                return;
            bCancelSent = true;
            canceller.Play(bEscape ? X11::CScript().Key(u"Escape"_qs) : X11::CScript().Click(ProgressBoxCancel()));
        });
        moment.start(20);
        player.Play(start);
        QVERIFY(QTest::qWaitFor([&] { return bCancelSent && canceller.Finished() && !m_pWindow->IsBusy(); }, 30000));
        QVERIFY(player.Succeeded() && canceller.Succeeded());
        QTest::qWait(300);
        QVERIFY(!ProgressBoxShows());
        QVERIFY(m_pWindow->isVisible());
        QCOMPARE(QApplication::activeWindow(), m_pWindow.get());
        QCOMPARE(m_pWindow->SecondReadTime(), nReadBefore); // no new reading shown
        QCOMPARE(Requests(), QList<int>{CMD_READ_SECOND});
        QCOMPARE(m_boxes, QStringList());
    }

    void clickEnablesTheFieldTheNextClickTypesInto()
    {
        QVERIFY(!Find<QLineEdit>("m_editRecordFile")->isEnabled());
        X11::CScript script;
        script.Click(At("m_btnReadSecond")).Pause(800).Click(AtIndicator("m_chkRecordToFile"));
        script.Click(At("m_editRecordFile")).Type(u"b.txt"_qs);
        QVERIFY(PlayDuringReading(script, u"file_held"_qs));
        X11::Screenshot(Picture(u"file_after"_qs));
        QVERIFY(Find<QCheckBox>("m_chkRecordToFile")->isChecked());
        QCOMPARE(Find<QLineEdit>("m_editRecordFile")->text(), u"b.txt"_qs);
        QCOMPARE(m_boxes, QStringList());
    }

    void portListThenReadLeavesNoPopupUnderTheRead()
    {
        bool bPopupUnderCommand = false;
        bool bMinuteShot = false;
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] {
            if (!m_pWindow->IsBusy())
                return;
            if (QApplication::activePopupWidget())
                bPopupUnderCommand = true;
            if (!bMinuteShot && Requests().value(1) == CMD_READ_MINUTE) {
                bMinuteShot = true;
                X11::Screenshot(Picture(u"port_read"_qs));
            }
        });
        watch.start(20);
        X11::CScript script;
        script.Click(At("m_btnReadSecond")).Pause(800).Click(At("m_comboPort")).Click(At("m_btnReadMinute"));
        QVERIFY(PlayDuringReading(script, u"port_held"_qs));
        QTest::qWait(500);
        QVERIFY(!bPopupUnderCommand);
        QCOMPARE(QApplication::activePopupWidget(), nullptr);
        X11::Screenshot(Picture(u"port_after"_qs));
        // As when no reading runs: the click beside the open list closes it
        // and goes no further.
        X11::CPlayer player;
        player.Play(X11::CScript().Click(At("m_comboPort")).Click(At("m_btnReadMinute")));
        QVERIFY(QTest::qWaitFor([&] { return player.Finished() && !m_pWindow->IsBusy(); }, 10000));
        QTest::qWait(300);
        QVERIFY(player.Succeeded());
        QCOMPARE(QApplication::activePopupWidget(), nullptr);
        QCOMPARE(Requests(), QList<int>{CMD_READ_SECOND});
        QCOMPARE(m_boxes, QStringList());
    }
};

int main(int argc, char **argv)
{
    return X11::RunTest<CX11InputTest>(argc, argv);
}

#include "x11_input_test.moc"
