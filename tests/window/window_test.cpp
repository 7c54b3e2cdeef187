// The window driven as the operator drives it, against simulated meters on
// pseudo-terminals, with every box and dialog answered from a script.
#include "window_test_support.h"
#include "test_files.h"

#include "window/charts_dlg.h"
#include "window/window_text.h"
#include "link/link_messages.h"
#include "data/list_file.h"
#include "window/port_choice.h"
#include "link/serial_port.h"
#include "window/spin_arrows.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSerialPort>
#include <QScrollBar>
#include <QStyle>
#include <QTableView>
#include <QTimer>

#include <csignal>
#include <functional>
#include <sys/resource.h>

using namespace TestFiles;

namespace {

// What saving a list must give: name, tab, value, line feed per shown row.
QByteArray ListBytes(const QList<QStringList> &rows)
{
    QString text;
    for (const QStringList &row : rows)
        text += row[0] + u'\t' + row[1] + u'\n';
    return ToCp1251(text);
}

// The positions of the blank separator rows of each list.
QList<int> BlankRows(const QList<QStringList> &rows)
{
    QList<int> blank;
    for (int r = 0; r < rows.size(); ++r) {
        if (rows[r][0].isEmpty())
            blank.append(r);
    }
    return blank;
}

// Every named row shows a value matching the pattern, every blank row none.
void VerifyFilled(const QList<QStringList> &rows, const QRegularExpression &value)
{
    for (int r = 0; r < rows.size(); ++r) {
        if (rows[r][0].isEmpty())
            QVERIFY2(rows[r][1].isEmpty(), qPrintable(QString::number(r)));
        else
            QVERIFY2(value.match(rows[r][1]).hasMatch(), qPrintable(rows[r][0] + u'=' + rows[r][1]));
    }
}

const QRegularExpression CENTS(QStringLiteral("^-?\\d+\\.\\d\\d$"));

} // namespace

class CWindowTest : public CWindowTestBase {
    Q_OBJECT
    // A shown, active window on a meter that has unlocked it and now answers
    // at the line's pace: a per-second read takes about 1.1 s.
    std::unique_ptr<CMeterSim> StartPacedWindow()
    {
        auto pMeter = StartMeter();
        MakeWindow({pMeter->SlavePath()});
        m_pWindow->show();
        if (!QTest::qWaitForWindowActive(m_pWindow.get()))
            qFatal("the window did not become active");
        Click("m_btnReadSecond");
        pMeter->ChangeBehaviour([](SMeterBehaviour &behaviour) {
            behaviour.bPaced = true;
        });
        return pMeter;
    }

private slots:
    void startsCleared();
    void settingsFileRoundTrip();
    void settingsFileUnreadableStillStarts();
    void settingsFileUnwritableIsSaidAtExit();
    void portListExactNameBeatsPrefix();
    void portListRebuildAndProbing();
    void portListStableNames();
    void readsFillTheListsFromTheMeter();
    void secondFeederGoesIntoTheRequest();
    void deviceNumberOutOfRange_data();
    void deviceNumberOutOfRange();
    void shortRepliesAndLinkMessages();
    void connectionCheckThenUnlock();
    void continuousReadingRecordsEachTick();
    void continuousReadingWaitsOneInterval();
    void recordingFileMissing();
    void recordingWriteFails();
    void spinStepsTheInterval();
    void savingEachList();
    void savingFailures();
    void savingThroughALink();
    void cancelDuringSlowReply();
    void tickWaitsForRunningExchange();
    void aboutAndExitKeys();
    void inputDuringReadingStopsContinuousAfterIt_data();
    void inputDuringReadingStopsContinuousAfterIt();
    void exitDuringReadingExitsAfterIt();
    void heldInputEndsWithTheWindow_data();
    void heldInputEndsWithTheWindow();
    void heldKeysGoToTheFocusOfTheirTurn();
    void heldClicksReachWhatEarlierOnesEnabled();
    void heldClicksLeaveNoPopupUnderACommand();
    void heldShortcutsTakeEffectAfterTheCommand();
};

