// The real Qt boxes and dialogs behind the window's seam: what the operator
// sees in each, answered by clicking their own buttons.
#include "window/access_dlg.h"
#include "window/window_text.h"
#include "link/frame.h"
#include "sim/meter_sim.h"
#include "window/qt_dialogs.h"
#include "window/qt_translations.h"
#include "window/varik_dlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <QWindow>

#include <functional>

namespace {

// The modal window that is up, or else the progress box (which is not
// modal, so that clicks on the window wait instead of being dropped).
QWidget *BoxUp()
{
    if (QWidget *pModal = QApplication::activeModalWidget())
        return pModal;
    for (QWidget *pWidget : QApplication::topLevelWidgets()) {
        if (qobject_cast<QProgressDialog *>(pWidget) && pWidget->isVisible())
            return pWidget;
    }
    return nullptr;
}

// Calls fn with each modal window or progress box that comes up, every
// 20 ms, until the returned timer is deleted; fn returns true once it has
// dealt with it.
std::unique_ptr<QTimer> OnModal(std::function<bool(QWidget *)> fn)
{
    auto pTimer = std::make_unique<QTimer>();
    QObject::connect(pTimer.get(), &QTimer::timeout, [fn] {
        if (QWidget *pBox = BoxUp())
            fn(pBox);
    });
    pTimer->start(20);
    return pTimer;
}

QPushButton *ButtonText(QWidget *pParent, const QString &strText)
{
    for (QPushButton *pButton : pParent->findChildren<QPushButton *>()) {
        if (pButton->text() == strText)
            return pButton;
    }
    return nullptr;
}

} // namespace

class CDialogsTest : public QObject {
    Q_OBJECT
private slots:
    void accessDialog();
    void messageBoxes_data();
    void messageBoxes();
    void accessThroughTheSeam();
    void aboutBox();
    void fileDialogs();
    void progressBoxCancelsSlowRead_data();
    void progressBoxCancelsSlowRead();
    void qtTextsInRussian();
};

void CDialogsTest::accessDialog()
{
    CAccessDlg dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral(" Аутентификация"));
    auto *pLevel = dialog.findChild<QComboBox *>(QStringLiteral("m_comboLevel"));
    auto *pPassword = dialog.findChild<QLineEdit *>(QStringLiteral("m_editPassword"));
    QVERIFY(pLevel && pPassword);
    QCOMPARE(pLevel->count(), 2);
    QCOMPARE(pLevel->itemText(0), QStringLiteral("Первый уровень"));
    QCOMPARE(pLevel->itemText(1), QStringLiteral("Второй уровень"));
    QVERIFY(!pLevel->isEditable());
    QCOMPARE(pPassword->maxLength(), 8);
    QCOMPARE(pPassword->echoMode(), QLineEdit::Password);
    QCOMPARE(dialog.Level(), 0);
    QCOMPARE(dialog.Password(), QString());
    QPushButton *pOk = ButtonText(&dialog, QStringLiteral("Продолжить"));
    QPushButton *pCancel = ButtonText(&dialog, QStringLiteral("Отмена"));
    QVERIFY(pOk && pCancel);
    QVERIFY(pOk->isDefault());
    QStringList labels;
    for (const QLabel *pLabel : dialog.findChildren<QLabel *>())
        labels.append(pLabel->text());
    labels.sort();
    QCOMPARE(labels, (QStringList{u"Пароль:"_qs, u"Уровень доступа:"_qs}));
    QList<QWidget *> tabOrder;
    for (QWidget *pWidget = pLevel; tabOrder.size() < 4; pWidget = pWidget->nextInFocusChain()) {
        if (pWidget->focusPolicy() & Qt::TabFocus)
            tabOrder.append(pWidget);
    }
    QCOMPARE(tabOrder, (QList<QWidget *>{pLevel, pPassword, pOk, pCancel}));

    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QCOMPARE(QApplication::focusWidget(), pLevel);
    QTest::keyClicks(pPassword, QStringLiteral("123456789X"));
    QCOMPARE(dialog.Password(), QStringLiteral("12345678"));
    pLevel->setCurrentIndex(1);
    QTest::mouseClick(pOk, Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.Level(), 1);
}

