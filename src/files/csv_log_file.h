// The CSV log on disk: rows appended one at a time to a file kept open, each
// on the disk before Append returns, so a crash or a power cut loses at most
// the row being written. Like a record, the name is opened as open() opens
// it: a symbolic link is followed and stays a link, a FIFO or a device is
// written as it is.
#pragma once

#include "data/data_set.h"
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

    // Opens the name for appending the rows of one data set, creating a
    // missing file; opening a FIFO waits for its reader. A new or empty file
    // gets the set's header row first (so does a FIFO or a device, whose
    // readers start afresh); a file that already holds rows is only appended
    // to, and only when it starts with that same header: any other first line
    // (another set's log, a file not ours) is refused as OpenFailed with
    // OtherHeader() true and the file left as it was. A regular file whose
    // last row is torn (no line feed at its end) is first cut back to just
    // after its last line feed; CutBytes() says how much went. On failure the
    // log stays closed and ErrorText() says why. A file this user may write
    // but not read is appended to unchecked.
    EFileResult Open(const QString &strPath, EDataSet set = EDataSet::Second);

    // Writes one row with a single write and puts it on the disk. A failure
    // takes a partly written row back out of a regular file, so the file
    // ends with whole rows, and closes the log: nothing more is written.
    EFileResult Append(const QByteArray &row);

    void Close();
    bool IsOpen() const { return m_fd >= 0; }

    // The error of the last failure (0 when there was none, or when the
    // file's header was another) and its text.
    int Errno() const { return m_nErrno; }
    QString ErrorText() const;
    // The last Open refused a file whose first line is not the set's header.
    bool OtherHeader() const { return m_bOtherHeader; }

    // The bytes of a torn last row that Open took off the file; 0 when the
    // file ended with a whole row.
    qint64 CutBytes() const { return m_nCut; }

private:
    bool Write(const QByteArray &bytes);
    bool HasHeader(const QByteArray &header, off_t nSize);
    bool CutTornRow(off_t nSize);
    void Fail(int nErrno);

    int m_fd = -1;
    bool m_bRegular = false; // can be taken back to a whole row
    bool m_bSyncs = false;   // a regular file or a block device
    bool m_bReadable = false; // its last row can be looked at
    int m_nErrno = 0;
    qint64 m_nCut = 0;
    bool m_bOtherHeader = false;
    EDataSet m_eSet = EDataSet::Second;
};
