#include "service/journal.h"

#include <unistd.h>

#include <cerrno>

QString OneLine(const QString &strText)
{
    QString strLine = strText;
    strLine.replace(u'\n', u' ');
    return strLine.simplified();
}

void CJournal::Write(EPriority ePriority, const QString &strText)
{
    const QByteArray line = '<' + QByteArray::number(int(ePriority)) + '>' + OneLine(strText).toUtf8() + '\n';
    const std::lock_guard<std::mutex> lock(m_mutex);
    WriteLine(line);
}

void CJournal::WriteLine(const QByteArray &line)
{
    // One write for the whole line; journald takes a line as it comes.
    const char *p = line.constData();
    qsizetype nLeft = line.size();
    while (nLeft > 0) {
        const ssize_t n = ::write(STDERR_FILENO, p, size_t(nLeft));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // nowhere to say it
        p += n;
        nLeft -= n;
    }
}
