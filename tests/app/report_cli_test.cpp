// varik-cli report end to end: the real binary over logs written by the
// test, with its own configuration folder.
#include "files/report_test_logs.h"
#include "test_files.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using TestFiles::FileBytes;
using TestFiles::PutFile;

// 2026-10-19T00:00:00+03:00, on a 10-minute tick of UTC.
constexpr qint64 T0 = 1792357200;
constexpr int EAST3 = 3 * 3600;

struct SRun {
    int nExit = -1;
    QByteArray out;
    QByteArray err;
};

class ReportCliTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_env.insert("XDG_CONFIG_HOME", m_dir.filePath("config"));
        m_env.insert("HOME", m_dir.path());
        // The report's days and weeks are local: the log's days start at 00:00 here.
        m_env.insert("TZ", "Etc/GMT-3");
        // Two intervals of a meter's minute log, dUB at +11 % in the second,
        // and a broken row.
        CTestLog log(EDataSet::Minute);
        for (int nMinute = 0; nMinute < 20; ++nMinute)
            log.Row(T0 + nMinute * 60, EAST3, nMinute >= 10 ? std::map<QByteArray, QByteArray>{{"dUB", "11.00"}}
                                                            : std::map<QByteArray, QByteArray>{});
        log.Line("broken");
        ASSERT_TRUE(QDir(m_dir.path()).mkpath("site-7/minute"));
        m_strLog = m_dir.filePath("site-7/minute/2026-10-19.csv");
        ASSERT_TRUE(PutFile(m_strLog, log.Bytes()));
    }

    SRun Run(const QStringList &args, const QString &strProgram = QStringLiteral(VARIK_CLI_PATH))
    {
        QProcess p;
        p.setProcessEnvironment(m_env);
        p.start(strProgram, args);
        EXPECT_TRUE(p.waitForFinished(30000));
        return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
    }

    QByteArray WindowLimits() const { return FileBytes(m_dir.filePath("config/varik/limits.txt")); }

    QTemporaryDir m_dir;
    QProcessEnvironment m_env = QProcessEnvironment::systemEnvironment();
    QString m_strLog;
};

TEST_F(ReportCliTest, PrintsATableWithTheVerdictsWithoutAPort)
{
    const SRun run = Run({"report", m_strLog});
    EXPECT_EQ(run.nExit, 0) << run.err.constData();
    EXPECT_EQ(run.err, "");
    const QString strOut = QString::fromUtf8(run.out);
    EXPECT_TRUE(strOut.contains(QRegularExpression("^dU +B +-10 \\.\\. 10 +50\\.00 +fail$",
                                                   QRegularExpression::MultilineOption)))
        << run.out.constData();
    EXPECT_TRUE(strOut.contains(QRegularExpression("^Ku5 +A +\\.\\. 6 +100\\.00 +pass$",
                                                   QRegularExpression::MultilineOption)));
    EXPECT_TRUE(strOut.contains("2 valid, 0 invalid"));
    EXPECT_TRUE(strOut.contains(QRegularExpression("^verdict: \\d+ pass, 1 fail, 0 incomplete, \\d+ no data; failed: dU B$",
                                                   QRegularExpression::MultilineOption)))
        << run.out.constData();
    EXPECT_TRUE(strOut.contains(QDir::toNativeSeparators(m_strLog) + ", line 22"));
    EXPECT_TRUE(strOut.contains("not a week"));
    EXPECT_TRUE(strOut.contains(QRegularExpression("^overall verdict: fail", QRegularExpression::MultilineOption)));
    EXPECT_TRUE(strOut.contains("class A instrument"));
    // The window's limits file, made with the defaults as the window makes it.
    EXPECT_TRUE(WindowLimits().contains("Ku5"));
}

TEST_F(ReportCliTest, WritesTheSummaryAndNamesBadRowsOnStandardError)
{
    const QString strSummary = m_dir.filePath("summary.csv");
    const SRun run = Run({"report", "--summary", strSummary, m_strLog});
    EXPECT_EQ(run.nExit, 0) << run.err.constData();
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(QString::fromUtf8(run.err).contains(QDir::toNativeSeparators(m_strLog) + ", строка 22"))
        << run.err.constData();
    const QList<QByteArray> lines = FileBytes(strSummary).split('\n');
    ASSERT_GT(lines.size(), 3);
    EXPECT_EQ(lines[0], "week,quantity,phase,low,high,share,intervals,invalid,flagged,beyond,within,minimum,maximum,"
                        "p05,p95,verdict");
    EXPECT_EQ(lines[2], "2026-10-19,dU,B,-10,10,95,2,0,0,1,50.00,0.000,11.000,0.000,11.000,fail");
}

