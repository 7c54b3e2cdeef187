#include "service/meter_state.h"

#include "link/link_messages.h"

const char *StateName(EMeterState eState)
{
    switch (eState) {
    case EMeterState::Ok:
        return "ok";
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

EMeterState StateOfFailure(const QString &strMessage, const QString &strPort)
{
    if (strMessage == LinkText::NoAnswer() || strMessage == LinkText::Channel())
        return EMeterState::Silent;
    if (strMessage == LinkText::Busy())
        return EMeterState::Busy;
    if (strMessage == LinkText::PasswordRefused())
        return EMeterState::Refused;
    if (strMessage.startsWith(LinkText::Port(strPort)))
        return EMeterState::NoPort;
    return EMeterState::Error;
}
