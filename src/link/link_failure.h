// Why an exchange with the meter failed, as a code. Whoever shows it makes
// the text from the code (link_messages.h); whoever acts on it (the service's
// meter states) looks at the code, so rewording a message changes no
// behaviour.
#pragma once

#include <QString>

enum class ELinkFailure {
    None,
    DeviceNumber, // the device number is 0; nothing was sent
    Port,         // the port would not open (SPortProblem says more when it can)
    NoAnswer,     // fewer bytes than a reply header, or than the check's echo
    LineError,    // a status the request does not expect, a wrong echo, a reply out of step,
                  // or still locked after the last send
    Busy,         // the meter is busy
    Channel,      // the unlock's answer came short
    Refused,      // the meter refused the password and it was not (or no longer) tried again
    Declined,     // the operator cancelled the access dialog
    Cancelled,    // the operator cancelled a wait
};

// What the operator can do about a port that would not open.
enum class EPortProblem {
    None,      // nothing to add: absent, held by another program, or refused for reasons of its own
    Rate,      // the port cannot do the rate asked for
    NoRight,   // this user may not use the device, and no group kept for serial ports would help
    JoinGroup, // this user may not use the device; joining its serial-port group would help
};

struct SPortProblem {
    EPortProblem eKind = EPortProblem::None;
    QString strDevice; // NoRight, JoinGroup: the device as the system names it
    QString strGroup;  // JoinGroup: the group to join

    bool operator==(const SPortProblem &) const = default;
};

struct SLinkFailure {
    ELinkFailure eKind = ELinkFailure::None;
    QString strPort;      // Port: the port's name as it was set
    SPortProblem problem; // Port: why, when the operator can do something about it

    bool operator==(const SLinkFailure &) const = default;
};
