// Secrets for a service that runs as a user of its own: the unit hands every
// file of /etc/varik to it as a systemd credential (LoadCredential=
// varik:/etc/varik), a copy in $CREDENTIALS_DIRECTORY that only the service
// may read, named "varik_" and the file's path under /etc/varik with each
// "/" made "_". So a password or key file stays root's own (mode 0600) and
// is still read by the service.
#pragma once

#include <QString>

// The copy of the file at the absolute, clean strPath that the service was
// handed, when it runs with credentials and has one; empty otherwise, and
// the file itself is read.
QString CredentialCopyOf(const QString &strPath);
