// A stand-in for the outbox while its own implementation is not in the tree:
// the messages live in memory, per folder, for the life of the test
// program, so a publisher made anew on the same folder finds what an
// earlier one left. Built only when src/files/outbox.cpp is missing.
#include "files/outbox.h"

#include <QDir>

#include <deque>
#include <map>
#include <mutex>

namespace {

struct SFolder {
    std::deque<SOutboxMessage> messages;
    std::int64_t nFirst = 0; // the number of messages[0] since the folder was made
    std::int64_t nBytes = 0;
};

std::int64_t Size(const SOutboxMessage &message)
{
    return message.topic.size() + message.payload.size() + 8;
}

std::mutex g_mutex;
std::map<QString, SFolder> g_folders;

} // namespace

struct COutbox::SImpl {
    SFolder *pFolder = nullptr;
    std::int64_t nMaxBytes = 0;
    std::int64_t nDropped = 0;
    std::int64_t nPeekFirst = 0;
};

COutbox::COutbox() : m_p(std::make_unique<SImpl>()) {}
COutbox::~COutbox() = default;

EOutboxResult COutbox::Open(const QString &strFolder, std::int64_t nMaxBytes)
{
    if (!QDir().mkpath(strFolder))
        return EOutboxResult::Failed;
    const std::lock_guard<std::mutex> lock(g_mutex);
    m_p->pFolder = &g_folders[QDir(strFolder).absolutePath()];
    m_p->nMaxBytes = nMaxBytes;
    return EOutboxResult::Ok;
}

bool COutbox::IsOpen() const
{
    return m_p->pFolder;
}

EOutboxResult COutbox::Push(const SOutboxMessage &message)
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    SFolder &folder = *m_p->pFolder;
    folder.messages.push_back(message);
    folder.nBytes += Size(message);
    while (folder.nBytes > m_p->nMaxBytes && !folder.messages.empty()) {
        folder.nBytes -= Size(folder.messages.front());
        folder.messages.pop_front();
        ++folder.nFirst;
        ++m_p->nDropped;
    }
    return EOutboxResult::Ok;
}

std::vector<SOutboxMessage> COutbox::Peek(int nMax)
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    SFolder &folder = *m_p->pFolder;
    m_p->nPeekFirst = folder.nFirst;
    const size_t n = std::min(folder.messages.size(), size_t(nMax));
    return {folder.messages.begin(), folder.messages.begin() + std::ptrdiff_t(n)};
}

EOutboxResult COutbox::Ack(int n)
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    SFolder &folder = *m_p->pFolder;
    while (folder.nFirst < m_p->nPeekFirst + n && !folder.messages.empty()) {
        folder.nBytes -= Size(folder.messages.front());
        folder.messages.pop_front();
        ++folder.nFirst;
    }
    return EOutboxResult::Ok;
}

EOutboxResult COutbox::Sync()
{
    return EOutboxResult::Ok;
}

std::int64_t COutbox::Count() const
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    return std::int64_t(m_p->pFolder->messages.size());
}

std::int64_t COutbox::Bytes() const
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    return m_p->pFolder->nBytes;
}

std::int64_t COutbox::DroppedSinceOpen() const
{
    return m_p->nDropped;
}

QString COutbox::ErrorText() const
{
    return {};
}
