// Reading an outbox segment from the disk: its bytes through a buffer, and
// the whole records among them.
#pragma once

#include "files/outbox.h"

#include <QByteArray>
#include <QString>

// Reads a segment front to back through a buffer: records are a few KiB,
// and Open and Peek go through them in order.
class COutboxSegmentReader {
public:
    COutboxSegmentReader() = default;
    ~COutboxSegmentReader() { Close(); }
    COutboxSegmentReader(const COutboxSegmentReader &) = delete;
    COutboxSegmentReader &operator=(const COutboxSegmentReader &) = delete;

    // False, with errno, when the file cannot be opened.
    bool Open(const QString &strPath, qint64 nEnd);
    void Close();
    // Bytes past the end are never read: the end of a segment being written
    // is what was written whole.
    void SetEnd(qint64 nEnd) { m_nEnd = nEnd; }
    qint64 End() const { return m_nEnd; }
    // The errno of a read that failed; after one, nothing more is read.
    int Error() const { return m_nErrno; }

    // The bytes [nOffset, nOffset + n); nullptr past the end or when the
    // read fails. Valid until the next call.
    const char *At(qint64 nOffset, qint64 n)
    {
        if (m_nErrno != 0 || nOffset < 0 || n < 0 || nOffset + n > m_nEnd)
            return nullptr;
        if (nOffset >= m_nStart && nOffset + n <= m_nStart + m_buffer.size())
            return m_buffer.constData() + (nOffset - m_nStart);
        return Load(nOffset, n);
    }

private:
    const char *Load(qint64 nOffset, qint64 n);

    int m_fd = -1;
    int m_nErrno = 0;
    qint64 m_nEnd = 0;
    QByteArray m_buffer;
    qint64 m_nStart = 0;
};

// The first whole record at nOffset or after it: what does not check is
// passed over up to the next mark whose record does. nOffset moves to the
// record's end (to the reader's end when there is none); *pStart is where it
// starts. pMessage may be null when only the count matters.
bool NextOutboxRecord(COutboxSegmentReader &reader, qint64 &nOffset, SOutboxMessage *pMessage,
                      qint64 *pStart = nullptr);
