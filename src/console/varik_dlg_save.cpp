// Saving a list to a text file.
#include "varik_dlg.h"

#include "console_text.h"
#include "file_output.h"
#include "list_file.h"

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
            m_pDialogs->SaveFileName({QStringLiteral("txt"), ConsoleText::NewFileName(), ConsoleText::FileFilter()});
        if (strPath.isEmpty())
            return;
        switch (ReplaceFile(strPath, ListFileBytes(model.Rows()))) {
        case EFileResult::Ok:
            break;
        case EFileResult::OpenFailed:
            m_operator.ShowMessage(ConsoleText::OpenFailed(), EMsgIcon::Exclamation);
            break;
        case EFileResult::WriteFailed:
            m_operator.ShowMessage(ConsoleText::WriteFailed(), EMsgIcon::Exclamation);
            break;
        }
    });
}
