#include "files/descriptor_io.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace {

bool IsSigpipePending()
{
    sigset_t pending;
    sigemptyset(&pending);
    return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

} // namespace

CSigpipeHeld::CSigpipeHeld()
{
    sigemptyset(&m_pipe);
    sigaddset(&m_pipe, SIGPIPE);
    m_bWasPending = IsSigpipePending();
    pthread_sigmask(SIG_BLOCK, &m_pipe, &m_old);
}

CSigpipeHeld::~CSigpipeHeld()
{
    if (!m_bWasPending && IsSigpipePending()) {
        const timespec noWait{};
        while (sigtimedwait(&m_pipe, nullptr, &noWait) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
}

int OpenForWriting(const QByteArray &nativeName, int nFlags, bool bAlsoRead)
{
    const int nAccess = bAlsoRead ? O_RDWR : O_WRONLY;
    int fd;
    do {
        fd = ::open(nativeName.constData(), nAccess | O_CLOEXEC | O_NOCTTY | nFlags, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int WriteAll(int fd, const QByteArray &bytes)
{
    for (qsizetype nDone = 0; nDone < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + nDone, size_t(bytes.size() - nDone));
        if (n > 0)
            nDone += n;
        else if (n == 0)
            return EIO;
        else if (errno != EINTR)
            return errno;
    }
    return 0;
}

int CloseDescriptor(int &fd)
{
    int nResult = 0;
    if (fd >= 0)
        nResult = ::close(fd);
    fd = -1;
    return nResult;
}
