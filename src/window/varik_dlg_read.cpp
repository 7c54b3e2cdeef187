// The commands that talk to the meter: the three reads and the connection
// check.
#include "window/varik_dlg.h"

#include "link/atoi.h"
#include "ui_varik_dlg.h"

void CVarikDlg::OnReadSecond()
{
    RunCommand([this] { ReadSecond(false); });
}

void CVarikDlg::ReadSecond(bool bTick)
{
    // A short per-second reply is dropped silently, as it always was.
    const SReadResult result = ReadList(EDataSet::Second, m_modelSecond, false);
    if (!result) {
        if (bTick)
            emit SecondTickFailed(result.nMsecs);
        return;
    }
    m_nSecondReadTime = result.nMsecs;
    emit SecondRead(result.nMsecs, result.reading.raw, bTick);
}

void CVarikDlg::OnReadMinute()
{
    RunCommand([this] {
        const SReadResult result = ReadList(EDataSet::Minute, m_modelMinute, true);
        if (!result)
            return;
        m_nMinuteReadTime = result.nMsecs;
        emit MinuteRead(m_nMinuteReadTime);
    });
}

void CVarikDlg::OnReadDay()
{
    RunCommand([this] { ReadList(EDataSet::Day, m_modelDay, true); });
}

void CVarikDlg::OnCheckConnection()
{
    // The check and the unlock carry the feeder the last read left.
    RunCommand([this] { m_session.Check(TakeLinkSettings()); });
}

SLinkSettings CVarikDlg::TakeLinkSettings()
{
    UpdateData(true);
    return {m_pUi->m_comboPort->currentText(), AtoI(m_pUi->m_comboSpeed->currentText()),
            m_pUi->m_editDeviceNumber->text()};
}

SReadResult CVarikDlg::ReadList(EDataSet set, CListModel &model, bool bReportShortReply)
{
    const SLinkSettings settings = TakeLinkSettings();
    // A read sets the feeder even when its device number is then refused.
    m_session.SetSecondFeeder(m_bSecondFeeder != 0);
    SReadResult result = m_session.Read(settings, set);
    if (result)
        model.SetRows(std::move(result.reading.rows));
    else if (result.eFailure == ESessionFailure::ShortReply && bReportShortReply)
        m_operator.ShowMessage(FailureText(result), EMsgIcon::Exclamation);
    // Any other failure has been shown already, or (an undecodable reply) never was.
    return result;
}
