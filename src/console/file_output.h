// The two ways the window writes files: a saved list replaces its file as a
// whole, a record is appended to a file that must already exist.
#pragma once

#include <QByteArray>
#include <QString>

enum class EFileResult { Ok, OpenFailed, WriteFailed };

// Writes through a temporary file that takes the name only once every byte
// is on disk, so a failed write leaves an earlier file of that name intact.
EFileResult ReplaceFile(const QString &strPath, const QByteArray &bytes);

// Appends at the end of an existing file; a missing file is not created.
EFileResult AppendToExistingFile(const QString &strPath, const QByteArray &bytes);