TEST_F(ReportCliTest, JudgesByTheWindowsLimitsOrTheOnesGiven)
{
    ASSERT_TRUE(QDir().mkpath(m_dir.filePath("config/varik")));
    ASSERT_TRUE(PutFile(m_dir.filePath("config/varik/limits.txt"), "dU = -12 .. 12\nKu5 = none\nKu7 = what\n"));
    const QString strOther = m_dir.filePath("other.txt");
    ASSERT_TRUE(PutFile(strOther, "dU = -5 .. 5\n"));
    const QString strSummary = m_dir.filePath("summary.csv");

    SRun run = Run({"report", m_strLog, "--summary", strSummary});
    EXPECT_EQ(run.nExit, 0);
    EXPECT_TRUE(run.err.contains("limits.txt")) << "the line it could not read: " << run.err.constData();
    QByteArray summary = FileBytes(strSummary);
    EXPECT_TRUE(summary.contains("\n2026-10-19,dU,B,-12,12,95,2,0,0,0,100.00,")) << summary.constData();
    EXPECT_FALSE(summary.contains(",Ku5,"));
    EXPECT_TRUE(summary.contains("\n2026-10-19,Ku7,A,,5,"));

    run = Run({"report", "--limits", strOther, "--summary", strSummary, m_strLog});
    EXPECT_EQ(run.nExit, 0);
    summary = FileBytes(strSummary);
    EXPECT_TRUE(summary.contains("\n2026-10-19,dU,B,-5,5,95,2,0,0,1,50.00,")) << summary.constData();
    EXPECT_TRUE(summary.contains("\n2026-10-19,Ku5,A,,6,")) << "the other file leaves Ku5 its default";
}

TEST_F(ReportCliTest, FailuresExitWithTheirCodeAndNameTheFile)
{
    const QString strSecond = m_dir.filePath("second.csv");
    const QString strDay = m_dir.filePath("day.csv");
    ASSERT_TRUE(PutFile(strSecond, CsvHeader(EDataSet::Second)));
    ASSERT_TRUE(PutFile(strDay, CsvHeader(EDataSet::Day)));
    const QString strMissing = m_dir.filePath("missing.csv");
    const struct {
        const char *pName;
        QStringList args;
        int nExit;
        QString strNamed;
    } cases[] = {
        {"a missing log", {"report", m_strLog, strMissing}, 1, strMissing},
        {"a missing limits file", {"report", "--limits", strMissing, m_strLog}, 1, strMissing},
        {"a summary that cannot be written", {"report", "--summary", m_dir.filePath("no/s.csv"), m_strLog}, 1,
         m_dir.filePath("no/s.csv")},
        {"a day log", {"report", strDay}, 2, strDay},
        {"logs of both lists", {"report", m_strLog, strSecond}, 2, strSecond},
        {"no log", {"report"}, 2, "report"},
        {"a date not YYYY-MM-DD", {"report", "--from", "2026-10-1", m_strLog}, 2, "--from"},
        {"no such date", {"report", "--to", "2026-02-30", m_strLog}, 2, "--from"},
        {"to before from", {"report", "--from", "2026-10-19", "--to", "2026-10-18", m_strLog}, 2, "2026-10-18"},
        {"an option of no command", {"report", "--fromm", "2026-10-19", m_strLog}, 2, "fromm"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        const SRun run = Run(c.args);
        EXPECT_EQ(run.nExit, c.nExit) << run.err.constData();
        EXPECT_TRUE(QString::fromUtf8(run.err).contains(QDir::toNativeSeparators(c.strNamed))) << run.err.constData();
        EXPECT_EQ(run.out, "");
    }
}

// varik-cli draws no PDF itself: it becomes varik-report, found beside it or
// where the package installs it, with the same arguments.
TEST_F(ReportCliTest, APdfIsHandedOverToTheReportProgram)
{
    const QString strBin = m_dir.filePath("usr/bin");
    const QString strLibexec = m_dir.filePath("usr/libexec/varik");
    ASSERT_TRUE(QDir().mkpath(strBin) && QDir().mkpath(strLibexec));
    const QString strCli = strBin + "/varik-cli";
    ASSERT_TRUE(QFile::copy(QStringLiteral(VARIK_CLI_PATH), strCli));
    const QByteArray script = "#!/bin/sh\nprintf '%s|' \"$0\" \"$@\"\nexit 7\n";
    const QStringList args = {"report", "--title", "Подстанция 7", "--pdf", m_dir.filePath("r.pdf"), m_strLog};

    SRun run = Run(args, strCli);
    EXPECT_EQ(run.nExit, 1);
    EXPECT_TRUE(run.err.contains("varik-report")) << run.err.constData();

    const QString strJoined = args.join(u'|') + u'|';
    for (const QString &strProgram : {strLibexec + "/varik-report", strBin + "/varik-report"}) {
        SCOPED_TRACE(strProgram.toStdString());
        ASSERT_TRUE(PutFile(strProgram, script));
        ASSERT_TRUE(QFile::setPermissions(strProgram, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        run = Run(args, strCli);
        EXPECT_EQ(run.nExit, 7);
        EXPECT_EQ(QString::fromUtf8(run.out), QDir::cleanPath(strProgram) + u'|' + strJoined);
    }
}

} // namespace
