// Continuous reading: the timer, the interval spin and recording each
// reading into a file.
#include "files/file_text.h"
#include "window/varik_dlg.h"

#include "link/atoi.h"
#include "window/window_text.h"
#include "files/file_output.h"
#include "data/list_file.h"
#include "ui_varik_dlg.h"

#include <algorithm>
#include <climits>

void CVarikDlg::OnContinuousRead()
{
    if (m_pUi->m_chkContinuous->isChecked()) {
        UpdateData(true);
        StartTimer();
    } else {
        m_timerContinuous.stop();
        m_commands.DropTick();
    }
}

void CVarikDlg::StartTimer()
{
    // Intervals beyond what a millisecond count can hold wait as long as it can.
    const int nSeconds = std::clamp(AtoI(m_strInterval), 0, INT_MAX / 1000);
    m_timerContinuous.start(nSeconds * 1000);
}

void CVarikDlg::OnTimer()
{
    // Stopped first, so that no tick arrives while this one reads; a tick
    // that falls due during another command runs once that command ends.
    m_timerContinuous.stop();
    if (IsBusy()) {
        m_commands.TickDue();
        return;
    }
    if (!m_pUi->m_chkContinuous->isChecked())
        return;
    RunCommand([this] { TickOnce(); });
}

void CVarikDlg::TickOnce()
{
    ReadSecond(true); // a failed read leaves the last values for the record
    UpdateData(true);
    if (m_bRecordToFile)
        Record();
    if (m_pUi->m_chkContinuous->isChecked())
        StartTimer();
}

void CVarikDlg::Record()
{
    const EFileResult result = AppendToExistingFile(m_pUi->m_editRecordFile->text(), RecordBytes(m_modelSecond.Rows()));
    if (result == EFileResult::Ok)
        return;
    // Recording stops; the file controls stay usable to pick another file.
    m_bRecordToFile = false;
    UpdateData(false);
    m_pUi->m_btnBrowse->setEnabled(true);
    m_pUi->m_editRecordFile->setEnabled(true);
    m_operator.ShowMessage(result == EFileResult::OpenFailed ? FileText::OpenFailed() : FileText::WriteFailed(),
                           EMsgIcon::Exclamation);
}

void CVarikDlg::OnDeltaposInterval(int nPosition, int nDelta)
{
    // The spin has a position of its own; only this handler writes the edit.
    UpdateData(true);
    m_strInterval = QString::number(std::clamp(nPosition + nDelta, 1, 6000));
    UpdateData(false);
}

void CVarikDlg::OnRecordToFile()
{
    UpdateData(true);
    m_pUi->m_btnBrowse->setEnabled(m_bRecordToFile);
    m_pUi->m_editRecordFile->setEnabled(m_bRecordToFile);
}

void CVarikDlg::OnBrowseRecordFile()
{
    RunCommand([this] {
        const QString strPath = m_pDialogs->OpenFileName({QStringLiteral("hex"), QString(), WindowText::FileFilter()});
        if (!strPath.isEmpty())
            m_pUi->m_editRecordFile->setText(strPath);
    });
}
