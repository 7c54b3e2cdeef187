// One meter as the window, the command line and the service talk to it: the
// link with its settings, and the one way to check the connection and to
// read a data set. Widget-free; what the operator must see goes through the
// IOperator given, and every failure also comes back as codes, from which
// FailureText makes its text.
#pragma once

#include "data/data_set.h"
#include "data/list_rows.h"
#include "link/meter_link.h"
#include "link/operator.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

// Where the meter is and who it is, as the operator typed them.
struct SLinkSettings {
    QString strPort;
    qint32 nBaudRate = 9600;
    QString strDevice; // read like atoi; 1 to 65 535
};

enum class ESessionFailure {
    BadSettings, // the device number is out of range; nothing was sent
    LinkFailed,  // the link gave up and has told the operator why (link says which way)
    Cancelled,   // the operator cancelled a wait
    ShortReply,  // the meter sent less than the data set
    Undecodable, // the reply would not fill the list
};

struct SSessionOutcome {
    bool bOk = true;
    ESessionFailure eFailure = ESessionFailure::LinkFailed;
    SLinkFailure link; // LinkFailed: the link's failure
    explicit operator bool() const { return bOk; }
};

// The operator's text of a failure: what the operator was shown, or for a
// short or undecodable reply the text to show (the caller decides whether
// to). Empty on success and for what the operator did himself (a declined
// access dialog, a cancelled wait); a refused password without the question
// that offered to try it again.
QString FailureText(const SSessionOutcome &outcome);

struct SReading {
    EDataSet eSet = EDataSet::Second;
    CListRows rows;                // the set's list with the values read
    std::vector<std::int32_t> raw; // per-second values as sent, in list order; empty for the others
    // Every named row's value exactly, in list order, for any set: what the
    // CSV logs and anything else outside the window write.
    std::vector<QByteArray> values;
};

struct SReadResult : SSessionOutcome {
    SReading reading;   // valid when bOk
    qint64 nMsecs = 0;  // host time just after the read, whether it succeeded or not
};

class CMeterSession {
public:
    // Talks over a serial port.
    explicit CMeterSession(IOperator *pOperator);
    // Talks over the line given.
    CMeterSession(std::unique_ptr<ILine> pLine, IOperator *pOperator);
    ~CMeterSession();
    CMeterSession(const CMeterSession &) = delete;
    CMeterSession &operator=(const CMeterSession &) = delete;

    // The feeder every following request names, the check and the unlock
    // included; it holds until set again.
    void SetSecondFeeder(bool bSecond) { m_link.SetSecondFeeder(bSecond); }

    // The connection check, then the unlock with the access dialog and the
    // accepted-password message.
    SSessionOutcome Check(const SLinkSettings &settings);
    // One read of a data set. A short or undecodable reply is shown to no one.
    SReadResult Read(const SLinkSettings &settings, EDataSet set);

    CMeterLink &Link() { return m_link; }

private:
    SSessionOutcome TakeSettings(const SLinkSettings &settings);
    SSessionOutcome LinkFailure() const;

    IOperator *m_pOperator;
    CMeterLink m_link;
};
