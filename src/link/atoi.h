// Numbers the operator types are read the way C's atoi reads them: optional
// leading blanks and sign, then decimal digits; no digits gives 0. Values
// beyond the int range saturate instead of overflowing.
#pragma once

#include <QString>

int AtoI(const QString &strText);

// A meter is addressed by a number from 1 to 65535.
inline bool IsDeviceNumber(int n) { return n >= 1 && n <= 65535; }