void CWindowTest::startsCleared()
{
    auto pMeter = StartMeter();
    SWindowSetup setup;
    setup.strTitle = QStringLiteral("varik");
    setup.extraPorts = {pMeter->SlavePath()};
    setup.fnSystemPorts = [] { return QStringList(); };
    setup.strPort = pMeter->SlavePath();
    m_pWindow = std::make_unique<CVarikDlg>(setup, &m_dialogs);

    QCOMPARE(m_pWindow->windowTitle(), QStringLiteral("Varik"));
    QCOMPARE(Edit("m_editDeviceNumber")->text(), QString());
    QCOMPARE(Edit("m_editInterval")->text(), QStringLiteral("1"));
    for (const char *pName : {"m_chkContinuous", "m_chkSecondFeeder", "m_chkRecordToFile"})
        QVERIFY2(!Button(pName)->isChecked(), pName);
    QCOMPARE(Edit("m_editRecordFile")->text(), QString());
    QVERIFY(!Edit("m_editRecordFile")->isEnabled());
    QVERIFY(!Button("m_btnBrowse")->isEnabled());
    QCOMPARE(Combo("m_comboSpeed")->currentText(), QStringLiteral("9600"));
    QCOMPARE(Combo("m_comboSpeed")->count(), 11);
    QCOMPARE(Combo("m_comboPort")->currentText(), pMeter->SlavePath());
    QVERIFY(Find<QPushButton>("m_btnExit")->isDefault());
    QVERIFY(!m_pWindow->Link().SecondFeeder());
    QCOMPARE(m_pWindow->IniPath(), Path(QStringLiteral("varik.INI")));

    const struct {
        const char *pList;
        int nRows;
        int nNameWidth;
        int nValueWidth;
        QAbstractItemView::SelectionMode mode;
    } lists[] = {
        {"m_listSecond", 271, 80, 120, QAbstractItemView::SingleSelection},
        {"m_listMinute", 261, 80, 120, QAbstractItemView::ExtendedSelection},
        {"m_listDay", 1335, 100, 100, QAbstractItemView::ExtendedSelection},
    };
    for (const auto &l : lists) {
        auto *pView = Find<QTableView>(l.pList);
        QCOMPARE(pView->model()->rowCount(), l.nRows);
        QCOMPARE(pView->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Название"));
        QCOMPARE(pView->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Значение"));
        // The original width is the least; a longer name widens the column.
        QVERIFY(pView->columnWidth(0) >= l.nNameWidth);
        QCOMPARE(pView->columnWidth(1), l.nValueWidth);
        // Every name shows whole, and its tip holds it too.
        const QFontMetrics metrics = pView->fontMetrics();
        const int nMargin = pView->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, pView) + 1;
        const int nTextWidth = pView->columnWidth(0) - 2 * nMargin;
        for (int nRow = 0; nRow < l.nRows; ++nRow) {
            const QModelIndex name = pView->model()->index(nRow, 0);
            const QString strName = name.data().toString();
            QCOMPARE(metrics.elidedText(strName, Qt::ElideRight, nTextWidth), strName);
            QCOMPARE(name.data(Qt::ToolTipRole).toString(), strName);
            QVERIFY(pView->model()->index(nRow, 1).data(Qt::ToolTipRole).isNull());
        }
        // The view is wide enough for both columns without a sideways scroll.
        QVERIFY(!pView->horizontalScrollBar()->isVisible() || pView->horizontalScrollBar()->maximum() == 0);
        QVERIFY(pView->showGrid());
        QCOMPARE(pView->selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(pView->selectionMode(), l.mode);
        for (const QStringList &row : Shown(l.pList))
            QVERIFY(row[1].isEmpty());
    }
    QCOMPARE(Shown("m_listSecond")[1][0], QStringLiteral("dUA"));

    // Tab order, starting at "Выход"; the spin is no tab stop.
    const QStringList expected = {
        u"m_btnExit"_qs,         u"m_listSecond"_qs,      u"m_btnReadSecond"_qs,    u"m_listMinute"_qs,
        u"m_btnReadMinute"_qs,   u"m_listDay"_qs,         u"m_btnReadDay"_qs,       u"m_chkContinuous"_qs,
        u"m_chkSecondFeeder"_qs, u"m_editDeviceNumber"_qs, u"m_comboPort"_qs,        u"m_comboSpeed"_qs,
        u"m_btnCheckConnection"_qs, u"m_btnRefreshPorts"_qs, u"m_btnSaveDay"_qs,   u"m_btnSaveMinute"_qs,
        u"m_btnSaveSecond"_qs,   u"m_editRecordFile"_qs,  u"m_editInterval"_qs,     u"m_chkRecordToFile"_qs,
        u"m_btnBrowse"_qs,       u"m_btnCharts"_qs};
    QStringList order;
    QWidget *pWidget = Button("m_btnExit");
    do {
        if ((pWidget->focusPolicy() & Qt::TabFocus) && !pWidget->objectName().isEmpty()
            && pWidget->objectName().startsWith(u"m_"))
            order.append(pWidget->objectName());
        pWidget = pWidget->nextInFocusChain();
    } while (pWidget != Button("m_btnExit"));
    QCOMPARE(order, expected);
    QVERIFY(!(Find<QWidget>("m_spinInterval")->focusPolicy() & Qt::TabFocus));
}

void CWindowTest::settingsFileRoundTrip()
{
    auto pMeter = StartMeter();
    const QString strIni = Path(QStringLiteral("varik.INI"));
    const QString before = u"; настройки\r\n[Связь]\r\nСкорость=19200\r\nПорт="_qs + pMeter->SlavePath()
                         + u"\r\nДругое=да\r\n[Окно]\r\nx=1\r\n"_qs;
    QVERIFY(PutFile(strIni, ToCp1251(before)));

    MakeWindow({pMeter->SlavePath()});
    QCOMPARE(Combo("m_comboSpeed")->currentText(), QStringLiteral("19200"));
    QCOMPARE(Combo("m_comboPort")->currentText(), pMeter->SlavePath());

    Combo("m_comboSpeed")->setCurrentIndex(Combo("m_comboSpeed")->findText(QStringLiteral("4800")));
    Click("m_btnExit");
    QCOMPARE(m_pWindow->result(), int(QDialog::Rejected));
    QString after = before;
    after.replace(u"Скорость=19200"_qs, u"Скорость=4800"_qs);
    QCOMPARE(FileBytes(strIni), ToCp1251(after));

    // No port listed: "Порт" is written empty, a missing file is created.
    QFile::remove(strIni);
    MakeWindow({});
    QCOMPARE(Combo("m_comboPort")->currentIndex(), -1);
    Click("m_btnExit");
    QCOMPARE(FileBytes(strIni), ToCp1251(u"[Связь]\r\nПорт=\r\nСкорость=9600\r\n"_qs));
}

void CWindowTest::settingsFileUnreadableStillStarts()
{
    const QString strIni = Path(QStringLiteral("varik.INI"));
    for (const QByteArray &bytes : {QByteArray("\x00\xff\xfe[\x01=\x02\n", 9), QByteArray(4 << 20, '[')}) {
        QVERIFY(PutFile(strIni, bytes));
        MakeWindow({});
        QCOMPARE(Combo("m_comboSpeed")->currentText(), QStringLiteral("9600"));
        m_pWindow.reset();
    }
}

void CWindowTest::settingsFileUnwritableIsSaidAtExit()
{
    // A folder by the settings file's name: nothing can be kept, and the
    // operator is told so before the window closes.
    const QString strIni = Path(QStringLiteral("varik.INI"));
    QVERIFY(QDir().mkdir(strIni));
    MakeWindow({});
    Click("m_btnExit");
    QCOMPARE(m_dialogs.shown, (QList<SShownBox>{{WindowText::SettingsWriteFailed(strIni), EMsgIcon::Exclamation,
                                                  EMsgButtons::Ok}}));
    QCOMPARE(m_pWindow->result(), int(QDialog::Rejected));
    QVERIFY(m_pWindow->isHidden());
    QCOMPARE(WindowText::SettingsWriteFailed(strIni),
             u"Не удалось записать файл настроек:\n"_qs + strIni + u"\n\nПорт и скорость обмена не сохранены."_qs);
}

void CWindowTest::portListExactNameBeatsPrefix()
{
    auto pMeter1 = StartMeter();
    auto pMeter12 = StartMeter();
    const QString strCom1 = Path(QStringLiteral("COM1"));
    const QString strCom12 = Path(QStringLiteral("COM12"));
    QVERIFY(QFile::link(pMeter1->SlavePath(), strCom1));
    QVERIFY(QFile::link(pMeter12->SlavePath(), strCom12));
    QVERIFY(PutFile(Path(QStringLiteral("varik.INI")), ToCp1251(u"[Связь]\nПорт="_qs + strCom1 + u"\nСкорость=1\n"_qs)));

    MakeWindow({strCom12, strCom1});
    QCOMPARE(Combo("m_comboPort")->count(), 2);
    QCOMPARE(Combo("m_comboPort")->itemText(0), strCom1); // natural order
    QCOMPARE(Combo("m_comboPort")->itemText(1), strCom12);
    QCOMPARE(Combo("m_comboPort")->currentText(), strCom1); // not COM12 by prefix
    QCOMPARE(Combo("m_comboSpeed")->currentText(), QStringLiteral("1200")); // prefix rule
}

void CWindowTest::portListRebuildAndProbing()
{
    auto pFree = StartMeter();
    auto pHeld = StartMeter();
    auto pGone = StartMeter();
    const QString strGone = Path(QStringLiteral("COM4"));
    QVERIFY(QFile::link(pGone->SlavePath(), strGone));

    QSerialPort holder(pHeld->SlavePath());
    QVERIFY(holder.open(QIODevice::ReadWrite));
    MakeWindow({pFree->SlavePath(), pHeld->SlavePath(), strGone});
    QComboBox *pPorts = Combo("m_comboPort");
    QCOMPARE(pPorts->count(), 2); // the held port is not offered
    QCOMPARE(pPorts->findText(pHeld->SlavePath()), -1);

    pPorts->setCurrentIndex(pPorts->findText(strGone));
    Click("m_btnRefreshPorts");
    QCOMPARE(pPorts->currentText(), strGone); // still there: stays selected

    holder.close();
    QVERIFY(QFile::remove(strGone));
    Click("m_btnRefreshPorts");
    QCOMPARE(pPorts->count(), 2); // the released port now answers, COM4 is gone
    QCOMPARE(pPorts->currentIndex(), 0);
    QVERIFY(pPorts->findText(pHeld->SlavePath()) >= 0);

    m_pWindow.reset();
    MakeWindow({});
    Click("m_btnRefreshPorts");
    QCOMPARE(Combo("m_comboPort")->currentIndex(), -1);
}

// An adapter's stable name is listed under its device, says which device it
// is, and is what the settings file keeps and the link opens.
void CWindowTest::portListStableNames()
{
    auto pMeterA = StartMeter();
    auto pMeterB = StartMeter();
    QStringList devices{pMeterA->SlavePath(), pMeterB->SlavePath()};
    std::sort(devices.begin(), devices.end(), NaturalLess);
    const QString strByIdDir = Path(QStringLiteral("by-id"));
    QVERIFY(QDir().mkdir(strByIdDir));
    const QString strStable = strByIdDir + QStringLiteral("/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    QVERIFY(QFile::link(devices.at(0), strStable));
    const CMeterSim &meter = devices.at(0) == pMeterA->SlavePath() ? *pMeterA : *pMeterB;

    const auto makeWindow = [&] {
        SWindowSetup setup;
        setup.strTitle = QStringLiteral("varik");
        setup.fnSystemPorts = [&] { return devices + StablePortNames(strByIdDir); };
        m_pWindow = std::make_unique<CVarikDlg>(setup, &m_dialogs);
        Edit("m_editDeviceNumber")->setText(QStringLiteral("1"));
    };
    makeWindow();
    QComboBox *pPorts = Combo("m_comboPort");
    QCOMPARE(pPorts->count(), 3);
    QCOMPARE(pPorts->itemText(0), devices.at(0));
    QCOMPARE(pPorts->itemText(1), strStable);
    QCOMPARE(pPorts->itemText(2), devices.at(1));
    QCOMPARE(pPorts->itemData(1, Qt::ToolTipRole).toString(), devices.at(0));
    QVERIFY(pPorts->itemData(0, Qt::ToolTipRole).isNull());

    pPorts->setCurrentIndex(1);
    QCOMPARE(pPorts->toolTip(), strStable + QStringLiteral(" → ") + devices.at(0)); // the box may cut the name short
    Click("m_btnReadSecond");
    QCOMPARE(m_dialogs.shown, (QList<SShownBox>{}));
    QCOMPARE(Commands(meter), (QList<int>{CMD_UNLOCK, CMD_READ_SECOND}));
    Click("m_btnExit");
    QCOMPARE(FileBytes(Path(QStringLiteral("varik.INI"))),
             ToCp1251(u"[Связь]\r\nПорт="_qs + strStable + u"\r\nСкорость=9600\r\n"_qs));

    makeWindow();
    QCOMPARE(Combo("m_comboPort")->currentText(), strStable);
}

void CWindowTest::readsFillTheListsFromTheMeter()
{
    auto pMeter = StartMeter();
    MakeWindow({pMeter->SlavePath()});

    Click("m_btnReadSecond");
    QCOMPARE(m_dialogs.shown, QList<SShownBox>());
    QCOMPARE(m_dialogs.nAccessAsked, 1); // before the first request only
    QCOMPARE(Commands(*pMeter), (QList<int>{CMD_UNLOCK, CMD_READ_SECOND}));
    const QList<QStringList> second = Shown("m_listSecond");
    VerifyFilled(second, CENTS);
    QCOMPARE(second[265][0], QStringLiteral("UA"));
    QVERIFY2(qAbs(second[265][1].toDouble() - 230.0) < 30.0, qPrintable(second[265][1]));
    QCOMPARE(BlankRows(second), (QList<int>{0, 7, 47, 87, 127, 167, 207, 247, 254, 257, 261, 264}));

    Click("m_btnReadMinute");
    VerifyFilled(Shown("m_listMinute"), CENTS);

    Click("m_btnReadDay");
    const QList<QStringList> day = Shown("m_listDay");
    QCOMPARE(day[1330][0], QStringLiteral("dT Work - сутки"));
    QVERIFY(QRegularExpression(QStringLiteral("^\\d\\d+:\\d\\d:\\d\\d$")).match(day[1330][1]).hasMatch());
    QVERIFY(QRegularExpression(QStringLiteral("^\\d+$")).match(day[1302][1]).hasMatch());
    VerifyFilled(day.mid(0, 1301), CENTS);
    QCOMPARE(m_dialogs.shown, QList<SShownBox>());
    QCOMPARE(m_dialogs.nAccessAsked, 1);
    QCOMPARE(Commands(*pMeter), (QList<int>{CMD_UNLOCK, CMD_READ_SECOND, CMD_READ_MINUTE, CMD_READ_DAY}));
    QVERIFY(!m_pWindow->Link().Port().IsOpen());
}

void CWindowTest::secondFeederGoesIntoTheRequest()
{
    auto pMeter = StartMeter();
    MakeWindow({pMeter->SlavePath()}, QString());
    QTest::mouseClick(Button("m_chkSecondFeeder"), Qt::LeftButton, {}, QPoint(Button("m_chkSecondFeeder")->width() - 8, 8));
    QVERIFY(Button("m_chkSecondFeeder")->isChecked());

    // Rejected for its device number, the read still sets the feeder...
    Click("m_btnReadMinute");
    QVERIFY(m_pWindow->Link().SecondFeeder());
    // ...which a following connection check carries.
    Edit("m_editDeviceNumber")->setText(QStringLiteral("1"));
    Click("m_btnCheckConnection");
    QCOMPARE(Commands(*pMeter).value(0), int(CMD_CHECK));
    QCOMPARE(quint8(pMeter->Requests().value(0).at(2)), quint8(1));
}

void CWindowTest::deviceNumberOutOfRange_data()
{
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("button");
    for (const char *pButton : {"m_btnReadSecond", "m_btnReadMinute", "m_btnReadDay", "m_btnCheckConnection"}) {
        for (const char *pNumber : {"", "0", "65536", "abc"})
            QTest::addRow("%s '%s'", pButton, pNumber) << QString::fromLatin1(pNumber) << QString::fromLatin1(pButton);
    }
}

void CWindowTest::deviceNumberOutOfRange()
{
    QFETCH(QString, number);
    QFETCH(QString, button);
    auto pMeter = StartMeter();
    MakeWindow({pMeter->SlavePath()}, number);
    Click(qPrintable(button));
    QCOMPARE(m_dialogs.shown, (QList<SShownBox>{{u"Номер прибора: число от 1 до 65 535. "_qs, EMsgIcon::Exclamation,
                                                 EMsgButtons::Ok}}));
    QCOMPARE(m_dialogs.nAccessAsked, 0);
    QTest::qWait(50);
    QCOMPARE(pMeter->Requests().size(), 0);
}

void CWindowTest::shortRepliesAndLinkMessages()
{
    auto pMeter = StartMeter();
    MakeWindow({pMeter->SlavePath()});
    pMeter->ChangeBehaviour([](SMeterBehaviour &behaviour) {
        behaviour.bRequireUnlock = false;
        behaviour.nReplyBytes = HEADER_SIZE + 10;
    });
    const SShownBox readFailed{u"Сбой в процессе чтения данных"_qs, EMsgIcon::Exclamation, EMsgButtons::Ok};

    const struct {
        const char *pButton;
        const char *pList;
        QList<SShownBox> shown;
    } cases[] = {
        {"m_btnReadSecond", "m_listSecond", {}}, // the per-second read drops a short reply silently
        {"m_btnReadMinute", "m_listMinute", {readFailed}},
        {"m_btnReadDay", "m_listDay", {readFailed}},
    };
    for (const auto &c : cases) {
        m_dialogs.shown.clear();
        const QList<QStringList> before = Shown(c.pList);
        Click(c.pButton);
        QCOMPARE(m_dialogs.shown, c.shown);
        QCOMPARE(Shown(c.pList), before);
    }

    // The link's own messages reach the operator through the same boxes.
    pMeter->ChangeBehaviour([](SMeterBehaviour &behaviour) {
        behaviour.nReplyBytes = -1;
        behaviour.nForcedStatus = STATUS_BUSY;
    });
    m_dialogs.shown.clear();
    Click("m_btnReadDay");
    QCOMPARE(m_dialogs.shown, (QList<SShownBox>{{LinkText::Busy(), EMsgIcon::Exclamation, EMsgButtons::Ok}}));
}

void CWindowTest::connectionCheckThenUnlock()
{
    auto pMeter = StartMeter();
    MakeWindow({pMeter->SlavePath()}, QStringLiteral("007"));

    Click("m_btnCheckConnection");
    QCOMPARE(m_dialogs.nAccessAsked, 1);
    QCOMPARE(m_dialogs.shown, (QList<SShownBox>{{u"Пароль первого уровня снят."_qs, EMsgIcon::Exclamation,
                                                 EMsgButtons::Ok}}));
    QCOMPARE(quint16(quint8(pMeter->Requests().value(0).at(8))), quint16(7)); // device 007 is 7

    // Every check asks again; a refused password offers a retry.
    m_dialogs.shown.clear();
    m_dialogs.nAccessLevel = 1;
    m_dialogs.strAccessPassword = QStringLiteral("1111");
    Click("m_btnCheckConnection");
    QCOMPARE(m_dialogs.nAccessAsked, 2);
    QCOMPARE(m_dialogs.shown, (QList<SShownBox>{{LinkText::PasswordRefused(), EMsgIcon::Question, EMsgButtons::YesNo}}));

    m_dialogs.shown.clear();
    m_dialogs.strAccessPassword = QStringLiteral("2222");
    Click("m_btnCheckConnection");
    QCOMPARE(m_dialogs.shown, (QList<SShownBox>{{u"Пароль второго уровня снят."_qs, EMsgIcon::Exclamation,
                                                 EMsgButtons::Ok}}));
    QCOMPARE(pMeter->UnlockedLevel(), 2);

    // With no port listed the check cannot open one.
    m_pWindow.reset();
    m_dialogs.shown.clear();
    MakeWindow({});
    Click("m_btnCheckConnection");
    QCOMPARE(m_dialogs.shown.value(0).icon, EMsgIcon::Stop);
    QCOMPARE(m_dialogs.shown.value(0).strText, LinkText::Port(QString()));
}

void CWindowTest::continuousReadingRecordsEachTick()
{
    auto pMeter = StartMeter();
    MakeWindow({pMeter->SlavePath()});
    const QString strRecord = Path(QStringLiteral("record.hex"));
    QVERIFY(PutFile(strRecord, QByteArrayLiteral("old line\n")));

    Click("m_chkRecordToFile");
    QVERIFY(Edit("m_editRecordFile")->isEnabled());
    QVERIFY(Button("m_btnBrowse")->isEnabled());
    m_dialogs.strOpenPath = strRecord;
    Click("m_btnBrowse");
    QCOMPARE(m_dialogs.fileDialogs.value(0).strDefaultSuffix, QStringLiteral("hex"));
    QCOMPARE(m_dialogs.fileDialogs.value(0).strInitialName, QString());
    QCOMPARE(m_dialogs.fileDialogs.value(0).strFilter, QStringLiteral("Текстовый файл  (*.txt)"));
    QCOMPARE(Edit("m_editRecordFile")->text(), strRecord);

    Edit("m_editInterval")->setText(QStringLiteral("0")); // as fast as the timer goes
    Click("m_chkContinuous");
    QTRY_VERIFY_WITH_TIMEOUT(FileBytes(strRecord).count("\n\n") >= 3, 20000);
    Click("m_chkContinuous");
    QVERIFY(!m_pWindow->findChild<QTimer *>(QStringLiteral("m_timerContinuous"))->isActive());

    const QByteArray bytes = FileBytes(strRecord);
    QVERIFY(bytes.startsWith("old line\n"));
    const QRegularExpression record(QStringLiteral("^(\\t-?\\d+\\.\\d\\d){6}\\t\\n\\n$"));
    const QList<QByteArray> records = bytes.mid(9).split('\n');
    QByteArrayList joined;
    for (qsizetype i = 0; i + 1 < records.size(); i += 2)
        QVERIFY2(record.match(QString::fromLatin1(records[i] + "\n\n")).hasMatch(), records[i].constData());
    // The last record holds what the list shows now.
    QString last = QStringLiteral("\t");
    for (int r = 1; r <= 6; ++r)
        last += Shown("m_listSecond")[r][1] + u'\t';
    QVERIFY(bytes.endsWith(ToCp1251(last + u"\n\n"_qs)));
    QCOMPARE(m_dialogs.shown, QList<SShownBox>());
}

void CWindowTest::continuousReadingWaitsOneInterval()
{
    auto pMeter = StartMeter();
    MakeWindow({pMeter->SlavePath()});
    Click("m_chkContinuous");
    auto *pTimer = m_pWindow->findChild<QTimer *>(QStringLiteral("m_timerContinuous"));
    QVERIFY(pTimer->isActive());
    QCOMPARE(pTimer->interval(), 1000);
    QTest::qWait(300);
    QCOMPARE(pMeter->Requests().size(), 0); // not at once
    QTRY_COMPARE_WITH_TIMEOUT(Commands(*pMeter).value(1, -1), int(CMD_READ_SECOND), 5000);
    QTRY_VERIFY(pTimer->isActive()); // set again at the end of the tick
    Click("m_chkContinuous");
    QVERIFY(!pTimer->isActive());
}

void CWindowTest::recordingFileMissing()
{
    auto pMeter = StartMeter();
    MakeWindow({pMeter->SlavePath()});
    const QString strMissing = Path(QStringLiteral("typed.hex"));
    Click("m_chkRecordToFile");
    Edit("m_editRecordFile")->setText(strMissing);
    Edit("m_editInterval")->setText(QStringLiteral("0"));
    Click("m_chkContinuous");
    QTRY_COMPARE_WITH_TIMEOUT(m_dialogs.shown.size(), 1, 10000);
    QCOMPARE(m_dialogs.shown[0], (SShownBox{u"Не удалось открыть файл."_qs, EMsgIcon::Exclamation, EMsgButtons::Ok}));
    QVERIFY(!Button("m_chkRecordToFile")->isChecked());
    QVERIFY(Edit("m_editRecordFile")->isEnabled());
    QVERIFY(Button("m_btnBrowse")->isEnabled());
    QVERIFY(!QFile::exists(strMissing));
    // Reading goes on.
    const int nReads = pMeter->Requests().size();
    QTRY_VERIFY(pMeter->Requests().size() > nReads);
    Click("m_chkContinuous");
    QCOMPARE(m_dialogs.shown.size(), 1);
}

void CWindowTest::recordingWriteFails()
{
    auto pMeter = StartMeter();
    MakeWindow({pMeter->SlavePath()});
    const QString strRecord = Path(QStringLiteral("full.hex"));
    QVERIFY(PutFile(strRecord, QByteArray(4090, 'x')));
    Click("m_chkRecordToFile");
    Edit("m_editRecordFile")->setText(strRecord);
    Edit("m_editInterval")->setText(QStringLiteral("100"));
    Click("m_chkContinuous");

    // The disk is full after 6 more bytes, as the file size limit makes it.
    CFileSizeLimit diskFull(4096);
    m_pWindow->OnTimer(); // one tick: read, then record
    diskFull.Lift();

    QCOMPARE(m_dialogs.shown, (QList<SShownBox>{{u"Не удалось записать файл."_qs, EMsgIcon::Exclamation,
                                                 EMsgButtons::Ok}}));
    QVERIFY(!Button("m_chkRecordToFile")->isChecked()); // recording stops rather than failing at every tick
    QVERIFY(Edit("m_editRecordFile")->isEnabled());
    QVERIFY(FileBytes(strRecord).startsWith(QByteArray(4090, 'x')));
    QVERIFY(m_pWindow->findChild<QTimer *>(QStringLiteral("m_timerContinuous"))->isActive()); // reading goes on
    Click("m_chkContinuous");
}

void CWindowTest::spinStepsTheInterval()
{
    MakeWindow({});
    auto *pSpin = Find<CSpinArrows>("m_spinInterval");
    QLineEdit *pInterval = Edit("m_editInterval");
    pInterval->setText(QStringLiteral("50")); // the spin does not read the edit

    const struct {
        int nDelta;
        int nTimes;
        const char *pShown;
    } steps[] = {
        {+1, 1, "1"}, {+1, 1, "2"}, {-1, 1, "1"}, {-1, 1, "1"}, {+1, 6010, "6000"}, {-1, 1, "5999"},
    };
    for (const auto &s : steps) {
        for (int i = 0; i < s.nTimes; ++i)
            QTest::mouseClick(pSpin->findChild<QWidget *>(s.nDelta > 0 ? u"up"_qs : u"down"_qs), Qt::LeftButton);
        QCOMPARE(pInterval->text(), QString::fromLatin1(s.pShown));
    }
    // The arrow keys step it too.
    QTest::keyClick(pSpin, Qt::Key_Up);
    QCOMPARE(pInterval->text(), QStringLiteral("6000"));
}

void CWindowTest::savingEachList()
{
    auto pMeter = StartMeter();
    MakeWindow({pMeter->SlavePath()});
    const QString strSaved = Path(QStringLiteral("Отчёт.txt"));
    m_dialogs.strSavePath = strSaved;

    // Before any read: names with empty values, blank rows as a tab alone.
    Click("m_btnSaveSecond");
    QCOMPARE(m_dialogs.fileDialogs.value(0).strDefaultSuffix, QStringLiteral("txt"));
    QCOMPARE(m_dialogs.fileDialogs.value(0).strInitialName, QStringLiteral("Новый"));
    QCOMPARE(m_dialogs.fileDialogs.value(0).strFilter, QStringLiteral("Текстовый файл  (*.txt)"));
    QVERIFY(FileBytes(strSaved).startsWith("\t\ndUA\t\ndUB\t\n"));
    QCOMPARE(FileBytes(strSaved), ListBytes(Shown("m_listSecond")));

    Click("m_btnReadMinute");
    Click("m_btnReadDay");
    for (const char *pList : {"m_listMinute", "m_listDay"}) {
        Click(QByteArray(pList).replace("m_list", "m_btnSave").constData());
        QCOMPARE(FileBytes(strSaved), ListBytes(Shown(pList))); // only the latest content
    }
    QVERIFY(FileBytes(strSaved).contains(ToCp1251(u"dT Work - сутки\t"_qs)));

    m_dialogs.strSavePath.clear(); // cancelled: nothing happens
    Click("m_btnSaveSecond");
    QCOMPARE(FileBytes(strSaved), ListBytes(Shown("m_listDay")));
    QCOMPARE(m_dialogs.shown, QList<SShownBox>());
}

void CWindowTest::savingFailures()
{
    MakeWindow({});
    const SShownBox openFailed{u"Не удалось открыть файл."_qs, EMsgIcon::Exclamation, EMsgButtons::Ok};
    const SShownBox writeFailed{u"Не удалось записать файл."_qs, EMsgIcon::Exclamation, EMsgButtons::Ok};

    m_dialogs.strSavePath = m_pDir->path(); // a directory
    Click("m_btnSaveDay");
    m_dialogs.strSavePath = Path(QStringLiteral("no/such/dir/x.txt"));
    Click("m_btnSaveDay");
    QCOMPARE(m_dialogs.shown, (QList<SShownBox>{openFailed, openFailed}));

    // A full disk, as the process's file size limit makes it: the earlier
    // file keeps its content.
    const QString strEarlier = Path(QStringLiteral("earlier.txt"));
    QVERIFY(PutFile(strEarlier, QByteArrayLiteral("earlier content\n")));
    m_dialogs.shown.clear();
    m_dialogs.strSavePath = strEarlier;
    CFileSizeLimit diskFull(4096); // the day list is larger
    Click("m_btnSaveDay");
    diskFull.Lift();
    QCOMPARE(m_dialogs.shown, (QList<SShownBox>{writeFailed}));
    QCOMPARE(FileBytes(strEarlier), QByteArrayLiteral("earlier content\n"));
    QCOMPARE(QDir(m_pDir->path()).entryList(QDir::Files), QStringList{u"earlier.txt"_qs}); // no temporary left
}

// The list goes into the file the link points to; the link stays.
void CWindowTest::savingThroughALink()
{
    MakeWindow({});
    const QString strKept = Path(QStringLiteral("kept.txt"));
    const QString strLink = Path(QStringLiteral("link.txt"));
    QVERIFY(PutFile(strKept, QByteArrayLiteral("earlier content\n")));
    QVERIFY(QFile::link(strKept, strLink));
    m_dialogs.strSavePath = strLink;
    Click("m_btnSaveMinute");
    QCOMPARE(m_dialogs.shown, QList<SShownBox>());
    QVERIFY(QFileInfo(strLink).isSymLink());
    QCOMPARE(FileBytes(strKept), ListBytes(Shown("m_listMinute")));
}

void CWindowTest::cancelDuringSlowReply()
{
    auto pMeter = StartMeter();
    MakeWindow({pMeter->SlavePath()});
    Click("m_btnReadSecond");
    const QList<QStringList> before = Shown("m_listSecond");

    pMeter->ChangeBehaviour([](SMeterBehaviour &behaviour) {
        behaviour.bPaced = true;
    });
    Combo("m_comboSpeed")->setCurrentIndex(Combo("m_comboSpeed")->findText(QStringLiteral("1200")));
    m_dialogs.cancelWhen = [](qint64 nBytes) { return nBytes > HEADER_SIZE; };

    QElapsedTimer command;
    command.start();
    Click("m_btnReadSecond");
    const qint64 nAfterCancel = m_dialogs.cancelled.elapsed();
    QVERIFY(m_dialogs.cancelled.isValid());
    QVERIFY2(nAfterCancel < 200, qPrintable(QString::number(nAfterCancel)));
    QVERIFY(command.elapsed() < 3000); // the whole reply would take about 9 s
    QCOMPARE(m_dialogs.nProgressShown, 1);
    QVERIFY(!m_dialogs.bProgressVisible);
    QCOMPARE(m_dialogs.shown, QList<SShownBox>());
    QCOMPARE(Shown("m_listSecond"), before);
    QVERIFY(!m_pWindow->IsBusy());
    QVERIFY(Find<QWidget>("m_pane")->isEnabled());
    QCOMPARE(ProbePort(pMeter->SlavePath()), 1); // the port was let go
}

void CWindowTest::tickWaitsForRunningExchange()
{
    auto pMeter = StartMeter();
    MakeWindow({pMeter->SlavePath()});
    pMeter->ChangeBehaviour([](SMeterBehaviour &behaviour) {
        behaviour.bPaced = true;
    });
    Combo("m_comboSpeed")->setCurrentIndex(Combo("m_comboSpeed")->findText(QStringLiteral("2400")));

    Click("m_chkContinuous"); // a tick falls due after 1 s, inside the 2 s minute read
    Click("m_btnReadMinute");
    QCOMPARE(Commands(*pMeter), (QList<int>{CMD_UNLOCK, CMD_READ_MINUTE}));
    QCOMPARE(m_dialogs.shown, QList<SShownBox>());
    VerifyFilled(Shown("m_listMinute"), CENTS);
    // The held tick runs once the read has ended.
    QTRY_COMPARE_WITH_TIMEOUT(Commands(*pMeter).value(2, -1), int(CMD_READ_SECOND), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!m_pWindow->IsBusy(), 10000);
    Click("m_chkContinuous");
    QCOMPARE(m_dialogs.shown, QList<SShownBox>());
}

void CWindowTest::aboutAndExitKeys()
{
    MakeWindow({});
    m_pWindow->show();
    QVERIFY(QTest::qWaitForWindowActive(m_pWindow.get()));
    QTest::keyClick(m_pWindow.get(), Qt::Key_F1);
    QCOMPARE(m_dialogs.nAbout, 1);
    QCOMPARE(m_pWindow->contextMenuPolicy(), Qt::ActionsContextMenu);
    QCOMPARE(m_pWindow->actions().value(0)->text(), QStringLiteral("&About Varik..."));
    m_pWindow->actions().value(0)->trigger();
    QCOMPARE(m_dialogs.nAbout, 2);

    // Enter on another push button presses that button...
    Button("m_btnSaveSecond")->setFocus();
    QTest::keyClick(Button("m_btnSaveSecond"), Qt::Key_Return);
    QCOMPARE(m_dialogs.fileDialogs.size(), 1);
    QVERIFY(m_pWindow->isVisible());
    // ...and anywhere else runs the exit command, here in the device number edit.
    Edit("m_editDeviceNumber")->setFocus();
    QTest::keyClick(Edit("m_editDeviceNumber"), Qt::Key_Return);
    QVERIFY(!m_pWindow->isVisible());
    QCOMPARE(m_pWindow->result(), int(QDialog::Rejected));
    QVERIFY(QFile::exists(Path(QStringLiteral("varik.INI"))));
}

void CWindowTest::inputDuringReadingStopsContinuousAfterIt_data()
{
    QTest::addColumn<QString>("interval");
    QTest::addColumn<bool>("bKey");
    QTest::newRow("click, 1 s") << u"1"_qs << false;
    QTest::newRow("space, 1 s") << u"1"_qs << true;
    QTest::newRow("click, 0 s") << u"0"_qs << false;
    QTest::newRow("space, 0 s") << u"0"_qs << true;
    QTest::newRow("click, empty") << QString() << false;
}

void CWindowTest::inputDuringReadingStopsContinuousAfterIt()
{
    QFETCH(QString, interval);
    QFETCH(bool, bKey);
    auto pMeter = StartPacedWindow();
    auto *pBox = Find<QCheckBox>("m_chkContinuous");
    auto *pTimer = m_pWindow->findChild<QTimer *>(QStringLiteral("m_timerContinuous"));

    bool bActed = false;
    bool bCheckedAfterAct = false;
    bool bControlsEnabled = false;
    auto pAct = OnceWhileBusy(*m_pWindow, [&] {
        if (bKey)
            KeyThroughWindow(m_pWindow.get(), Qt::Key_Space);
        else
            ClickThroughWindow(pBox);
        bCheckedAfterAct = pBox->isChecked();
        bControlsEnabled = Find<QWidget>("m_pane")->isEnabled() && pBox->isEnabled()
                           && Button("m_btnReadMinute")->isEnabled();
        bActed = true;
    });
    Edit("m_editInterval")->setText(interval);
    Click("m_chkContinuous"); // the box has the focus for the space
    QTRY_VERIFY_WITH_TIMEOUT(bActed, 10000);
    QVERIFY(bCheckedAfterAct);   // the reading was not disturbed...
    QVERIFY(bControlsEnabled);   // ...nor the window greyed
    QTRY_VERIFY_WITH_TIMEOUT(!m_pWindow->IsBusy(), 10000);
    QVERIFY(!pBox->isChecked()); // ...and the click took effect after it
    QVERIFY(!pTimer->isActive());
    const qsizetype nRequests = pMeter->Requests().size();
    QTest::qWait(1300);
    QCOMPARE(pMeter->Requests().size(), nRequests);
    QCOMPARE(Commands(*pMeter).mid(1), QList<int>{int(CMD_READ_SECOND)} + QList<int>{int(CMD_READ_SECOND)});
    QCOMPARE(m_dialogs.shown, QList<SShownBox>());
}

void CWindowTest::exitDuringReadingExitsAfterIt()
{
    auto pMeter = StartMeter();
    MakeWindow({pMeter->SlavePath()});
    m_pWindow->show();
    pMeter->ChangeBehaviour([](SMeterBehaviour &behaviour) {
        behaviour.bPaced = true;
    });
    auto pAct = OnceWhileBusy(*m_pWindow, [&] { Click("m_btnExit"); });
    Click("m_btnReadSecond");
    VerifyFilled(Shown("m_listSecond"), CENTS); // the reading ended as usual
    QVERIFY(!m_pWindow->isVisible());
    QCOMPARE(m_pWindow->result(), int(QDialog::Rejected));
    QVERIFY(FileBytes(Path(QStringLiteral("varik.INI"))).contains(ToCp1251(pMeter->SlavePath())));

    // The close box during a reading closes the window after it as well.
    MakeWindow({pMeter->SlavePath()});
    m_pWindow->show();
    pAct = OnceWhileBusy(*m_pWindow, [&] { m_pWindow->close(); });
    Click("m_btnReadSecond");
    QVERIFY(!m_pWindow->isVisible());
}

void CWindowTest::heldInputEndsWithTheWindow_data()
{
    QTest::addColumn<QString>("exit");
    for (const char *pExit : {"Выход", "Esc", "Enter in the device number", "close box"})
        QTest::newRow(pExit) << QString::fromUtf8(pExit);
}

void CWindowTest::heldInputEndsWithTheWindow()
{
    QFETCH(QString, exit);
    const auto fnExit = [this, exit] {
        if (exit == u"Выход"_qs) {
            ClickThroughWindow(Button("m_btnExit"));
        } else if (exit == u"Esc"_qs) {
            KeyThroughWindow(m_pWindow.get(), Qt::Key_Escape);
        } else if (exit == u"close box"_qs) {
            m_pWindow->windowHandle()->close();
        } else {
            ClickThroughWindow(Edit("m_editDeviceNumber"));
            KeyThroughWindow(m_pWindow.get(), Qt::Key_Return);
        }
    };
    auto pMeter = StartPacedWindow();
    // A tick of continuous reading falls due during the read as well.
    Edit("m_editInterval")->setText(u"1"_qs);
    Click("m_chkContinuous");
    bool bVisibleAfterActs = false;
    auto pAct = OnceWhileBusy(*m_pWindow, [&] {
        fnExit();
        ClickThroughWindow(Button("m_btnReadMinute"));
        KeyThroughWindow(m_pWindow.get(), Qt::Key_F1);
        bVisibleAfterActs = m_pWindow->isVisible();
    });
    Click("m_btnReadSecond");
    QVERIFY(bVisibleAfterActs); // the exit waited for the read...
    QVERIFY(!m_pWindow->isVisible()); // ...and came after it
    QCOMPARE(m_pWindow->result(), int(QDialog::Rejected));
    QVERIFY(QFile::exists(Path(QStringLiteral("varik.INI"))));
    // Nothing after the exit: no Минута read, no tick, no about box.
    QTest::qWait(1500);
    QCOMPARE(Commands(*pMeter), (QList<int>{CMD_UNLOCK, CMD_READ_SECOND, CMD_READ_SECOND}));
    QCOMPARE(m_dialogs.nAbout, 0);
    QCOMPARE(m_dialogs.shown, QList<SShownBox>());
}

void CWindowTest::heldKeysGoToTheFocusOfTheirTurn()
{
    auto pMeter = StartPacedWindow();
    Click("m_chkRecordToFile");
    Edit("m_editRecordFile")->setText(u"a.txt"_qs);
    Edit("m_editInterval")->setText(u"1"_qs);
    // Into the file name, to its end, on to the interval (whose text Tab
    // selects), and a digit for it.
    auto pAct = OnceWhileBusy(*m_pWindow, [&] {
        ClickThroughWindow(Edit("m_editRecordFile"));
        KeyThroughWindow(m_pWindow.get(), Qt::Key_End);
        KeyThroughWindow(m_pWindow.get(), Qt::Key_Tab);
        TypeThroughWindow(m_pWindow.get(), "7");
    });
    Click("m_btnReadSecond");
    QTRY_VERIFY(!m_pWindow->IsBusy());
    QCOMPARE(Edit("m_editRecordFile")->text(), u"a.txt"_qs);
    QCOMPARE(Edit("m_editInterval")->text(), u"7"_qs);
    QCOMPARE(QApplication::focusWidget(), Edit("m_editInterval"));
}

void CWindowTest::heldClicksReachWhatEarlierOnesEnabled()
{
    auto pMeter = StartPacedWindow();
    QVERIFY(!Edit("m_editRecordFile")->isEnabled());
    // "Файл для записи" enables the edit only when its click is delivered.
    auto pAct = OnceWhileBusy(*m_pWindow, [&] {
        ClickThroughWindow(Button("m_chkRecordToFile"));
        ClickThroughWindow(Edit("m_editRecordFile"));
        TypeThroughWindow(m_pWindow.get(), "b.txt");
    });
    Click("m_btnReadSecond");
    QTRY_VERIFY(!m_pWindow->IsBusy());
    QVERIFY(Button("m_chkRecordToFile")->isChecked());
    QVERIFY(Edit("m_editRecordFile")->isEnabled());
    QCOMPARE(Edit("m_editRecordFile")->text(), u"b.txt"_qs);
}

void CWindowTest::heldClicksLeaveNoPopupUnderACommand()
{
    auto pMeter = StartPacedWindow();
    bool bPopupUnderCommand = false;
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] {
        if (m_pWindow->IsBusy() && QApplication::activePopupWidget())
            bPopupUnderCommand = true;
    });
    watch.start(5);
    auto pAct = OnceWhileBusy(*m_pWindow, [&] {
        ClickThroughWindow(Combo("m_comboPort"));
        ClickThroughWindow(Button("m_btnReadMinute"));
    });
    Click("m_btnReadSecond");
    QTest::qWait(200);
    QTRY_VERIFY_WITH_TIMEOUT(!m_pWindow->IsBusy(), 10000);
    QVERIFY(!bPopupUnderCommand);
    QCOMPARE(QApplication::activePopupWidget(), nullptr);
    // As without a read: the click beside the open list closes it and goes
    // no further.
    QCOMPARE(Commands(*pMeter), (QList<int>{CMD_UNLOCK, CMD_READ_SECOND, CMD_READ_SECOND}));
    QCOMPARE(m_dialogs.shown, QList<SShownBox>());
}

void CWindowTest::heldShortcutsTakeEffectAfterTheCommand()
{
    auto pMeter = StartPacedWindow();
    int nAboutWhileBusy = -1;
    bool bChartsWhileBusy = true;
    // Keys before, between and after the shortcuts go to the device number.
    auto pAct = OnceWhileBusy(*m_pWindow, [&] {
        ClickThroughWindow(Edit("m_editDeviceNumber"));
        KeyThroughWindow(m_pWindow.get(), Qt::Key_End);
        TypeThroughWindow(m_pWindow.get(), "2");
        KeyThroughWindow(m_pWindow.get(), Qt::Key_F1);
        TypeThroughWindow(m_pWindow.get(), "3");
        KeyThroughWindow(m_pWindow.get(), Qt::Key_G, Qt::ControlModifier);
        TypeThroughWindow(m_pWindow.get(), "4");
        nAboutWhileBusy = m_dialogs.nAbout;
        bChartsWhileBusy = m_pWindow->Charts() != nullptr;
    });
    Click("m_btnReadSecond");
    QCOMPARE(nAboutWhileBusy, 0);
    QVERIFY(!bChartsWhileBusy);
    QCOMPARE(m_dialogs.nAbout, 1);
    QVERIFY(m_pWindow->Charts() && m_pWindow->Charts()->isVisible());
    QCOMPARE(Edit("m_editDeviceNumber")->text(), u"1234"_qs);
}

QTEST_MAIN(CWindowTest)
#include "window_test.moc"
