// varikd end to end: the built program with a configuration, against
// varik-meter buses on pseudo-terminals, watched through its journal lines
// and its CSV logs.
#include "test_files.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Waits up to nMs for fnDone, looking every 50 ms.
bool WaitUntil(const std::function<bool()> &fnDone, int nMs)
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

QByteArray LineToml(const QString &strPort, int nBaud, const std::vector<SMeterLine> &meters)
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
        const QByteArray bytes = TestFiles::FileBytes(LogPath(strMeter, pSet));
        if (bytes == "<missing>")
            return {};
        QList<QByteArray> rows = bytes.split('\n');
        rows.removeFirst(); // the header
        rows.removeLast();  // after the last line feed
        return rows;
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

int FieldCount(const QByteArray &row)
{
    return int(row.count(',')) + 1;
}

} // namespace

TEST(Varikd, ReadsTheGoodMetersAtTheirRateWhileTheSilentOneBacksOff)
{
    QTemporaryDir dir;
    CBus busA({QStringLiteral("--devices"), QStringLiteral("1,2,7"), QStringLiteral("--fault"), QStringLiteral("7=silent")});
    CBus busB({QStringLiteral("--devices"), QStringLiteral("3")});
    CVarikd varikd(dir.path());
    const QString strEvery = QStringLiteral("  second = 1\n  minute = 0\n  day = \"\"");
    varikd.WriteConfig(LineToml(busA.Path(), 115200,
                                {{QStringLiteral("one"), 1, QStringLiteral("  second = 1\n  minute = 2\n  day = \"\"")},
                                 {QStringLiteral("two"), 2, strEvery},
                                 {QStringLiteral("quiet"), 7, strEvery}})
                       + LineToml(busB.Path(), 115200, {{QStringLiteral("three"), 3, strEvery}}));
    varikd.Start();

    ASSERT_TRUE(varikd.WaitForRows(QStringLiteral("one"), 6, 30000)) << varikd.Journal().join(u'\n').toStdString();
    ASSERT_TRUE(varikd.WaitForRows(QStringLiteral("two"), 6));
    ASSERT_TRUE(varikd.WaitForRows(QStringLiteral("three"), 6));
    ASSERT_TRUE(varikd.WaitForRows(QStringLiteral("one"), 2, 15000, "minute"));
    // Several back-offs of the silent meter have passed by now.
    QThread::msleep(4000);

    const QList<QByteArray> rows = varikd.Rows(QStringLiteral("one"));
    const QByteArray header = TestFiles::FileBytes(varikd.LogPath(QStringLiteral("one"))).split('\n').first();
    EXPECT_TRUE(header.startsWith("time,dUA,")) << header.constData();
    for (const QByteArray &row : rows)
        EXPECT_EQ(FieldCount(row), FieldCount(header)) << row.constData();
    const QByteArray minuteHeader =
        TestFiles::FileBytes(varikd.LogPath(QStringLiteral("one"), "minute")).split('\n').first();
    EXPECT_TRUE(minuteHeader.endsWith(",dU1,dF")) << minuteHeader.constData();
    // Two meters of one line, not slowed by the third: one read a second each.
    EXPECT_GE(varikd.Rows(QStringLiteral("two")).size(), 8);
    EXPECT_FALSE(QFile::exists(varikd.LogPath(QStringLiteral("quiet"))));

    const QStringList quiet = varikd.JournalWith(QStringLiteral("quiet: "));
    ASSERT_EQ(quiet.size(), 1) << quiet.join(u'\n').toStdString();
    EXPECT_TRUE(quiet.first().startsWith(QStringLiteral("<4>quiet: silent: "))) << quiet.first().toStdString();
    EXPECT_EQ(varikd.JournalWith(QStringLiteral("one: answers")).size(), 1);

    varikd.Signal(SIGTERM);
    ASSERT_TRUE(varikd.Process().waitForFinished(5000));
    EXPECT_EQ(varikd.Process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(varikd.Process().exitCode(), 0);
}

TEST(Varikd, SigtermEndsTheExchangeThatRunsAndExitsZero)
{
    QTemporaryDir dir;
    // At 1200 bit/s a per-second reply takes about nine seconds.
    CBus bus({QStringLiteral("--devices"), QStringLiteral("1"), QStringLiteral("--paced")});
    CVarikd varikd(dir.path());
    varikd.WriteConfig(LineToml(bus.Path(), 1200, {{QStringLiteral("slow"), 1, QStringLiteral("  second = 1")}}));
    varikd.Start();
    ASSERT_TRUE(varikd.WaitForJournal(QStringLiteral("started")));
    QThread::msleep(3000); // well into the reply

    QElapsedTimer timer;
    timer.start();
    varikd.Signal(SIGTERM);
    ASSERT_TRUE(varikd.Process().waitForFinished(5000));
    EXPECT_LT(timer.elapsed(), 1500);
    EXPECT_EQ(varikd.Process().exitCode(), 0);
    EXPECT_TRUE(varikd.Rows(QStringLiteral("slow")).isEmpty()) << "a reading cut short is no reading";
    EXPECT_TRUE(varikd.JournalWith(QStringLiteral("slow: ")).isEmpty())
        << "a stop is no failure of the meter: " << varikd.Journal().join(u'\n').toStdString();
}

TEST(Varikd, SighupAppliesAChangedFileAndKeepsTheOldOneWhenTheNewIsBroken)
{
    QTemporaryDir dir;
    CBus bus({QStringLiteral("--devices"), QStringLiteral("1,2")});
    CVarikd varikd(dir.path());
    const QByteArray first = LineToml(bus.Path(), 115200, {{QStringLiteral("a"), 1, QStringLiteral("  second = 1")}});
    varikd.WriteConfig(first);
    varikd.Start();
    ASSERT_TRUE(varikd.WaitForRows(QStringLiteral("a"), 2, 20000)) << varikd.Journal().join(u'\n').toStdString();

    varikd.WriteConfig(LineToml(bus.Path(), 115200,
                                {{QStringLiteral("a"), 1, QStringLiteral("  second = 1")},
                                 {QStringLiteral("b"), 2, QStringLiteral("  second = 1")}}));
    varikd.Signal(SIGHUP);
    ASSERT_TRUE(varikd.WaitForRows(QStringLiteral("b"), 2)) << varikd.Journal().join(u'\n').toStdString();
    EXPECT_EQ(varikd.JournalWith(QStringLiteral("configuration read again")).size(), 1);
    EXPECT_EQ(varikd.JournalWith(QStringLiteral("a: answers")).size(), 1) << "the unchanged meter went on as it was";

    varikd.WriteConfig(first + "colour = \"red\"\n");
    varikd.Signal(SIGHUP);
    ASSERT_TRUE(varikd.WaitForJournal(QStringLiteral("the configuration read before stays")));
    const QStringList problems = varikd.JournalWith(QStringLiteral("colour"));
    ASSERT_FALSE(problems.isEmpty());
    EXPECT_TRUE(problems.first().startsWith(QStringLiteral("<3>") + varikd.ConfigPath() + u':'))
        << problems.first().toStdString();
    const int nRowsB = int(varikd.Rows(QStringLiteral("b")).size());
    EXPECT_TRUE(varikd.WaitForRows(QStringLiteral("b"), nRowsB + 2)) << "both meters are still read";

    varikd.Signal(SIGTERM);
    ASSERT_TRUE(varikd.Process().waitForFinished(5000));
    EXPECT_EQ(varikd.Process().exitCode(), 0);
}

TEST(Varikd, APortThatVanishesIsOpenedAgainWhenItIsBack)
{
    QTemporaryDir dir;
    const QString strLink = dir.filePath(QStringLiteral("ttyVARIK"));
    auto bus = std::make_unique<CBus>(QStringList{QStringLiteral("--devices"), QStringLiteral("5"),
                                                  QStringLiteral("--link"), strLink});
    CVarikd varikd(dir.path());
    varikd.WriteConfig(LineToml(strLink, 115200, {{QStringLiteral("plug"), 5, QStringLiteral("  second = 1")}}));
    varikd.Start();
    ASSERT_TRUE(varikd.WaitForRows(QStringLiteral("plug"), 2, 20000)) << varikd.Journal().join(u'\n').toStdString();

    bus->Stop(); // the adapter is pulled out: the device name goes away
    ASSERT_TRUE(varikd.WaitForJournal(QStringLiteral("plug: no-port: ")));
    QThread::msleep(3000);
    EXPECT_EQ(varikd.JournalWith(QStringLiteral("plug: no-port: ")).size(), 1) << "said once, not at every try";

    bus = std::make_unique<CBus>(QStringList{QStringLiteral("--devices"), QStringLiteral("5"),
                                             QStringLiteral("--link"), strLink});
    ASSERT_TRUE(varikd.WaitForJournal(QStringLiteral("plug: answers again")));
    const int nRows = int(varikd.Rows(QStringLiteral("plug")).size());
    EXPECT_TRUE(varikd.WaitForRows(QStringLiteral("plug"), nRows + 2));
}

TEST(Varikd, AFullDiskIsLoggedOnceAndTheLogGoesOnWhenThereIsRoomAgain)
{
    QTemporaryDir dir;
    CBus bus({QStringLiteral("--devices"), QStringLiteral("1")});
    CVarikd varikd(dir.path());
    varikd.WriteConfig(LineToml(bus.Path(), 115200, {{QStringLiteral("full"), 1, QStringLiteral("  second = 1")}}));
    {
        // The header and a few rows fit; varikd keeps the limit it started with.
        TestFiles::CFileSizeLimit limit(12000);
        varikd.Start();
    }
    ASSERT_TRUE(varikd.WaitForJournal(QStringLiteral("full: cannot write "), 30000))
        << varikd.Journal().join(u'\n').toStdString();
    QThread::msleep(3000);
    EXPECT_EQ(varikd.JournalWith(QStringLiteral("cannot write")).size(), 1);
    EXPECT_TRUE(varikd.JournalWith(QStringLiteral("cannot write")).first().startsWith(QStringLiteral("<3>")));
    const QByteArray bytes = TestFiles::FileBytes(varikd.LogPath(QStringLiteral("full")));
    EXPECT_TRUE(bytes.endsWith('\n')) << "no torn row";
    const QList<QByteArray> rows = varikd.Rows(QStringLiteral("full"));
    ASSERT_FALSE(rows.isEmpty());
    for (const QByteArray &row : rows)
        EXPECT_EQ(FieldCount(row), FieldCount(bytes.left(bytes.indexOf('\n'))));

    // Room again: the service's own limit is lifted from outside.
    rlimit limit{};
    ASSERT_EQ(::prlimit(pid_t(varikd.Pid()), RLIMIT_FSIZE, nullptr, &limit), 0);
    limit.rlim_cur = limit.rlim_max;
    ASSERT_EQ(::prlimit(pid_t(varikd.Pid()), RLIMIT_FSIZE, &limit, nullptr), 0);
    ASSERT_TRUE(varikd.WaitForJournal(QStringLiteral("full: writing ")));
    EXPECT_TRUE(varikd.WaitForRows(QStringLiteral("full"), int(rows.size()) + 2));
}

TEST(Varikd, TellsSystemdWhenItIsReadyReloadsStopsAndThatItIsAlive)
{
    QTemporaryDir dir;
    CBus bus({QStringLiteral("--devices"), QStringLiteral("1")});
    CNotifySocket notify(dir.filePath(QStringLiteral("notify")));
    CVarikd varikd(dir.path());
    varikd.WriteConfig(LineToml(bus.Path(), 115200, {{QStringLiteral("m"), 1, QStringLiteral("  second = 1")}}));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("NOTIFY_SOCKET"), notify.Path());
    env.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("400000"));
    varikd.Start(env);

    ASSERT_TRUE(WaitUntil([&] { return notify.Messages().contains(QStringLiteral("READY=1")); }, 10000));
    ASSERT_TRUE(WaitUntil([&] { return notify.Messages().count(QStringLiteral("WATCHDOG=1")) >= 3; }, 5000))
        << "kept at half the watchdog's time";
    varikd.Signal(SIGHUP);
    ASSERT_TRUE(WaitUntil([&] { return notify.Messages().count(QStringLiteral("READY=1")) == 2; }, 10000));
    varikd.Signal(SIGTERM);
    ASSERT_TRUE(varikd.Process().waitForFinished(5000));
    const QStringList order = notify.Messages().filter(QRegularExpression(QStringLiteral("^(READY|RELOADING|STOPPING)")));
    EXPECT_EQ(order, (QStringList{"READY=1", "RELOADING=1", "READY=1", "STOPPING=1"}));
}