void CDialogsTest::messageBoxes_data()
{
    QTest::addColumn<int>("icon");
    QTest::addColumn<bool>("yesNo");
    QTest::addColumn<int>("boxIcon");
    QTest::addColumn<QStringList>("buttons");
    const QStringList ok{u"OK"_qs};
    const QStringList yesNo{u"Да"_qs, u"Нет"_qs};
    QTest::newRow("stop") << int(EMsgIcon::Stop) << false << int(QMessageBox::Critical) << ok;
    QTest::newRow("information") << int(EMsgIcon::Information) << false << int(QMessageBox::Information) << ok;
    QTest::newRow("exclamation") << int(EMsgIcon::Exclamation) << false << int(QMessageBox::Warning) << ok;
    QTest::newRow("question") << int(EMsgIcon::Question) << true << int(QMessageBox::Question) << yesNo;
}

void CDialogsTest::messageBoxes()
{
    QFETCH(int, icon);
    QFETCH(bool, yesNo);
    QFETCH(int, boxIcon);
    QFETCH(QStringList, buttons);

    QWidget owner;
    CQtDialogs dialogs(&owner, QStringLiteral("varik"));
    QString strTitle;
    QString strText;
    int nIcon = -1;
    QStringList shownButtons;
    auto pScript = OnModal([&](QWidget *pModal) {
        auto *pBox = qobject_cast<QMessageBox *>(pModal);
        if (!pBox)
            return false;
        strTitle = pBox->windowTitle();
        strText = pBox->text();
        nIcon = pBox->icon();
        for (QAbstractButton *pButton : pBox->buttons())
            shownButtons.append(pButton->text());
        QTest::mouseClick(pBox->buttons().constLast(), Qt::LeftButton); // "Нет" or "OK"
        return true;
    });
    const QString strMessage = QStringLiteral("Не удалось установить соединение.\nВозможно, что:");
    const EMsgAnswer answer =
        dialogs.Message(strMessage, EMsgIcon(icon), yesNo ? EMsgButtons::YesNo : EMsgButtons::Ok);
    QCOMPARE(strTitle, QStringLiteral("varik"));
    QCOMPARE(strText, strMessage);
    QCOMPARE(nIcon, boxIcon);
    shownButtons.sort();
    QStringList expected = buttons;
    expected.sort();
    QCOMPARE(shownButtons, expected);
    QCOMPARE(answer, yesNo ? EMsgAnswer::No : EMsgAnswer::Ok);
}

void CDialogsTest::accessThroughTheSeam()
{
    QWidget owner;
    CQtDialogs dialogs(&owner, QStringLiteral("varik"));
    int nLevel = -1;
    QString strPassword = QStringLiteral("old");

    auto pCancel = OnModal([](QWidget *pModal) {
        QTest::mouseClick(ButtonText(pModal, QStringLiteral("Отмена")), Qt::LeftButton);
        return true;
    });
    QVERIFY(!dialogs.Access(nLevel, strPassword));
    QCOMPARE(nLevel, -1);
    pCancel.reset();

    auto pConfirm = OnModal([](QWidget *pModal) {
        auto *pLevel = pModal->findChild<QComboBox *>(QStringLiteral("m_comboLevel"));
        auto *pEdit = pModal->findChild<QLineEdit *>(QStringLiteral("m_editPassword"));
        if (!pLevel || !pEdit || pLevel->currentIndex() != 0 || !pEdit->text().isEmpty())
            return false; // it always opens at the first level with no password
        pLevel->setCurrentIndex(1);
        QTest::keyClicks(pEdit, QStringLiteral("2222"));
        QTest::mouseClick(ButtonText(pModal, QStringLiteral("Продолжить")), Qt::LeftButton);
        return true;
    });
    QVERIFY(dialogs.Access(nLevel, strPassword));
    QCOMPARE(nLevel, 1);
    QCOMPARE(strPassword, QStringLiteral("2222"));
}

void CDialogsTest::aboutBox()
{
    QWidget owner;
    CQtDialogs dialogs(&owner, QStringLiteral("varik"));
    QString strTitle;
    QStringList texts;
    bool bIcon = false;
    auto pScript = OnModal([&](QWidget *pModal) {
        strTitle = pModal->windowTitle();
        for (const QLabel *pLabel : pModal->findChildren<QLabel *>()) {
            if (!pLabel->pixmap().isNull())
                bIcon = true;
            else
                texts.append(pLabel->text());
        }
        QTest::mouseClick(ButtonText(pModal, QStringLiteral("OK")), Qt::LeftButton);
        return true;
    });
    dialogs.About();
    QCOMPARE(strTitle, QStringLiteral("About Varik"));
    QCOMPARE(texts, QStringList{u"Varik Version 1.0"_qs});
    QVERIFY(bIcon);
}

