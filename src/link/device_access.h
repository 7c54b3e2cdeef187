// Whether this process may use a serial device, and what the operator can do
// when it may not: on Debian a serial device belongs to a group (dialout for
// USB adapters and built-in ports) that the operator's user has to join.
#pragma once

#include "link/link_failure.h"

#include <QString>

// What keeps this process from reading and writing the device: JoinGroup
// with the group when the device belongs to a group kept for serial ports
// (dialout, uucp) that may use it, NoRight when no such group would help,
// None when the device may be used or cannot be looked at (a missing device
// needs no advice beyond the port message).
SPortProblem DeviceAccessProblem(const QString &strDevice);
