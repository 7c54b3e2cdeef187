#include "files/outbox_segment_reader.h"

#include "files/descriptor_io.h"
#include "files/outbox_codec.h"
#include "files/outbox_format.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

using namespace OutboxFormat;

namespace {

constexpr qint64 READ_CHUNK = 256 * 1024;

// The record at nOffset when it is whole and checks; *pEnd is where it ends.
bool ReadRecord(COutboxSegmentReader &reader, qint64 nOffset, SOutboxMessage *pMessage, qint64 *pEnd)
{
    const char *pHead = reader.At(nOffset, RECORD_HEADER);
    if (!pHead)
        return false;
    // Decoded before At moves the buffer.
    const std::optional<SOutboxRecordHead> head = DecodeOutboxRecordHead(pHead);
    if (!head)
        return false;
    const char *pBody = reader.At(nOffset + RECORD_HEADER, head->BodyBytes());
    if (!pBody || !OutboxRecordBodyChecks(*head, pBody))
        return false;
    if (pMessage)
        *pMessage = DecodeOutboxRecordBody(*head, pBody);
    *pEnd = nOffset + RECORD_HEADER + head->BodyBytes();
    return true;
}

} // namespace

bool COutboxSegmentReader::Open(const QString &strPath, qint64 nEnd)
{
    Close();
    m_nErrno = 0;
    do {
        m_fd = ::open(QFile::encodeName(strPath).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    } while (m_fd < 0 && errno == EINTR);
    m_nEnd = nEnd;
    return m_fd >= 0;
}

void COutboxSegmentReader::Close()
{
    CloseDescriptor(m_fd);
    m_buffer.clear();
    m_nStart = 0;
}

const char *COutboxSegmentReader::Load(qint64 nOffset, qint64 n)
{
    const qint64 nLoad = std::min(std::max(n, READ_CHUNK), m_nEnd - nOffset);
    if (m_buffer.capacity() > 2 * std::max(nLoad, READ_CHUNK))
        m_buffer = QByteArray(); // one large record does not keep its room
    m_buffer.resize(nLoad);
    qint64 nDone = 0;
    while (nDone < nLoad) {
        const ssize_t nRead = ::pread(m_fd, m_buffer.data() + nDone, size_t(nLoad - nDone), nOffset + nDone);
        if (nRead > 0) {
            nDone += nRead;
        } else if (nRead == 0) {
            break;
        } else if (errno != EINTR) {
            m_nErrno = errno;
            break;
        }
    }
    m_buffer.resize(nDone);
    m_nStart = nOffset;
    return nDone >= n ? m_buffer.constData() : nullptr;
}

bool NextOutboxRecord(COutboxSegmentReader &reader, qint64 &nOffset, SOutboxMessage *pMessage, qint64 *pStart)
{
    for (qint64 n = nOffset; n + RECORD_HEADER <= reader.End(); ++n) {
        const char *p = reader.At(n, 1);
        if (!p)
            break;
        qint64 nEnd = 0;
        if (*p == RECORD_MARK[0] && ReadRecord(reader, n, pMessage, &nEnd)) {
            if (pStart)
                *pStart = n;
            nOffset = nEnd;
            return true;
        }
    }
    nOffset = reader.End();
    return false;
}
