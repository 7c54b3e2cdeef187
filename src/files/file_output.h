// The two ways the program writes files: a saved list (and the settings file)
// replaces its file as a whole, a record is appended to a file that must
// already exist. Neither ever puts a file of its own in place of what the
// name points to: a symbolic link is followed and stays a link, and a FIFO
// or a device is written as it is.
#pragma once

#include <QByteArray>
#include <QString>

enum class EFileResult { Ok, OpenFailed, WriteFailed };

// A regular file, or a new name, is written through a temporary file that
// takes the name only once every byte is on disk, so a failed write leaves
// an earlier file of that name intact; where the folder takes no temporary
// file, an existing writable file is written in place instead. An existing
// file keeps its mode, owner and group: where the temporary file cannot be
// given them (a user saving over another user's file), the file is written
// in place if this user may, and otherwise not at all (OpenFailed). A FIFO or a
// device is opened and written in place, as a plain open would; opening a
// FIFO waits for its reader.
EFileResult ReplaceFile(const QString &strPath, const QByteArray &bytes);

// Appends at the end of an existing file, of whatever kind; a missing file is
// not created.
EFileResult AppendToExistingFile(const QString &strPath, const QByteArray &bytes);
