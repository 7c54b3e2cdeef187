// The files varikd's configuration names, and the configuration itself, as
// the built varikd --check-config meets them: what is no regular file is
// refused at once (a FIFO would hang it), Ctrl+C ends it, secrets that others
// may read are warned of, and the service's credential copies are read.
#include "service/service_config.h"

#include "test_files.h"
#include "unprivileged.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <ostream>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

bool operator==(const SConfigProblem &a, const SConfigProblem &b)
{
    return a.nLine == b.nLine && a.strText == b.strText;
}

void PrintTo(const SConfigProblem &problem, std::ostream *pOut)
{
    *pOut << problem.nLine << ": " << problem.strText.toStdString();
}

namespace {

using namespace std::chrono_literals;
using TestFiles::Native;
using TestFiles::PutFile;

struct SCheckRun {
    bool bEnded = false; // false: it hung, and was killed
    int nExit = -1;
    QString strOut;
    QString strErr;
};

// varikd --check-config on strPath, as nobody when the test runs as root (so
// that a file of mode 000 cannot be read); a run that has not ended after
// 30 s is a hang, which is what a FIFO did.
SCheckRun CheckConfig(const QString &strPath, const QStringList &environment = {})
{
    QProcess process;
    if (CanActAsNobody())
        process.setChildProcessModifier([] {
            if (!BecomeNobody())
                ::_exit(99);
        });
    if (!environment.isEmpty())
        process.setEnvironment(QProcess::systemEnvironment() + environment);
    process.start(QStringLiteral(VARIKD_PATH), {QStringLiteral("--check-config"), strPath});
    SCheckRun run;
    run.bEnded = process.waitForFinished(30000);
    if (!run.bEnded) {
        process.kill();
        process.waitForFinished(5000);
    }
    run.nExit = process.exitCode();
    run.strOut = QString::fromUtf8(process.readAllStandardOutput());
    run.strErr = QString::fromUtf8(process.readAllStandardError());
    return run;
}

class ConfigFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        // Nobody must reach the files (CheckConfig).
        ASSERT_EQ(::chmod(Native(m_dir.path()).constData(), 0755), 0);
    }
    QString Path(const QString &strName) const { return m_dir.filePath(strName); }

    QTemporaryDir m_dir;
};

// One kind of file under every key that names a file, and as the
// configuration itself.
struct SFileKind {
    const char *pName;
    std::function<bool(const QString &strPath)> make; // makes a file of the kind at strPath
    const char *pFault;                               // why it is refused; nullptr: it is taken
};

const SFileKind kFileKinds[] = {
    {"FIFO", [](const QString &strPath) { return ::mkfifo(Native(strPath).constData(), 0644) == 0; },
     "it is a FIFO, not a regular file"},
    {"directory", [](const QString &strPath) { return QDir().mkdir(strPath); },
     "it is a directory, not a regular file"},
    {"character device",
     [](const QString &strPath) { return ::symlink("/dev/null", Native(strPath).constData()) == 0; },
     "it is a character device, not a regular file"},
    {"symbolic link to a regular file",
     [](const QString &strPath) {
         const QString strTarget = strPath + QStringLiteral(".target");
         return PutFile(strTarget, "1111\n") && ::chmod(Native(strTarget).constData(), 0644) == 0
                && QFile::link(strTarget, strPath);
     },
     nullptr},
    {"missing", [](const QString &) { return true; }, "No such file or directory"},
    {"unreadable",
     [](const QString &strPath) { return PutFile(strPath, "1111\n") && ::chmod(Native(strPath).constData(), 0) == 0; },
     "Permission denied"},
};

const char *const kFileKeys[] = {"meter.password_file", "password_file", "ca_file", "cert_file", "key_file"};

