// The CSV log on disk: rows appended one at a time to a file kept open, each
// on the disk before Append returns, so a crash or a power cut loses at most
// the row being written. Like a record, the name is opened as open() opens
// it: a symbolic link is followed and stays a link, a FIFO or a device is
// written as it is.
#pragma once

#include "files/file_output.h"

#include <QByteArray>
#include <QString>

#include <sys/types.h>

class CCsvLogFile {
public:
    CCsvLogFile() = default;
    ~CCsvLogFile();
    CCsvLogFile(const CCsvLogFile &) = delete;
    CCsvLogFile &operator=(const CCsvLogFile &) = delete;

    // Opens the name for appending, creating a missing file; opening a FIFO
    // waits for its reader. A new or empty file gets the header row first
    // (so does a FIFO or a device, whose readers start afresh); a file that
    // already holds rows is only appended to. A regular file whose last row
    // is torn (no line feed at its end) is first cut back to just after its
    // last line feed; CutBytes() says how much went. On failure the log stays
    // closed and Errno() says why.
    EFileResult Open(const QString &strPath);

    // Writes one row with a single write and puts it on the disk. A failure
    // takes a partly written row back out of a regular file, so the file
    // ends with whole rows, and closes the log: nothing more is written.
    EFileResult Append(const QByteArray &row);

    void Close();
    bool IsOpen() const { return m_fd >= 0; }

    // The error of the last failure (0 when there was none) and its text.
    int Errno() const { return m_nErrno; }
    QString ErrorText() const;

    // The bytes of a torn last row that Open took off the file; 0 when the
    // file ended with a whole row.
    qint64 CutBytes() const { return m_nCut; }

private:
    bool Write(const QByteArray &bytes);
    bool CutTornRow(off_t nSize);
    void Fail(int nErrno);

    int m_fd = -1;
    bool m_bRegular = false; // can be taken back to a whole row
    bool m_bSyncs = false;   // a regular file or a block device
    bool m_bReadable = false; // its last row can be looked at
    int m_nErrno = 0;
    qint64 m_nCut = 0;
};