void CDialogsTest::fileDialogs()
{
    QTemporaryDir dir;
    const QString strOldDir = QDir::currentPath();
    QDir::setCurrent(dir.path());
    QWidget owner;
    CQtDialogs dialogs(&owner, QStringLiteral("varik"));

    const struct {
        bool bSave;
        SFileDialog fileDialog;
        QString strTyped;
        QString strExpected;
    } cases[] = {
        {true, {u"txt"_qs, u"Новый"_qs, WindowText::FileFilter()}, u"Отчёт"_qs, u"Отчёт.txt"_qs},
        {false, {u"hex"_qs, QString(), WindowText::FileFilter()}, u"log"_qs, u"log.hex"_qs},
    };
    for (const auto &c : cases) {
        QString strInitial;
        QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
        QStringList filters;
        bool bConfirmOverwrite = true;
        auto pScript = OnModal([&](QWidget *pModal) {
            auto *pDialog = qobject_cast<QFileDialog *>(pModal);
            auto *pName = pModal->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            if (!pDialog || !pName)
                return false;
            strInitial = pName->text();
            mode = pDialog->acceptMode();
            filters = pDialog->nameFilters();
            bConfirmOverwrite = !pDialog->testOption(QFileDialog::DontConfirmOverwrite);
            pName->setText(c.strTyped);
            QMetaObject::invokeMethod(pDialog, "accept");
            return true;
        });
        const QString strPath = c.bSave ? dialogs.SaveFileName(c.fileDialog) : dialogs.OpenFileName(c.fileDialog);
        QCOMPARE(strPath, QDir(dir.path()).filePath(c.strExpected));
        QCOMPARE(strInitial, c.fileDialog.strInitialName);
        QCOMPARE(mode, c.bSave ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        // Qt's file dialog folds the two blanks before the parenthesis into one.
        QCOMPARE(filters, QStringList{u"Текстовый файл (*.txt)"_qs});
        QVERIFY(!bConfirmOverwrite);
    }
    QDir::setCurrent(strOldDir);
}

void CDialogsTest::progressBoxCancelsSlowRead_data()
{
    QTest::addColumn<bool>("bEscape");
    QTest::newRow("Отмена clicked") << false;
    // The box takes no focus: Esc comes to the window, which has kept it.
    QTest::newRow("Esc to the window") << true;
}

void CDialogsTest::progressBoxCancelsSlowRead()
{
    QFETCH(bool, bEscape);
    QTemporaryDir dir;
    const QString strOldDir = QDir::currentPath();
    QDir::setCurrent(dir.path());
    CMeterSim meter;
    QVERIFY(meter.Start());
    meter.ChangeBehaviour([](SMeterBehaviour &behaviour) {
        behaviour.bPaced = true;
    });

    SWindowSetup setup;
    setup.strTitle = QStringLiteral("varik");
    setup.extraPorts = {meter.SlavePath()};
    setup.fnSystemPorts = [] { return QStringList(); };
    setup.strDeviceNumber = QStringLiteral("1");
    setup.strLimitsPath = QDir(dir.path()).filePath(QStringLiteral("limits.txt"));
    CVarikDlg window(setup); // the real boxes and dialogs
    auto *pSpeed = window.findChild<QComboBox *>(QStringLiteral("m_comboSpeed"));
    pSpeed->setCurrentIndex(pSpeed->findText(QStringLiteral("1200")));
    window.show();

    QElapsedTimer command;
    QStringList seen;
    QString strProgressTitle;
    qint64 nProgressAfter = -1;
    QElapsedTimer cancelled;
    auto *pFeeder = window.findChild<QCheckBox *>(QStringLiteral("m_chkSecondFeeder"));
    bool bFeederDuringRead = true;
    auto pScript = OnModal([&](QWidget *pModal) {
        if (qobject_cast<CAccessDlg *>(pModal)) {
            seen.append(u"access"_qs);
            QTest::mouseClick(ButtonText(pModal, QStringLiteral("Продолжить")), Qt::LeftButton);
            command.restart(); // the wait starts again after the dialog
        } else if (auto *pProgress = qobject_cast<QProgressDialog *>(pModal)) {
            if (!pProgress->labelText().contains(u"Получено байт: "_qs) || pProgress->labelText().endsWith(u": 0"_qs))
                return false; // wait for the first bytes
            if (!cancelled.isValid()) {
                seen.append(u"progress"_qs);
                strProgressTitle = pProgress->windowTitle();
                nProgressAfter = command.elapsed();
                // A click on the window meanwhile waits for the end of the read.
                QWindow *pHandle = window.windowHandle();
                QTest::mouseClick(pHandle, Qt::LeftButton, {},
                                  pHandle->mapFromGlobal(pFeeder->mapToGlobal(pFeeder->rect().center())));
                bFeederDuringRead = pFeeder->isChecked();
                if (bEscape)
                    QTest::keyClick(pHandle, Qt::Key_Escape);
                else
                    QTest::mouseClick(ButtonText(pProgress, QStringLiteral("Отмена")), Qt::LeftButton);
                cancelled.start();
            }
        } else {
            seen.append(pModal->metaObject()->className());
            pModal->close();
        }
        return true;
    });
    command.start();
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("m_btnReadSecond")), Qt::LeftButton);
    const qint64 nAfterCancel = cancelled.isValid() ? cancelled.elapsed() : -1;
    pScript.reset();

    QCOMPARE(seen, (QStringList{u"access"_qs, u"progress"_qs}));
    QCOMPARE(strProgressTitle, QStringLiteral("varik"));
    QVERIFY2(nProgressAfter >= 500, qPrintable(QString::number(nProgressAfter)));
    QVERIFY2(nAfterCancel >= 0 && nAfterCancel < 200, qPrintable(QString::number(nAfterCancel)));
    QVERIFY(!window.IsBusy());
    QCOMPARE(window.SecondRows().at(1).strValue, QString());
    QCOMPARE(BoxUp(), nullptr);
    QVERIFY(!bFeederDuringRead);
    QVERIFY(pFeeder->isChecked());
    QVERIFY(window.isVisible()); // Esc cancelled the read, not the window
    window.hide();
    QDir::setCurrent(strOldDir);
}

