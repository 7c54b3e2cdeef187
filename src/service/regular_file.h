// Reads a file the configuration names without ever waiting on it: a FIFO,
// a device or a directory given by mistake is refused at once, where a plain
// open would block the reader (a FIFO waits for a writer that never comes)
// or reach a device.
#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

enum class EFileFault {
    None,
    System,     // the system refused: nErrno says why
    NotRegular, // a FIFO, a directory, a device or a socket: nType says which
};

struct SFileRead {
    EFileFault eFault = EFileFault::None;
    int nErrno = 0;
    mode_t nType = 0;  // S_IFIFO, S_IFDIR, ... of what is not a regular file
    mode_t nMode = 0;  // the permission bits of a regular file
    QByteArray bytes;  // at most the bytes asked for
};

// The first nMaxBytes of the regular file at strPath (all of it when
// nMaxBytes < 0; none with 0, which only checks that it can be read).
SFileRead ReadRegularFile(const QString &strPath, qint64 nMaxBytes);

// Why the file could not be read, as the end of a sentence: "No such file or
// directory", "it is a FIFO, not a regular file".
QString FileFaultText(const SFileRead &read);
