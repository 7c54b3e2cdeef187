// The data parts a meter sends, filled with plausible values for a 230 V /
// 50 Hz network that change a little from call to call (t in seconds).
#pragma once

#include <QByteArray>

QByteArray SimSecondData(double t);
QByteArray SimMinuteData(double t);
QByteArray SimDayData(double t);

// Seconds to add to t so that each device number and feeder on a bus reads a
// stretch of the network's history of its own: at any moment no two of them
// send the same values. Never 0, which stays the lone meter's own timeline.
double SimHistoryOffset(quint16 nDevice, quint8 nFeeder);
