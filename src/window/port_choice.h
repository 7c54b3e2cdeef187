// Which serial ports the window offers and which entry of a drop-down list a
// remembered text selects.
#pragma once

#include <QString>
#include <QStringList>

// The entry a remembered text selects: the first entry equal to it (case
// aside); failing that, the first entry that begins with it (case aside),
// searched from index 1 to the end and then index 0, as the Windows combo
// box has always searched. -1 when none matches.
int FindRemembered(const QStringList &entries, const QString &strText);

// "/dev/ttyS2" before "/dev/ttyS10": runs of digits compare as numbers.
bool NaturalLess(const QString &a, const QString &b);

// The names worth probing: on Windows COM0 to COM19; elsewhere the ports the
// system reports and the names given on the command line, without
// duplicates, in natural order, except that a name which is a link to
// another name of the list comes right after it.
QStringList PortCandidates(const QStringList &systemPorts, const QStringList &extraPorts);

// The device a port name is a link to; empty when the name is no link.
QString PortTarget(const QString &strName);

// Where the system keeps a name for each USB serial adapter that stays the
// same when the adapter is plugged in again, elsewhere or later.
inline constexpr char STABLE_PORT_FOLDER[] = "/dev/serial/by-id";

// The links in that folder (their paths), in natural order.
QStringList StablePortNames(const QString &strFolder);

// Whether the window lists the port: it can be opened right now, or it exists
// but the operator's user may not open it, so that choosing it tells them
// what to do.
bool PortOffered(const QString &strName);

// The serial devices the system reports (their paths) and their stable names.
QStringList SystemSerialPorts();
