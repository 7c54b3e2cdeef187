// The person at the screen, for the command line: messages go to standard
// error (the one success message, an accepted password, to standard output),
// questions are answered No so nothing is retried behind a script's back,
// and the access dialog is answered from the options.
#pragma once

#include "link/operator.h"

#include <atomic>

class CCliOperator : public IOperator {
public:
    CCliOperator(int nLevelIndex, const QString &strPassword);

    void ShowMessage(const QString &strText, EMsgIcon icon) override;
    void ShowUnlocked(int nLevel) override;
    bool AskYesNo(const QString &strText) override;
    bool AskAccess(int &nLevel, QString &strPassword) override;

    // True once any failure message or question has been shown.
    bool Failed() const { return m_bFailed; }
    void ResetFailed() { m_bFailed = false; }

    // Prints a failure of the command itself the same way.
    void Fail(const QString &strText);
    // Prints what a script's operator should know of, but is no failure.
    void Note(const QString &strText);

private:
    int m_nLevelIndex;
    QString m_strPassword;
    bool m_bFailed = false;
};