TEST_F(ConfigFiles, WhatIsNoRegularFileIsRefusedAtOnceUnderEveryKey)
{
    for (const SFileKind &kind : kFileKinds) {
        SCOPED_TRACE(kind.pName);
        const QString strFolder = Path(QString::fromLatin1(kind.pName).replace(QLatin1Char(' '), QLatin1Char('-')));
        ASSERT_TRUE(QDir().mkdir(strFolder));
        const auto fileOf = [&](const char *pKey) { return strFolder + QLatin1Char('/') + QLatin1String(pKey); };
        for (const char *pKey : kFileKeys)
            ASSERT_TRUE(kind.make(fileOf(pKey))) << pKey;
        const QString strConfig = strFolder + QStringLiteral("/varikd.toml");
        ASSERT_TRUE(PutFile(strConfig, "[[line]]\nport = \"/dev/ttyS0\"\n  [[line.meter]]\n  device = 1\n"
                                       "  password_file = \"" + fileOf("meter.password_file").toUtf8() + "\"\n"
                                       "[mqtt]\nurl = \"mqtts://localhost\"\nusername = \"u\"\n"
                                       "password_file = \"" + fileOf("password_file").toUtf8() + "\"\n"
                                       "ca_file = \"" + fileOf("ca_file").toUtf8() + "\"\n"
                                       "cert_file = \"" + fileOf("cert_file").toUtf8() + "\"\n"
                                       "key_file = \"" + fileOf("key_file").toUtf8() + "\"\n"));
        const SCheckRun run = CheckConfig(strConfig);
        ASSERT_TRUE(run.bEnded) << "varikd --check-config hung";
        if (!kind.pFault) {
            EXPECT_EQ(run.nExit, 0) << run.strErr.toStdString();
            continue;
        }
        EXPECT_EQ(run.nExit, 2);
        const int kLines[] = {5, 9, 10, 11, 12};
        QStringList expected;
        for (int n = 0; n < 5; ++n) {
            const QString strKey = QString::fromLatin1(kFileKeys[n]).section(QLatin1Char('.'), -1);
            expected << QStringLiteral("%1:%2: cannot read %3 \"%4\": %5")
                            .arg(strConfig, QString::number(kLines[n]), strKey, fileOf(kFileKeys[n]),
                                 QString::fromUtf8(kind.pFault));
        }
        EXPECT_EQ(run.strErr.toStdString(), (expected.join(QLatin1Char('\n')) + QLatin1Char('\n')).toStdString());
    }
}

TEST_F(ConfigFiles, AConfigurationThatIsNoRegularFileIsRefusedAtOnce)
{
    for (const SFileKind &kind : kFileKinds) {
        SCOPED_TRACE(kind.pName);
        const QString strConfig = Path(QString::fromLatin1(kind.pName).replace(QLatin1Char(' '), QLatin1Char('-')));
        ASSERT_TRUE(kind.make(strConfig));
        const SCheckRun run = CheckConfig(strConfig);
        ASSERT_TRUE(run.bEnded) << "varikd --check-config hung";
        if (!kind.pFault) { // "1111" is no TOML
            EXPECT_EQ(run.nExit, 2);
            EXPECT_FALSE(run.strErr.contains(QStringLiteral("cannot read"))) << run.strErr.toStdString();
            continue;
        }
        EXPECT_EQ(run.nExit, 2);
        EXPECT_EQ(run.strErr.toStdString(),
                  QStringLiteral("%1: cannot read the file: %2\n").arg(strConfig, QString::fromUtf8(kind.pFault)).toStdString());
    }
}

