// The access dialog: the operator picks an access level and types the
// password that opens it on the meter.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class CAccessDlg;
}

class CAccessDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAccessDlg(QWidget *pParent = nullptr);
    ~CAccessDlg() override;

    // 0 for "Первый уровень", 1 for "Второй уровень".
    int Level() const;
    // At most 8 characters: the edit takes no more.
    QString Password() const;

private:
    std::unique_ptr<Ui::CAccessDlg> m_pUi;
};