void CDialogsTest::qtTextsInRussian()
{
    QTemporaryDir empty;
    QVERIFY(!InstallQtTranslations(*qApp, empty.path())); // without them the program runs on in English
    if (!QFileInfo::exists(QtTranslationsFolder() + QStringLiteral("/qtbase_ru.qm")))
        QSKIP("Qt's Russian translations (qt6-translations-l10n) are not installed");
    std::unique_ptr<QTranslator> pTranslator(InstallQtTranslations(*qApp));
    QVERIFY(pTranslator);

    QTemporaryDir dir;
    const QString strOldDir = QDir::currentPath();
    QDir::setCurrent(dir.path());
    QWidget owner;
    CQtDialogs dialogs(&owner, QStringLiteral("varik"));

    // The save dialog: Qt's own buttons and labels.
    QStringList buttons;
    QStringList labels;
    auto pSave = OnModal([&](QWidget *pModal) {
        auto *pBox = pModal->findChild<QDialogButtonBox *>();
        if (!qobject_cast<QFileDialog *>(pModal) || !pBox)
            return false;
        for (QAbstractButton *pButton : pBox->buttons())
            buttons.append(pButton->text().remove(u'&'));
        for (const QLabel *pLabel : pModal->findChildren<QLabel *>())
            labels.append(pLabel->text().remove(u'&'));
        QMetaObject::invokeMethod(pModal, "reject");
        return true;
    });
    QCOMPARE(dialogs.SaveFileName({u"txt"_qs, u"Новый"_qs, WindowText::FileFilter()}), QString());
    pSave.reset();
    buttons.sort();
    QCOMPARE(buttons, (QStringList{u"Отмена"_qs, u"Сохранить"_qs}));
    QVERIFY2(labels.contains(u"Имя файла:"_qs), qPrintable(labels.join(u'|')));

    // The about box is ours and stays English, its OK button included.
    QString strTitle;
    QStringList aboutTexts;
    auto pAbout = OnModal([&](QWidget *pModal) {
        strTitle = pModal->windowTitle();
        for (const QAbstractButton *pButton : pModal->findChildren<QAbstractButton *>())
            aboutTexts.append(pButton->text());
        for (const QLabel *pLabel : pModal->findChildren<QLabel *>())
            if (pLabel->pixmap().isNull())
                aboutTexts.append(pLabel->text());
        QTest::mouseClick(ButtonText(pModal, QStringLiteral("OK")), Qt::LeftButton);
        return true;
    });
    dialogs.About();
    pAbout.reset();
    QCOMPARE(strTitle, QStringLiteral("About Varik"));
    aboutTexts.sort();
    QCOMPARE(aboutTexts, (QStringList{u"OK"_qs, u"Varik Version 1.0"_qs}));

    QDir::setCurrent(strOldDir);
}

QTEST_MAIN(CDialogsTest)
#include "dialogs_test.moc"