// Run by hand, --check-config is ended by Ctrl+C wherever it is: here
// blocked writing a description longer than a pipe holds into a pipe that
// nobody reads (its reader, a pager, was quit).
TEST_F(ConfigFiles, CheckConfigEndsOnCtrlCWhileItWaits)
{
    QByteArray file = "[[line]]\nport = \"/dev/ttyS0\"\n";
    for (int n = 1; n <= 2000; ++n)
        file += "  [[line.meter]]\n  device = " + QByteArray::number(n) + '\n';
    const QString strConfig = Path(QStringLiteral("many.toml"));
    ASSERT_TRUE(PutFile(strConfig, file));

    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    const QByteArray program = QFile::encodeName(QStringLiteral(VARIKD_PATH));
    const QByteArray config = QFile::encodeName(strConfig);
    char *argv[] = {const_cast<char *>(program.constData()), const_cast<char *>("--check-config"),
                    const_cast<char *>(config.constData()), nullptr};
    pid_t pid = 0;
    const int nSpawn = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    ASSERT_EQ(nSpawn, 0);

    const auto waitFor = [](const std::function<bool()> &done) {
        const auto until = std::chrono::steady_clock::now() + 30s;
        while (!done() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(20ms);
        return done();
    };
    int nStatus = 0;
    bool bEnded = false;
    const auto ended = [&] { return bEnded || (bEnded = ::waitpid(pid, &nStatus, WNOHANG) == pid); };
    // The pipe is full: what is left of the description waits on it.
    const bool bFull = waitFor([&] {
        int nQueued = 0;
        return ended() || (::ioctl(fds[0], FIONREAD, &nQueued) == 0 && nQueued >= 60000);
    });
    EXPECT_TRUE(bFull);
    EXPECT_FALSE(ended()) << "it wrote the whole description into the pipe";
    ::kill(pid, SIGINT);
    EXPECT_TRUE(waitFor(ended)) << "SIGINT did not end it";
    if (!ended()) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &nStatus, 0);
    } else {
        EXPECT_TRUE(WIFSIGNALED(nStatus) && WTERMSIG(nStatus) == SIGINT);
    }
    ::close(fds[0]);
}

// A password or private key that others may read is taken with a warning
// (at its line) that says who may read it; other files are no secret.
TEST_F(ConfigFiles, SecretsOthersMayReadAreWarnedOf)
{
    const group *pGroup = ::getgrgid(::getegid());
    ASSERT_NE(pGroup, nullptr);
    const QString strGroup = QStringLiteral("group ") + QString::fromLocal8Bit(pGroup->gr_name);
    const struct {
        mode_t nMode;
        QString strWho; // empty: no warning
    } modes[] = {
        {0600, QString()}, {0400, QString()}, {0640, strGroup}, {0660, strGroup}, {0604, QStringLiteral("everybody")},
        {0644, QStringLiteral("everybody")},
    };
    const QString strConfig = Path(QStringLiteral("varikd.toml"));
    ASSERT_TRUE(PutFile(strConfig, "[[line]]\nport = \"/dev/ttyS0\"\n  [[line.meter]]\n  device = 1\n"
                                   "  password_file = \"meter.pw\"\n"
                                   "[mqtt]\nurl = \"mqtts://localhost\"\nusername = \"u\"\n"
                                   "password_file = \"mqtt.pw\"\nca_file = \"ca.pem\"\ncert_file = \"cert.pem\"\n"
                                   "key_file = \"key.pem\"\n"));
    for (const auto &mode : modes) {
        SCOPED_TRACE(mode.nMode);
        for (const char *pName : {"meter.pw", "mqtt.pw", "ca.pem", "cert.pem", "key.pem"}) {
            const QString strPath = Path(QString::fromLatin1(pName));
            ASSERT_TRUE(PutFile(strPath, "1111\n"));
            ASSERT_EQ(::chmod(Native(strPath).constData(), mode.nMode), 0);
        }
        const SConfigResult result = ReadServiceConfig(strConfig);
        ASSERT_TRUE(result.Ok()) << result.problems.front().strText.toStdString();
        std::vector<SConfigProblem> expected;
        if (!mode.strWho.isEmpty()) {
            const auto warning = [&](int nLine, const char *pKey, const char *pName) {
                expected.push_back({nLine, QStringLiteral("%1 \"%2\" may be read by %3 (mode 0%4): keep it in "
                                                          "/etc/varik with mode 0600, where the service still reads it")
                                               .arg(QLatin1String(pKey), QLatin1String(pName), mode.strWho)
                                               .arg(uint(mode.nMode), 3, 8, QLatin1Char('0'))});
            };
            warning(5, "password_file", "meter.pw");
            warning(9, "password_file", "mqtt.pw");
            warning(12, "key_file", "key.pem");
        }
        EXPECT_EQ(result.warnings, expected);
    }
}

