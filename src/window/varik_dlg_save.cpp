// Saving a list to a text file.
#include "files/file_text.h"
#include "window/varik_dlg.h"

#include "window/window_text.h"
#include "files/file_output.h"
#include "data/list_file.h"

void CVarikDlg::OnSaveSecond()
{
    SaveList(m_modelSecond);
}

void CVarikDlg::OnSaveMinute()
{
    SaveList(m_modelMinute);
}

void CVarikDlg::OnSaveDay()
{
    SaveList(m_modelDay);
}

void CVarikDlg::SaveList(const CListModel &model)
{
    RunCommand([this, &model] {
        const QString strPath =
            m_pDialogs->SaveFileName({QStringLiteral("txt"), WindowText::NewFileName(), WindowText::FileFilter()});
        if (strPath.isEmpty())
            return;
        switch (ReplaceFile(strPath, ListFileBytes(model.Rows()))) {
        case EFileResult::Ok:
            break;
        case EFileResult::OpenFailed:
            m_operator.ShowMessage(FileText::OpenFailed(), EMsgIcon::Exclamation);
            break;
        case EFileResult::WriteFailed:
            m_operator.ShowMessage(FileText::WriteFailed(), EMsgIcon::Exclamation);
            break;
        }
    });
}
