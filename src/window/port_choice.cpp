#include "window/port_choice.h"

#include "link/device_access.h"
#include "link/serial_port.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <algorithm>

int FindRemembered(const QStringList &entries, const QString &strText)
{
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (entries[i].compare(strText, Qt::CaseInsensitive) == 0)
            return int(i);
    }
    const qsizetype n = entries.size();
    for (qsizetype k = 1; k <= n; ++k) {
        const qsizetype i = k % n;
        if (entries[i].startsWith(strText, Qt::CaseInsensitive))
            return int(i);
    }
    return -1;
}

bool NaturalLess(const QString &a, const QString &b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype iEnd = i;
            qsizetype jEnd = j;
            while (iEnd < a.size() && a[iEnd].isDigit())
                ++iEnd;
            while (jEnd < b.size() && b[jEnd].isDigit())
                ++jEnd;
            // Compare the runs as numbers: without leading zeros, the
            // shorter run is the smaller number.
            QStringView runA = QStringView(a).mid(i, iEnd - i);
            QStringView runB = QStringView(b).mid(j, jEnd - j);
            while (runA.size() > 1 && runA.front() == u'0')
                runA = runA.mid(1);
            while (runB.size() > 1 && runB.front() == u'0')
                runB = runB.mid(1);
            if (runA.size() != runB.size())
                return runA.size() < runB.size();
            if (const int c = runA.compare(runB); c != 0)
                return c < 0;
            i = iEnd;
            j = jEnd;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    if ((a.size() - i) != (b.size() - j))
        return (a.size() - i) < (b.size() - j);
    return a < b; // equal as numbers, such as 01 and 1: any fixed order
}

QStringList PortCandidates(const QStringList &systemPorts, const QStringList &extraPorts)
{
#ifdef Q_OS_WIN
    Q_UNUSED(systemPorts);
    Q_UNUSED(extraPorts);
    QStringList names;
    for (int n = 0; n <= 19; ++n)
        names.append(QStringLiteral("COM%1").arg(n));
    return names;
#else
    QStringList sorted = systemPorts + extraPorts;
    sorted.removeAll(QString());
    std::sort(sorted.begin(), sorted.end(), NaturalLess);
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());

    // Each link goes under the device it stands for, so that the operator
    // sees which adapter a stable name is.
    QStringList links;
    for (const QString &strName : sorted) {
        const QString strTarget = PortTarget(strName);
        if (!strTarget.isEmpty() && strTarget != strName && sorted.contains(strTarget))
            links.append(strName);
    }
    QStringList names;
    for (const QString &strName : sorted) {
        if (links.contains(strName))
            continue;
        names.append(strName);
        for (const QString &strLink : links) {
            if (PortTarget(strLink) == strName)
                names.append(strLink);
        }
    }
    return names;
#endif
}

QString PortTarget(const QString &strName)
{
    const QFileInfo info(strName);
    return info.isSymLink() ? info.canonicalFilePath() : QString();
}

QStringList StablePortNames(const QString &strFolder)
{
    QStringList names;
    const QDir folder(strFolder);
    for (const QFileInfo &info : folder.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        if (info.isSymLink())
            names.append(info.absoluteFilePath());
    }
    std::sort(names.begin(), names.end(), NaturalLess);
    return names;
}

bool PortOffered(const QString &strName)
{
    return ProbePort(strName) == 1 || DeviceAccessProblem(strName).eKind != EPortProblem::None;
}

QStringList SystemSerialPorts()
{
    QStringList names;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        names.append(info.systemLocation());
    return names + StablePortNames(QString::fromLatin1(STABLE_PORT_FOLDER));
}
