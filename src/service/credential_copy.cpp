#include "service/credential_copy.h"

#include <QFileInfo>

namespace {

// What the unit loads, and the name it gives the copies.
const QLatin1String kHandedFolder("/etc/varik/");
const QLatin1String kCredentialPrefix("varik_");

} // namespace

QString CredentialCopyOf(const QString &strPath)
{
    const QString strCredentials = qEnvironmentVariable("CREDENTIALS_DIRECTORY");
    if (strCredentials.isEmpty() || !strPath.startsWith(kHandedFolder))
        return QString();
    QString strName = strPath.mid(kHandedFolder.size());
    strName.replace(QLatin1Char('/'), QLatin1Char('_'));
    const QString strCopy = strCredentials + QLatin1Char('/') + kCredentialPrefix + strName;
    // A file systemd did not copy (a symbolic link, one added since the
    // start) is read where it is.
    return QFileInfo::exists(strCopy) ? strCopy : QString();
}
