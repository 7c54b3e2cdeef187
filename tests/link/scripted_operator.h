// An operator that follows a script: it records every message and question
// it is shown, answers the access dialog and the Yes/No questions from
// queues, and can cancel a wait.
#pragma once

#include "link/operator.h"

#include <QList>
#include <QString>

#include <functional>
#include <ostream>

inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

struct SShown {
    QString strText;
    EMsgIcon icon;
    bool operator==(const SShown &) const = default;
};

inline void PrintTo(const SShown &s, std::ostream *os)
{
    static const char *const names[] = {"Stop", "Information", "Exclamation", "Question"};
    *os << names[int(s.icon)] << ' ';
    PrintTo(s.strText, os);
}

inline void PrintTo(ELinkFailure e, std::ostream *os)
{
    static const char *const names[] = {"None",      "DeviceNumber", "Port",     "NoAnswer", "LineError", "Busy",
                                        "Channel",   "Refused",      "Declined", "Cancelled"};
    *os << names[int(e)];
}

struct SAccessAnswer {
    int nLevel = 0; // 0 first level, 1 second
    QString strPassword;
};

class CScriptedOperator : public IOperator {
public:
    // Messages and questions in the order shown; a question has the icon Question.
    QList<SShown> shown;
    // Answers to the access dialog, taken from the front; none left means Cancel.
    QList<SAccessAnswer> accessAnswers;
    int nAccessAsked = 0;
    // Answers to Yes/No questions, taken from the front; none left means No.
    QList<bool> yesNoAnswers;
    // Decides whether to keep waiting; unset means always.
    std::function<bool(qint64)> keepWaiting;
    int nKeepWaitingCalls = 0;

    void ShowMessage(const QString &strText, EMsgIcon icon) override { shown.append({strText, icon}); }

    bool AskYesNo(const QString &strText) override
    {
        shown.append({strText, EMsgIcon::Question});
        return !yesNoAnswers.isEmpty() && yesNoAnswers.takeFirst();
    }

    bool AskAccess(int &nLevel, QString &strPassword) override
    {
        ++nAccessAsked;
        if (accessAnswers.isEmpty())
            return false;
        const SAccessAnswer answer = accessAnswers.takeFirst();
        nLevel = answer.nLevel;
        strPassword = answer.strPassword;
        return true;
    }

    bool KeepWaiting(qint64 nBytesReceived) override
    {
        ++nKeepWaitingCalls;
        return !keepWaiting || keepWaiting(nBytesReceived);
    }
};
