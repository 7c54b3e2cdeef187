#include "link/operator.h"

#include "link/link_messages.h"

void IOperator::ShowFailure(const SLinkFailure &failure)
{
    for (const SLinkMessage &message : LinkFailureMessages(failure))
        ShowMessage(message.strText, message.icon);
}

bool IOperator::AskRetryUnlock()
{
    return AskYesNo(LinkText::PasswordRefused());
}

void IOperator::ShowUnlocked(int nLevel)
{
    ShowMessage(LinkText::PasswordAccepted(nLevel), EMsgIcon::Exclamation);
}
