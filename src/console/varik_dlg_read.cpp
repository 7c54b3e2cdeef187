// The commands that talk to the meter: the three reads and the connection
// check.
#include "varik_dlg.h"

#include "atoi.h"
#include "console_text.h"
#include "decoders.h"
#include "ui_varik_dlg.h"

#include <vector>

void CVarikDlg::OnReadSecond()
{
    RunCommand([this] { ReadSecond(); });
}

void CVarikDlg::ReadSecond()
{
    // A short per-second reply is dropped silently, as it always was.
    ReadList(CMD_READ_SECOND, SECOND_DATA_SIZE, m_modelSecond, DecodeSecond, false);
}

void CVarikDlg::OnReadMinute()
{
    RunCommand([this] { ReadList(CMD_READ_MINUTE, MINUTE_DATA_SIZE, m_modelMinute, DecodeMinute, true); });
}

void CVarikDlg::OnReadDay()
{
    RunCommand([this] { ReadList(CMD_READ_DAY, DAY_DATA_SIZE, m_modelDay, DecodeDay, true); });
}

void CVarikDlg::OnCheckConnection()
{
    RunCommand([this] {
        // The check and the unlock carry the feeder the last read left.
        if (!TakeLinkSettings(false))
            return;
        if (!m_link.CheckConnection())
            return;
        m_link.Unlock(1, QString());
    });
}

bool CVarikDlg::TakeLinkSettings(bool bSetFeeder)
{
    UpdateData(true);
    const QString strPort = m_pUi->m_comboPort->currentText();
    const QString strSpeed = m_pUi->m_comboSpeed->currentText();
    const QString strDevice = m_pUi->m_editDeviceNumber->text();
    if (bSetFeeder)
        g_nFeeder = m_bSecondFeeder ? 1 : 0;
    const int nDevice = AtoI(strDevice);
    if (!IsDeviceNumber(nDevice)) {
        m_operator.ShowMessage(ConsoleText::DeviceNumber(), EMsgIcon::Exclamation);
        return false;
    }
    m_link.SetPortName(strPort);
    m_link.SetBaudRate(AtoI(strSpeed));
    m_link.SetDeviceNumber(quint16(nDevice));
    return true;
}

void CVarikDlg::ReadList(quint8 nCommand, int nSize, CListModel &model, Decoder fnDecode, bool bReportShortReply)
{
    if (!TakeLinkSettings(true))
        return;
    std::vector<quint8> reply(size_t(nSize), 0);
    quint16 nLength = quint16(nSize);
    if (!m_link.Exchange(nCommand, 1, reply.data(), &nLength, nullptr, 0))
        return; // the link has told the operator why, or the operator cancelled
    if (nLength < nSize) {
        if (bReportShortReply)
            m_operator.ShowMessage(ConsoleText::ReadFailed(), EMsgIcon::Exclamation);
        return;
    }
    CListRows rows = model.Rows();
    if (fnDecode(reply.data(), nLength, rows))
        model.SetRows(std::move(rows));
}
