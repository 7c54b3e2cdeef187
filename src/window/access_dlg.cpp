#include "window/access_dlg.h"

#include "link/frame.h"
#include "ui_access_dlg.h"

CAccessDlg::CAccessDlg(QWidget *pParent) : QDialog(pParent), m_pUi(new Ui::CAccessDlg)
{
    m_pUi->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);
    m_pUi->m_editPassword->setMaxLength(MAX_PASSWORD_LENGTH);
    // Opens with the first level and an empty password, the level list in focus.
    m_pUi->m_comboLevel->setCurrentIndex(0);
    m_pUi->m_editPassword->clear();
    m_pUi->m_comboLevel->setFocus();
    setFixedSize(sizeHint());
}

CAccessDlg::~CAccessDlg() = default;

int CAccessDlg::Level() const
{
    return m_pUi->m_comboLevel->currentIndex();
}

QString CAccessDlg::Password() const
{
    return m_pUi->m_editPassword->text();
}
