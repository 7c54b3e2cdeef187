#include "window/qt_dialogs.h"

#include "window/about_dlg.h"
#include "window/access_dlg.h"
#include "window/charts_text.h"
#include "window/report_period_dlg.h"
#include "window/window_text.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QUrl>

CQtDialogs::CQtDialogs(QWidget *pOwner, QString strTitle) : m_pOwner(pOwner), m_strTitle(std::move(strTitle)) {}

CQtDialogs::~CQtDialogs()
{
    ProgressHide();
    ReportProgressHide();
}

EMsgAnswer CQtDialogs::Message(const QString &strText, EMsgIcon icon, EMsgButtons buttons)
{
    QMessageBox::Icon boxIcon = QMessageBox::Warning;
    switch (icon) {
    case EMsgIcon::Stop:
        boxIcon = QMessageBox::Critical;
        break;
    case EMsgIcon::Information:
        boxIcon = QMessageBox::Information;
        break;
    case EMsgIcon::Exclamation:
        boxIcon = QMessageBox::Warning;
        break;
    case EMsgIcon::Question:
        boxIcon = QMessageBox::Question;
        break;
    }
    if (buttons == EMsgButtons::Ok) {
        QMessageBox box(boxIcon, m_strTitle, strText, QMessageBox::Ok, m_pOwner);
        box.exec();
        return EMsgAnswer::Ok;
    }
    QMessageBox box(boxIcon, m_strTitle, strText, QMessageBox::Yes | QMessageBox::No, m_pOwner);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("Да"));
    box.button(QMessageBox::No)->setText(QStringLiteral("Нет"));
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes ? EMsgAnswer::Yes : EMsgAnswer::No;
}

bool CQtDialogs::Access(int &nLevel, QString &strPassword)
{
    CAccessDlg dialog(m_pOwner);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    nLevel = dialog.Level();
    strPassword = dialog.Password();
    return true;
}

QString CQtDialogs::FileName(const SFileDialog &fileDialog, bool bSave)
{
    QFileDialog dialog(m_pOwner);
    dialog.setAcceptMode(bSave ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // A name that does not exist yet may be typed in either dialog.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setNameFilter(fileDialog.strFilter);
    dialog.setDefaultSuffix(fileDialog.strDefaultSuffix);
    if (!fileDialog.strInitialName.isEmpty())
        dialog.selectFile(fileDialog.strInitialName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

QString CQtDialogs::SaveFileName(const SFileDialog &dialog)
{
    return FileName(dialog, true);
}

QString CQtDialogs::OpenFileName(const SFileDialog &dialog)
{
    return FileName(dialog, false);
}

void CQtDialogs::About()
{
    CAboutDlg dialog(m_pOwner);
    dialog.exec();
}

void CQtDialogs::ProgressShow()
{
    ProgressHide();
    m_pProgress = new QProgressDialog(WindowText::Waiting(0), WindowText::Cancel(), 0, 0, m_pOwner);
    m_pProgress->setWindowTitle(m_strTitle);
    // Not modal: a modal box would make the window drop the clicks it gets
    // meanwhile, and those wait for the end of the command instead.
    m_pProgress->setWindowModality(Qt::NonModal);
    // Nor does it take the focus: what the operator types meanwhile stays
    // with the window and waits for the end of the command like the clicks,
    // rather than going to a box that has only Cancel. Its Esc reaches it
    // through the window's held input.
    m_pProgress->setAttribute(Qt::WA_ShowWithoutActivating);
    m_pProgress->setWindowFlag(Qt::WindowDoesNotAcceptFocus);
    m_pProgress->setMinimumDuration(0);
    m_pProgress->setAutoClose(false);
    m_pProgress->setAutoReset(false);
    m_pProgress->show();
}

bool CQtDialogs::ProgressUpdate(qint64 nBytesReceived)
{
    if (!m_pProgress)
        return true;
    if (m_pProgress->wasCanceled())
        return false;
    m_pProgress->setLabelText(WindowText::Waiting(nBytesReceived));
    return true;
}

void CQtDialogs::ProgressHide()
{
    delete m_pProgress.data();
}

QStringList CQtDialogs::OpenFileNames(const SFileDialog &fileDialog)
{
    QFileDialog dialog(m_pOwner);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilter(fileDialog.strFilter);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}

bool CQtDialogs::ReportPeriod(SReportPeriod &period)
{
    CReportPeriodDlg dialog(m_pOwner, period);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    period = dialog.Period();
    return true;
}

void CQtDialogs::ReportProgressShow()
{
    ReportProgressHide();
    m_pReportProgress = new QProgressDialog(ChartsText::ReportReading(), WindowText::Cancel(), 0, 1000, m_pOwner);
    m_pReportProgress->setWindowTitle(m_strTitle);
    // Not modal: the meter may be read meanwhile, in either window.
    m_pReportProgress->setWindowModality(Qt::NonModal);
    m_pReportProgress->setMinimumDuration(0);
    m_pReportProgress->setAutoClose(false);
    m_pReportProgress->setAutoReset(false);
    m_pReportProgress->show();
}

bool CQtDialogs::ReportProgressUpdate(int nPermille)
{
    if (!m_pReportProgress)
        return true;
    if (m_pReportProgress->wasCanceled())
        return false;
    m_pReportProgress->setValue(nPermille);
    return true;
}

void CQtDialogs::ReportProgressHide()
{
    delete m_pReportProgress.data();
}

bool CQtDialogs::OpenDocument(const QString &strPath)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(strPath));
}
