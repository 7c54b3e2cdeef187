#include "link/link_messages.h"

QString LinkText::PortAdvice(const SPortProblem &problem)
{
    switch (problem.eKind) {
    case EPortProblem::NoRight:
        return NoRightToDevice(problem.strDevice);
    case EPortProblem::JoinGroup:
        return NoRightToDevice(problem.strDevice, problem.strGroup);
    case EPortProblem::None:
    case EPortProblem::Rate:
        break;
    }
    return QString();
}

namespace {

QList<SLinkMessage> PortMessages(const SLinkFailure &failure)
{
    const QString strAdvice = LinkText::PortAdvice(failure.problem);
    const SLinkMessage port{LinkText::Port(failure.strPort)
                                + (strAdvice.isEmpty() ? QString() : QStringLiteral("\n") + strAdvice),
                            EMsgIcon::Stop};
    if (failure.problem.eKind == EPortProblem::Rate)
        return {{LinkText::RateUnsupported(), EMsgIcon::Information}, port};
    return {port};
}

} // namespace

QList<SLinkMessage> LinkFailureMessages(const SLinkFailure &failure)
{
    switch (failure.eKind) {
    case ELinkFailure::DeviceNumber:
        return {{LinkText::DeviceNumber(), EMsgIcon::Exclamation}};
    case ELinkFailure::Port:
        return PortMessages(failure);
    case ELinkFailure::NoAnswer:
        return {{LinkText::NoAnswer(), EMsgIcon::Stop}};
    case ELinkFailure::LineError:
        return {{LinkText::LineError(), EMsgIcon::Stop}};
    case ELinkFailure::Busy:
        return {{LinkText::Busy(), EMsgIcon::Exclamation}};
    case ELinkFailure::Channel:
        return {{LinkText::Channel(), EMsgIcon::Exclamation}};
    case ELinkFailure::Refused:
        return {{LinkText::Refused(), EMsgIcon::Exclamation}};
    case ELinkFailure::None:
    case ELinkFailure::Declined:
    case ELinkFailure::Cancelled:
        break;
    }
    return {};
}

QString LinkFailureText(const SLinkFailure &failure)
{
    QStringList texts;
    for (const SLinkMessage &message : LinkFailureMessages(failure))
        texts.append(message.strText);
    return texts.join(u'\n');
}
