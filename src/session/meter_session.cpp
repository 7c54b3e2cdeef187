#include "session/meter_session.h"

#include "data/decoders.h"
#include "link/atoi.h"
#include "session/session_text.h"

#include <QDateTime>

namespace {

SSessionOutcome Failure(ESessionFailure eFailure, const QString &strMessage)
{
    return {false, eFailure, strMessage};
}

} // namespace

void CMeterSession::CRecordingOperator::ShowMessage(const QString &strText, EMsgIcon icon)
{
    m_strLast = strText;
    if (m_pInner)
        m_pInner->ShowMessage(strText, icon);
}

bool CMeterSession::CRecordingOperator::AskYesNo(const QString &strText)
{
    m_strLast = strText;
    return m_pInner && m_pInner->AskYesNo(strText);
}

bool CMeterSession::CRecordingOperator::AskAccess(int &nLevel, QString &strPassword)
{
    return m_pInner && m_pInner->AskAccess(nLevel, strPassword);
}

bool CMeterSession::CRecordingOperator::KeepWaiting(qint64 nBytesReceived)
{
    return !m_pInner || m_pInner->KeepWaiting(nBytesReceived);
}

CMeterSession::CMeterSession(IOperator *pOperator)
    : m_operator(pOperator), m_link(&m_operator)
{
}

CMeterSession::CMeterSession(std::unique_ptr<ILine> pLine, IOperator *pOperator)
    : m_operator(pOperator), m_link(std::move(pLine), &m_operator)
{
}

CMeterSession::~CMeterSession() = default;

SSessionOutcome CMeterSession::TakeSettings(const SLinkSettings &settings)
{
    m_operator.m_strLast.clear();
    const int nDevice = AtoI(settings.strDevice);
    if (!IsDeviceNumber(nDevice)) {
        m_operator.ShowMessage(SessionText::DeviceNumber(), EMsgIcon::Exclamation);
        return Failure(ESessionFailure::BadSettings, SessionText::DeviceNumber());
    }
    m_link.SetPortName(settings.strPort);
    m_link.SetBaudRate(settings.nBaudRate);
    m_link.SetDeviceNumber(quint16(nDevice));
    return {};
}

SSessionOutcome CMeterSession::LinkFailure()
{
    if (m_link.WasCancelled())
        return Failure(ESessionFailure::Cancelled, QString());
    return Failure(ESessionFailure::LinkFailed, m_operator.m_strLast);
}

SSessionOutcome CMeterSession::Check(const SLinkSettings &settings)
{
    const SSessionOutcome taken = TakeSettings(settings);
    if (!taken)
        return taken;
    if (!m_link.CheckConnection() || !m_link.Unlock(true, QString()))
        return LinkFailure();
    return {};
}

SReadResult CMeterSession::Read(const SLinkSettings &settings, EDataSet eSet)
{
    SReadResult result;
    const auto finish = [&result](const SSessionOutcome &outcome) {
        static_cast<SSessionOutcome &>(result) = outcome;
        result.nMsecs = QDateTime::currentMSecsSinceEpoch();
        return result;
    };
    const SSessionOutcome taken = TakeSettings(settings);
    if (!taken)
        return finish(taken);

    const SDataSet &set = DataSetOf(eSet);
    std::vector<quint8> reply(size_t(set.nSize));
    quint16 nLength = quint16(set.nSize);
    if (!m_link.Exchange(set.nCommand, 1, reply.data(), &nLength, nullptr, 0))
        return finish(LinkFailure());
    if (nLength < set.nSize)
        return finish(Failure(ESessionFailure::ShortReply, SessionText::ReadFailed()));
    SReading &reading = result.reading;
    reading.eSet = eSet;
    reading.rows = set.pRows();
    if (!set.pDecode(reply.data(), nLength, reading.rows)
        || !set.pExactValues(reply.data(), nLength, reading.values)) {
        reading = SReading();
        return finish(Failure(ESessionFailure::Undecodable, SessionText::ReadFailed()));
    }
    if (eSet == EDataSet::Second)
        SecondRawValues(reply.data(), nLength, reading.raw);
    return finish({});
}
