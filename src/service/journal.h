// The service's log: one line per event on standard error, each with the
// "<N>" priority prefix that journald reads (sd-daemon(3)), so the journal
// files it at the right level without a library call.
#pragma once

#include <QString>

#include <mutex>

enum class EPriority { Error = 3, Warning = 4, Notice = 5, Info = 6 };

class CJournal {
public:
    virtual ~CJournal() = default;
    // One line; line feeds in the text are folded, so a message of the
    // link's (several lines for the window) stays one entry.
    void Write(EPriority ePriority, const QString &strText);

protected:
    virtual void WriteLine(const QByteArray &line);

private:
    std::mutex m_mutex; // the lines of several workers never mix
};

// A message of several lines as one: "a.\nb" becomes "a. b".
QString OneLine(const QString &strText);
