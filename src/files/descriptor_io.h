// The descriptor-level pieces the file writers share: opening a name as
// open() does, writing every byte, and holding SIGPIPE meanwhile.
#pragma once

#include <QByteArray>

#include <csignal>

// A reader that leaves a FIFO before the end must not end the whole program
// with SIGPIPE: while this lives the signal is held for this thread, and one
// that a write raised is taken back, so the write just fails with EPIPE.
class CSigpipeHeld {
public:
    CSigpipeHeld();
    ~CSigpipeHeld();
    CSigpipeHeld(const CSigpipeHeld &) = delete;
    CSigpipeHeld &operator=(const CSigpipeHeld &) = delete;

private:
    sigset_t m_pipe;
    sigset_t m_old;
    bool m_bWasPending = false;
};

// open() for writing, symbolic links followed, retried when a signal
// interrupts it (opening a FIFO waits for its reader). nFlags are added to
// O_WRONLY | O_CLOEXEC | O_NOCTTY (O_RDWR in place of O_WRONLY when the
// caller also reads); a file O_CREAT makes gets mode 0666 less the umask.
// The descriptor, or -1 with errno set.
int OpenForWriting(const QByteArray &nativeName, int nFlags, bool bAlsoRead = false);

// Writes every byte, continuing after a partial write or a signal. 0 when
// all is written, else the errno of the write that failed (EIO for one that
// took nothing and gave no reason).
int WriteAll(int fd, const QByteArray &bytes);

// Closes fd when open and leaves it -1; close()'s result. Never retried:
// Linux frees the descriptor even when close() fails.
int CloseDescriptor(int &fd);
