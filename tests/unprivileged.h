// Acting as an ordinary user from a test run as root. The kernel lets root
// open any device whatever its mode or exclusive flag, so refusals are tried
// by a child process that has become nobody.
#pragma once

#include <QByteArray>

#include <grp.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

constexpr uid_t NOBODY_ID = 65534;

// Whether this process can make a child act as nobody.
inline bool CanActAsNobody()
{
    return ::geteuid() == 0;
}

// Makes the calling process nobody, user and group, with no other groups.
// False when it may not.
inline bool BecomeNobody()
{
    return ::setgroups(0, nullptr) == 0 && ::setresgid(NOBODY_ID, NOBODY_ID, NOBODY_ID) == 0
        && ::setresuid(NOBODY_ID, NOBODY_ID, NOBODY_ID) == 0;
}

struct SNobodyRun {
    bool bRan = false; // the child became nobody and finished fn
    QByteArray out;    // what fn returned
};

// Runs fn in a forked child that has become nobody.
inline SNobodyRun RunAsNobody(const std::function<QByteArray()> &fn)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return {};
    }
    if (pid == 0) {
        ::close(fds[0]);
        if (!BecomeNobody())
            ::_exit(2);
        const QByteArray out = fn();
        for (qsizetype n = 0; n < out.size();) {
            const ssize_t nWritten = ::write(fds[1], out.constData() + n, size_t(out.size() - n));
            if (nWritten <= 0)
                ::_exit(3);
            n += nWritten;
        }
        ::_exit(0); // nothing of the parent's is torn down twice
    }
    ::close(fds[1]);
    SNobodyRun run;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) != 0;) {
        if (n > 0)
            run.out.append(buffer, n);
        else if (errno != EINTR)
            break;
    }
    ::close(fds[0]);
    int nStatus = 0;
    while (::waitpid(pid, &nStatus, 0) < 0 && errno == EINTR) {
    }
    run.bRan = WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0;
    return run;
}
