// Whether this process may use a serial device, and what the operator can do
// when it may not: on Debian a serial device belongs to a group (dialout for
// USB adapters and built-in ports) that the operator's user has to join.
#pragma once

#include <QString>

// A line of advice when this process may not read and write the device:
// names the device and, when the device belongs to a group kept for serial
// ports (dialout, uucp) that may use it, that group and the command that
// adds the user to it; otherwise says plainly that there is no right to it. Empty when the device may be used or
// cannot be looked at (a missing device needs no advice beyond the port
// message).
QString DeviceAccessHint(const QString &strDevice);
