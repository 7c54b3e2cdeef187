// The process's local time zone for the length of a scope, so that a test
// of local dates and changes of the clocks does not depend on the machine.
#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

class CLocalZone {
public:
    explicit CLocalZone(const char *pZone)
    {
        const char *pOld = std::getenv("TZ");
        m_bHad = pOld != nullptr;
        if (m_bHad)
            m_strOld = pOld;
        setenv("TZ", pZone, 1);
        tzset();
    }
    ~CLocalZone()
    {
        if (m_bHad)
            setenv("TZ", m_strOld.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    CLocalZone(const CLocalZone &) = delete;
    CLocalZone &operator=(const CLocalZone &) = delete;

private:
    bool m_bHad = false;
    std::string m_strOld;
};
