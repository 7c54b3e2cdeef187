// The meter's operator when nobody is at the screen: the access level and
// password come from the configuration, a question is answered No (a
// refused password is not tried again behind the meter's back), and every
// wait ends at once when the service is told to stop.
#pragma once

#include "link/operator.h"

#include <atomic>

class CServiceOperator : public IOperator {
public:
    CServiceOperator(int nLevel, const QString &strPassword, const std::atomic<bool> *pStop)
        : m_nLevel(nLevel), m_strPassword(strPassword), m_pStop(pStop)
    {
    }

    // Nothing is shown: the failure's code comes back with the read, and the
    // worker makes the state and its message from it.
    void ShowMessage(const QString &, EMsgIcon) override {}
    bool AskYesNo(const QString &) override { return false; }
    bool AskRetryUnlock() override { return false; }
    bool AskAccess(int &nLevel, QString &strPassword) override
    {
        nLevel = m_nLevel == 2 ? 1 : 0;
        strPassword = m_strPassword;
        return true;
    }
    bool KeepWaiting(qint64) override { return !m_pStop->load(); }

private:
    int m_nLevel;
    QString m_strPassword;
    const std::atomic<bool> *m_pStop;
};
