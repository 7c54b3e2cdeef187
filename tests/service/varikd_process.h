// varikd as the tests run it: the built program with a configuration of
// their own, varik-meter buses on pseudo-terminals, the journal lines as they
// come and the CSV logs.
#pragma once

#include "test_files.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace VarikdTest {

// Waits up to nMs for fnDone, looking every 50 ms.
inline bool WaitUntil(const std::function<bool()> &fnDone, int nMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!fnDone()) {
        if (timer.elapsed() > nMs)
            return false;
        QThread::msleep(50);
    }
    return true;
}

// The rows of a CSV log, its header left out; none while it is missing.
inline QList<QByteArray> LogRows(const QString &strPath)
{
    const QByteArray bytes = TestFiles::FileBytes(strPath);
    if (bytes == "<missing>")
        return {};
    // A file just made may not hold its header yet.
    QList<QByteArray> rows = bytes.split('\n');
    rows.removeLast(); // after the last line feed, or a line not yet whole
    if (!rows.isEmpty())
        rows.removeFirst(); // the header
    return rows;
}

// One varik-meter: a bus of the devices given, or with --link a device
// name that stays when the bus is stopped and started again.
class CBus {
public:
    explicit CBus(const QStringList &args)
    {
        m_process.start(QStringLiteral(VARIK_METER_PATH), args);
        EXPECT_TRUE(m_process.waitForReadyRead(10000));
        m_strPath = QString::fromLocal8Bit(m_process.readLine()).trimmed();
    }
    ~CBus() { Stop(); }
    void Stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        m_process.waitForFinished(5000);
    }
    const QString &Path() const { return m_strPath; }

private:
    QProcess m_process;
    QString m_strPath;
};

// Where systemd would listen for the service's notifications.
class CNotifySocket {
public:
    explicit CNotifySocket(const QString &strPath) : m_strPath(strPath)
    {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray path = strPath.toLocal8Bit();
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        EXPECT_EQ(::bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    }
    ~CNotifySocket() { ::close(m_fd); }
    const QString &Path() const { return m_strPath; }

    // Every message so far, one line each.
    QStringList Messages()
    {
        char buffer[4096];
        for (ssize_t n; (n = ::recv(m_fd, buffer, sizeof buffer, 0)) > 0;)
            m_messages += QString::fromUtf8(buffer, int(n)).split(u'\n', Qt::SkipEmptyParts);
        return m_messages;
    }

private:
    QString m_strPath;
    int m_fd = -1;
    QStringList m_messages;
};

struct SMeterLine {
    QString strName;
    int nDevice;
    QString strExtra; // more keys, one per line
};

inline QByteArray LineToml(const QString &strPort, int nBaud, const std::vector<SMeterLine> &meters)
{
    QByteArray text = "\n[[line]]\nport = \"" + strPort.toUtf8() + "\"\nbaud = " + QByteArray::number(nBaud) + "\n";
    for (const SMeterLine &m : meters)
        text += "  [[line.meter]]\n  name = \"" + m.strName.toUtf8() + "\"\n  device = "
                + QByteArray::number(m.nDevice) + "\n" + m.strExtra.toUtf8() + "\n";
    return text;
}

// varikd running on a configuration in a folder of its own; its journal
// lines are collected as they come.
class CVarikd {
public:
    explicit CVarikd(const QString &strDir) : m_strDir(strDir) {}
    ~CVarikd()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    QString DataDir() const { return m_strDir + QStringLiteral("/data"); }
    QString ConfigPath() const { return m_strDir + QStringLiteral("/varikd.toml"); }

    void WriteConfig(const QByteArray &lines, const QByteArray &head = "max_backoff = 2\n")
    {
        ASSERT_TRUE(TestFiles::PutFile(ConfigPath(), "data_dir = \"" + DataDir().toUtf8() + "\"\n" + head + lines));
    }
    void Start(const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
    {
        m_process.setProcessEnvironment(env);
        m_process.start(QStringLiteral(VARIKD_PATH), {QStringLiteral("--config"), ConfigPath()});
        ASSERT_TRUE(m_process.waitForStarted());
    }
    void Signal(int nSignal) { ::kill(pid_t(m_process.processId()), nSignal); }
    qint64 Pid() const { return m_process.processId(); }
    QProcess &Process() { return m_process; }

    QStringList Journal()
    {
        QCoreApplication::processEvents(); // what the program wrote meanwhile
        m_journal += QString::fromUtf8(m_process.readAllStandardError());
        return m_journal.split(u'\n', Qt::SkipEmptyParts);
    }
    QStringList JournalWith(const QString &strText)
    {
        return Journal().filter(strText);
    }
    bool WaitForJournal(const QString &strText, int nMs = 15000)
    {
        return WaitUntil([&] { return !JournalWith(strText).isEmpty(); }, nMs);
    }

    // The rows (header left out) of a meter's log of today.
    QList<QByteArray> Rows(const QString &strMeter, const char *pSet = "second") const
    {
        return LogRows(LogPath(strMeter, pSet));
    }
    QString LogPath(const QString &strMeter, const char *pSet = "second") const
    {
        return DataDir() + u'/' + strMeter + u'/' + QLatin1String(pSet) + u'/'
               + QDate::currentDate().toString(Qt::ISODate) + QStringLiteral(".csv");
    }
    bool WaitForRows(const QString &strMeter, int nRows, int nMs = 15000, const char *pSet = "second")
    {
        return WaitUntil([&] { return Rows(strMeter, pSet).size() >= nRows; }, nMs);
    }

private:
    QString m_strDir;
    QProcess m_process;
    QString m_journal;
};

} // namespace VarikdTest