// A warning does not make a file bad: --check-config says it and exits 0,
// and the service says it in its journal, as a warning, and runs.
TEST_F(ConfigFiles, WarningsOfCheckConfigAndOfTheService)
{
    ASSERT_TRUE(PutFile(Path(QStringLiteral("meter.pw")), "1111\n"));
    ASSERT_EQ(::chmod(Native(Path(QStringLiteral("meter.pw"))).constData(), 0644), 0);
    const QString strConfig = Path(QStringLiteral("varikd.toml"));
    ASSERT_TRUE(PutFile(strConfig, "data_dir = \"" + Path(QStringLiteral("data")).toUtf8()
                                       + "\"\n[[line]]\nport = \"" + Path(QStringLiteral("no-port")).toUtf8()
                                       + "\"\n  [[line.meter]]\n  device = 1\n  password_file = \"meter.pw\"\n"));
    const QString strWarning = QStringLiteral("%1:6: warning: password_file \"meter.pw\" may be read by everybody "
                                              "(mode 0644): keep it in /etc/varik with mode 0600, where the service "
                                              "still reads it")
                                   .arg(strConfig);
    const SCheckRun run = CheckConfig(strConfig);
    ASSERT_TRUE(run.bEnded);
    EXPECT_EQ(run.nExit, 0);
    EXPECT_EQ(run.strErr.toStdString(), (strWarning + QLatin1Char('\n')).toStdString());
    EXPECT_TRUE(run.strOut.contains(QStringLiteral("1: device 1"))) << run.strOut.toStdString();

    QProcess service;
    service.start(QStringLiteral(VARIKD_PATH), {QStringLiteral("--config"), strConfig});
    QByteArray journal;
    for (int nWait = 0; nWait < 300 && !journal.contains("started"); ++nWait) {
        service.waitForReadyRead(100);
        journal += service.readAllStandardError();
    }
    service.terminate();
    EXPECT_TRUE(service.waitForFinished(30000));
    EXPECT_TRUE(journal.contains("<4>" + strWarning.toUtf8() + '\n')) << journal.constData();
    EXPECT_TRUE(journal.contains("started")) << journal.constData();
}

// A reload that meets a FIFO where the password file was refuses the file
// at once: the service goes on with what it read before and still stops on
// SIGTERM.
TEST_F(ConfigFiles, AReloadThatMeetsAFifoKeepsTheServiceAnswering)
{
    const QString strPassword = Path(QStringLiteral("meter.pw"));
    ASSERT_TRUE(PutFile(strPassword, "1111\n"));
    const QString strConfig = Path(QStringLiteral("varikd.toml"));
    ASSERT_TRUE(PutFile(strConfig, "data_dir = \"" + Path(QStringLiteral("data")).toUtf8()
                                       + "\"\n[[line]]\nport = \"" + Path(QStringLiteral("no-port")).toUtf8()
                                       + "\"\n  [[line.meter]]\n  device = 1\n  password_file = \"meter.pw\"\n"));
    QProcess service;
    service.start(QStringLiteral(VARIKD_PATH), {QStringLiteral("--config"), strConfig});
    QByteArray journal;
    const auto waitFor = [&](const QByteArray &text) {
        for (int nWait = 0; nWait < 300 && !journal.contains(text); ++nWait) {
            service.waitForReadyRead(100);
            journal += service.readAllStandardError();
        }
        return journal.contains(text);
    };
    ASSERT_TRUE(waitFor("started")) << journal.constData();
    ASSERT_TRUE(QFile::remove(strPassword));
    ASSERT_EQ(::mkfifo(Native(strPassword).constData(), 0600), 0);
    ::kill(pid_t(service.processId()), SIGHUP);
    EXPECT_TRUE(waitFor("the configuration read before stays")) << journal.constData();
    EXPECT_TRUE(journal.contains("cannot read password_file \"meter.pw\": it is a FIFO, not a regular file"))
        << journal.constData();
    service.terminate();
    EXPECT_TRUE(service.waitForFinished(30000)) << "SIGTERM did not stop it";
    if (service.state() != QProcess::NotRunning) {
        service.kill();
        service.waitForFinished(5000);
    }
}

