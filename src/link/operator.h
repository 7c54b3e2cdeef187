// How the link reaches the person at the screen. The window answers with
// message boxes and the access dialog, the command line with standard error
// and its options, the service with its configuration, the tests with a
// script.
#pragma once

#include "link/link_failure.h"

#include <QString>
#include <QtGlobal>

enum class EMsgIcon { Stop, Information, Exclamation, Question };

class IOperator {
public:
    virtual ~IOperator() = default;

    // A modal message with an OK button.
    virtual void ShowMessage(const QString &strText, EMsgIcon icon) = 0;
    // A Yes/No question with the question icon; true for Yes.
    virtual bool AskYesNo(const QString &strText) = 0;
    // The access dialog: nLevel 0 for the first level, 1 for the second;
    // the password at most 8 characters. False when the operator cancels.
    virtual bool AskAccess(int &nLevel, QString &strPassword) = 0;
    // Called every few tens of milliseconds while the link waits for the
    // meter, with the bytes received since the port was opened. Returning
    // false cancels the exchange: the link closes the port and reports
    // nothing more.
    virtual bool KeepWaiting(qint64 nBytesReceived)
    {
        Q_UNUSED(nBytesReceived);
        return true;
    }

    // What the link tells comes as codes. By default each is shown as its
    // message boxes, made from the code here; an operator that must tell one
    // apart from the others overrides it rather than look at a text.

    // A failure that ends the link's call, at the moment it happens.
    virtual void ShowFailure(const SLinkFailure &failure);
    // The meter refused the password; true sends it again.
    virtual bool AskRetryUnlock();
    // Level nLevel (1 or 2) is open, when the caller asked to hear of it.
    virtual void ShowUnlocked(int nLevel);
};
