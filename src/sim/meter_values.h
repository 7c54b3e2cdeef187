// The data parts a meter sends, filled with plausible values for a 230 V /
// 50 Hz network that change a little from call to call (t in seconds).
#pragma once

#include <QByteArray>

QByteArray SimSecondData(double t);
QByteArray SimMinuteData(double t);
QByteArray SimDayData(double t);
