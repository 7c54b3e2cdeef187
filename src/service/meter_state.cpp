#include "service/meter_state.h"

const char *StateName(EMeterState eState)
{
    switch (eState) {
    case EMeterState::Ok:
        return "ok";
    case EMeterState::CsvError:
        return "csv-error";
    case EMeterState::Silent:
        return "silent";
    case EMeterState::Busy:
        return "busy";
    case EMeterState::Refused:
        return "refused";
    case EMeterState::NoPort:
        return "no-port";
    case EMeterState::Error:
        return "error";
    case EMeterState::Unknown:
        break;
    }
    return "unknown";
}

namespace {

EMeterState StateOfLinkFailure(ELinkFailure eKind)
{
    switch (eKind) {
    case ELinkFailure::NoAnswer:
    case ELinkFailure::Channel: // the meter did not answer the unlock either
        return EMeterState::Silent;
    case ELinkFailure::Busy:
        return EMeterState::Busy;
    case ELinkFailure::Refused:
        return EMeterState::Refused;
    case ELinkFailure::Port:
        return EMeterState::NoPort;
    case ELinkFailure::None:
    case ELinkFailure::DeviceNumber:
    case ELinkFailure::LineError:
    case ELinkFailure::Declined:
    case ELinkFailure::Cancelled:
        break;
    }
    return EMeterState::Error;
}

} // namespace

EMeterState StateOfFailure(const SSessionOutcome &outcome)
{
    if (outcome.eFailure == ESessionFailure::LinkFailed)
        return StateOfLinkFailure(outcome.link.eKind);
    return EMeterState::Error;
}
