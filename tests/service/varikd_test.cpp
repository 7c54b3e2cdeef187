// varikd end to end: the built program with a configuration, against
// varik-meter buses on pseudo-terminals, watched through its journal lines
// and its CSV logs.
#include "varikd_process.h"

#include <QRegularExpression>
#include <QTemporaryDir>

#include <sys/resource.h>

namespace {

using namespace VarikdTest;

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

TEST(Varikd, AMeterThatRestartsGetsItsFirstLevelBackWithItsPassword)
{
    QTemporaryDir dir;
    const QString strLink = dir.filePath(QStringLiteral("ttyVARIK"));
    const QStringList meter{QStringLiteral("--devices"), QStringLiteral("4"), QStringLiteral("--fault"),
                            QStringLiteral("4=password1:abc"), QStringLiteral("--link"), strLink};
    auto bus = std::make_unique<CBus>(meter);
    CVarikd varikd(dir.path());
    varikd.WriteConfig(LineToml(strLink, 115200,
                                {{QStringLiteral("first"), 4,
                                  QStringLiteral("  level = 1\n  password = \"abc\"\n  second = 1")}}));
    varikd.Start();
    ASSERT_TRUE(varikd.WaitForRows(QStringLiteral("first"), 2, 20000)) << varikd.Journal().join(u'\n').toStdString();

    bus.reset(); // switched off and on: its access is locked again
    bus = std::make_unique<CBus>(meter);
    const int nRows = int(varikd.Rows(QStringLiteral("first")).size());
    EXPECT_TRUE(varikd.WaitForRows(QStringLiteral("first"), nRows + 3, 30000))
        << varikd.Journal().join(u'\n').toStdString();
    EXPECT_TRUE(varikd.JournalWith(QStringLiteral("first: refused")).isEmpty())
        << varikd.Journal().join(u'\n').toStdString();
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
