#include "window/about_dlg.h"

#include "ui_about_dlg.h"

CAboutDlg::CAboutDlg(QWidget *pParent) : QDialog(pParent), m_pUi(new Ui::CAboutDlg)
{
    m_pUi->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);
    setFixedSize(sizeHint());
}

CAboutDlg::~CAboutDlg() = default;