// Under its unit the service is handed /etc/varik as credentials: the copy
// of a file there is read instead of the file, which may then be root's
// alone; a file without a copy, or outside /etc/varik, is read where it is.
TEST_F(ConfigFiles, SecretsAreReadFromTheServicesCredentialCopy)
{
    const QString strCredentials = Path(QStringLiteral("credentials"));
    ASSERT_TRUE(QDir().mkdir(strCredentials));
    ASSERT_TRUE(PutFile(strCredentials + QStringLiteral("/varik_feeder-b.password"), "2222\n"));
    ASSERT_TRUE(PutFile(strCredentials + QStringLiteral("/varik_mqtt.password"), "copy secret\n"));
    ASSERT_TRUE(PutFile(strCredentials + QStringLiteral("/varik_tls_client.key"), "-----BEGIN-----\n"));
    ASSERT_TRUE(PutFile(strCredentials + QStringLiteral("/varik_local.password"), "copy\n"));
    ASSERT_TRUE(PutFile(Path(QStringLiteral("local.password")), "3333\n"));
    ASSERT_TRUE(PutFile(Path(QStringLiteral("client.pem")), "-----BEGIN-----\n"));
    const QString strConfig = Path(QStringLiteral("varikd.toml"));
    ASSERT_TRUE(PutFile(strConfig, R"([[line]]
port = "/dev/ttyS0"
  [[line.meter]]
  device = 1
  password_file = "/etc/varik/feeder-b.password"
  [[line.meter]]
  device = 2
  password_file = "local.password"
[mqtt]
url = "mqtts://localhost"
username = "u"
password_file = "/etc/varik/mqtt.password"
cert_file = "client.pem"
key_file = "/etc/varik/tls/client.key"
)"));

    qputenv("CREDENTIALS_DIRECTORY", QFile::encodeName(strCredentials));
    const SConfigResult result = ReadServiceConfig(strConfig);
    qunsetenv("CREDENTIALS_DIRECTORY");
    ASSERT_TRUE(result.Ok()) << result.problems.front().strText.toStdString();
    EXPECT_EQ(result.config.lines.at(0).meters.at(0).strPassword, QStringLiteral("2222"));
    EXPECT_EQ(result.config.lines.at(0).meters.at(1).strPassword, QStringLiteral("3333"));
    EXPECT_EQ(result.config.mqtt.strPassword, QStringLiteral("copy secret"));
    // The TLS library reads the key again at every connect: the copy's path.
    EXPECT_EQ(result.config.mqtt.strKeyFile, strCredentials + QStringLiteral("/varik_tls_client.key"));
    EXPECT_EQ(result.config.mqtt.strCertFile, Path(QStringLiteral("client.pem")));

    // Without credentials, or with no copy of a file, the file itself.
    const QString strMissing = QStringLiteral("cannot read password_file \"/etc/varik/feeder-b.password\": No such file "
                                              "or directory");
    if (!QFile::exists(QStringLiteral("/etc/varik/feeder-b.password")))
        EXPECT_EQ(ReadServiceConfig(strConfig).problems.front(), (SConfigProblem{5, strMissing}));
    ASSERT_TRUE(QFile::remove(strCredentials + QStringLiteral("/varik_feeder-b.password")));
    qputenv("CREDENTIALS_DIRECTORY", QFile::encodeName(strCredentials));
    const SConfigResult noCopy = ReadServiceConfig(strConfig);
    qunsetenv("CREDENTIALS_DIRECTORY");
    if (!QFile::exists(QStringLiteral("/etc/varik/feeder-b.password")))
        EXPECT_EQ(noCopy.problems, (std::vector<SConfigProblem>{{5, strMissing}}));
}

} // namespace
