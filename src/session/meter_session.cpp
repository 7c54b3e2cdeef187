#include "session/meter_session.h"

#include "data/decoders.h"
#include "link/atoi.h"
#include "link/frame.h"
#include "link/link_messages.h"
#include "session/session_text.h"

#include <QDateTime>

namespace {

// The command that reads a set: the data knows its bytes, the link its frames.
quint8 ReadCommandOf(EDataSet eSet)
{
    switch (eSet) {
    case EDataSet::Minute:
        return CMD_READ_MINUTE;
    case EDataSet::Day:
        return CMD_READ_DAY;
    case EDataSet::Second:
        break;
    }
    return CMD_READ_SECOND;
}

SSessionOutcome Failure(ESessionFailure eFailure, const SLinkFailure &link = SLinkFailure())
{
    return {false, eFailure, link};
}

} // namespace

QString FailureText(const SSessionOutcome &outcome)
{
    if (outcome.bOk)
        return QString();
    switch (outcome.eFailure) {
    case ESessionFailure::BadSettings:
        return SessionText::DeviceNumber();
    case ESessionFailure::LinkFailed:
        return LinkFailureText(outcome.link);
    case ESessionFailure::ShortReply:
    case ESessionFailure::Undecodable:
        return SessionText::ReadFailed();
    case ESessionFailure::Cancelled:
        break;
    }
    return QString();
}

CMeterSession::CMeterSession(IOperator *pOperator)
    : m_pOperator(pOperator), m_link(pOperator)
{
}

CMeterSession::CMeterSession(std::unique_ptr<ILine> pLine, IOperator *pOperator)
    : m_pOperator(pOperator), m_link(std::move(pLine), pOperator)
{
}

CMeterSession::~CMeterSession() = default;

SSessionOutcome CMeterSession::TakeSettings(const SLinkSettings &settings)
{
    const int nDevice = AtoI(settings.strDevice);
    if (!IsDeviceNumber(nDevice)) {
        const SSessionOutcome outcome = Failure(ESessionFailure::BadSettings);
        if (m_pOperator)
            m_pOperator->ShowMessage(FailureText(outcome), EMsgIcon::Exclamation);
        return outcome;
    }
    m_link.SetPortName(settings.strPort);
    m_link.SetBaudRate(settings.nBaudRate);
    m_link.SetDeviceNumber(quint16(nDevice));
    return {};
}

SSessionOutcome CMeterSession::LinkFailure() const
{
    if (m_link.LastFailure().eKind == ELinkFailure::Cancelled)
        return Failure(ESessionFailure::Cancelled);
    return Failure(ESessionFailure::LinkFailed, m_link.LastFailure());
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
    if (!m_link.Exchange(ReadCommandOf(eSet), 1, reply.data(), &nLength, nullptr, 0))
        return finish(LinkFailure());
    if (nLength < set.nSize)
        return finish(Failure(ESessionFailure::ShortReply));
    SReading &reading = result.reading;
    reading.eSet = eSet;
    reading.rows = set.pRows();
    if (!set.pDecode(reply.data(), nLength, reading.rows)
        || !set.pExactValues(reply.data(), nLength, reading.values)) {
        reading = SReading();
        return finish(Failure(ESessionFailure::Undecodable));
    }
    if (eSet == EDataSet::Second)
        SecondRawValues(reply.data(), nLength, reading.raw);
    return finish({});
}
