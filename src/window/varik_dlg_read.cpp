// The commands that talk to the meter: the three reads and the connection
// check.
#include "session/session_text.h"
#include "window/varik_dlg.h"

#include "link/atoi.h"
#include "window/window_text.h"
#include "data/csv_log.h"
#include "data/decoders.h"
#include "ui_varik_dlg.h"

#include <QDateTime>

#include <vector>

void CVarikDlg::OnReadSecond()
{
    RunCommand([this] { ReadSecond(false); });
}

void CVarikDlg::ReadSecond(bool bTick)
{
    // A short per-second reply is dropped silently, as it always was.
    std::vector<quint8> reply;
    const bool bRead = ReadList(CMD_READ_SECOND, SECOND_DATA_SIZE, m_modelSecond, DecodeSecond, false, reply);
    const qint64 nNow = QDateTime::currentMSecsSinceEpoch();
    if (!bRead) {
        if (bTick)
            emit SecondTickFailed(nNow);
        return;
    }
    m_nSecondReadTime = nNow;
    std::vector<std::int32_t> raw;
    SecondRawValues(reply.data(), reply.size(), raw);
    emit SecondRead(nNow, raw, bTick);
}

void CVarikDlg::OnReadMinute()
{
    RunCommand([this] {
        std::vector<quint8> reply;
        if (!ReadList(CMD_READ_MINUTE, MINUTE_DATA_SIZE, m_modelMinute, DecodeMinute, true, reply))
            return;
        m_nMinuteReadTime = QDateTime::currentMSecsSinceEpoch();
        emit MinuteRead(m_nMinuteReadTime);
    });
}

void CVarikDlg::OnReadDay()
{
    RunCommand([this] {
        std::vector<quint8> reply;
        ReadList(CMD_READ_DAY, DAY_DATA_SIZE, m_modelDay, DecodeDay, true, reply);
    });
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
        m_operator.ShowMessage(SessionText::DeviceNumber(), EMsgIcon::Exclamation);
        return false;
    }
    m_link.SetPortName(strPort);
    m_link.SetBaudRate(AtoI(strSpeed));
    m_link.SetDeviceNumber(quint16(nDevice));
    return true;
}

bool CVarikDlg::ReadList(quint8 nCommand, int nSize, CListModel &model, Decoder fnDecode, bool bReportShortReply,
                         std::vector<quint8> &reply)
{
    if (!TakeLinkSettings(true))
        return false;
    reply.assign(size_t(nSize), 0);
    quint16 nLength = quint16(nSize);
    if (!m_link.Exchange(nCommand, 1, reply.data(), &nLength, nullptr, 0))
        return false; // the link has told the operator why, or the operator cancelled
    if (nLength < nSize) {
        if (bReportShortReply)
            m_operator.ShowMessage(SessionText::ReadFailed(), EMsgIcon::Exclamation);
        return false;
    }
    reply.resize(nLength);
    CListRows rows = model.Rows();
    if (!fnDecode(reply.data(), nLength, rows))
        return false;
    model.SetRows(std::move(rows));
    return true;
}
