// The file writers against what a name can stand for: regular files,
// symbolic links, FIFOs, device nodes, sockets and folders.
#include "files/file_output.h"
#include "unprivileged.h"
#include "test_files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace TestFiles;

namespace {

struct SWriter {
    const char *pName;
    EFileResult (*pWrite)(const QString &, const QByteArray &);
    bool bAppends;
};
const SWriter kWriters[] = {{"ReplaceFile", ReplaceFile, false}, {"AppendToExistingFile", AppendToExistingFile, true}};

ino_t Inode(const QString &strPath)
{
    struct stat st {};
    return ::stat(Native(strPath).constData(), &st) == 0 ? st.st_ino : 0;
}

void Link(const QByteArray &target, const QString &strLink)
{
    ASSERT_EQ(::symlink(target.constData(), Native(strLink).constData()), 0) << std::strerror(errno);
}

QByteArray LinkText(const QString &strLink)
{
    char text[4096];
    const ssize_t n = ::readlink(Native(strLink).constData(), text, sizeof text);
    return n < 0 ? QByteArray("<not a link>") : QByteArray(text, n);
}

// Everything a reader opened without waiting finds in the FIFO once its
// writer has closed it.
QByteArray Drain(int fdReader)
{
    QByteArray got;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fdReader, buffer, sizeof buffer);
        if (n <= 0)
            return got;
        got.append(buffer, n);
    }
}

class FileOutputTest : public ::testing::Test {
protected:
    QTemporaryDir m_dir;
    QString Path(const QString &strName) const { return m_dir.filePath(strName); }
};

// The reader is open before the write starts, so opening does not wait, and
// the list fits in the pipe's buffer.
TEST_F(FileOutputTest, FifoIsWrittenThroughAndStaysAFifo)
{
    const QString strFifo = Path(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(Native(strFifo).constData(), 0600), 0);
    Link("fifo", Path(QStringLiteral("link")));
    for (const SWriter &writer : kWriters) {
        for (const char *pName : {"fifo", "link"}) {
            SCOPED_TRACE(std::string(writer.pName) + " to " + pName);
            const int fdReader = ::open(Native(strFifo).constData(), O_RDONLY | O_NONBLOCK);
            ASSERT_GE(fdReader, 0);
            EXPECT_EQ(writer.pWrite(Path(QString::fromLatin1(pName)), "x\t1\ny\t2\n"), EFileResult::Ok);
            EXPECT_EQ(Drain(fdReader), QByteArray("x\t1\ny\t2\n"));
            ::close(fdReader);
        }
        EXPECT_EQ(Kind(strFifo), mode_t(S_IFIFO));
        EXPECT_EQ(Kind(Path(QStringLiteral("link"))), mode_t(S_IFLNK));
    }
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
              (QStringList{u"fifo"_qs, u"link"_qs}));
}

// The reader takes a little and leaves while the writer waits on a full
// pipe: a failed write, not SIGPIPE ending the process.
TEST_F(FileOutputTest, ReaderLeavingEarlyIsAWriteFailure)
{
    const QString strFifo = Path(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(Native(strFifo).constData(), 0600), 0);
    const QByteArray big(4 << 20, 'x');
    for (const SWriter &writer : kWriters) {
        SCOPED_TRACE(writer.pName);
        const int fdReader = ::open(Native(strFifo).constData(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(fdReader, 0);
        std::thread reader([fdReader] {
            pollfd p{fdReader, POLLIN, 0};
            ::poll(&p, 1, 10000);
            char c;
            (void)!::read(fdReader, &c, 1);
            ::close(fdReader);
        });
        EXPECT_EQ(writer.pWrite(strFifo, big), EFileResult::WriteFailed);
        reader.join();
        sigset_t pending;
        sigpending(&pending);
        EXPECT_FALSE(sigismember(&pending, SIGPIPE));
    }
}

TEST_F(FileOutputTest, CharacterDevicesAreWrittenInPlace)
{
    const struct {
        const char *pName;
        dev_t device;
        EFileResult expected;
    } cases[] = {
        {"null", makedev(1, 3), EFileResult::Ok},
        {"full", makedev(1, 7), EFileResult::WriteFailed},
    };
    for (const auto &c : cases) {
        const QString strNode = Path(QString::fromLatin1(c.pName));
        if (::mknod(Native(strNode).constData(), S_IFCHR | 0666, c.device) != 0)
            GTEST_SKIP() << "mknod is not permitted here (" << std::strerror(errno) << "); device nodes untested";
        const int fd = ::open(Native(strNode).constData(), O_WRONLY);
        if (fd < 0)
            GTEST_SKIP() << "device nodes cannot be opened in " << qPrintable(m_dir.path()) << " ("
                         << std::strerror(errno) << ", a nodev mount?); device nodes untested";
        ::close(fd);
        for (const SWriter &writer : kWriters) {
            SCOPED_TRACE(std::string(writer.pName) + " to a copy of /dev/" + c.pName);
            EXPECT_EQ(writer.pWrite(strNode, "x\t1\n"), c.expected);
            EXPECT_EQ(Kind(strNode), mode_t(S_IFCHR));
        }
    }
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
              (QStringList{u"full"_qs, u"null"_qs}));
}

TEST_F(FileOutputTest, SymbolicLinksAreFollowedAndKept)
{
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("sub")));
    const struct {
        const char *pCase;
        const char *pLink;
        QByteArray target; // as the link holds it
    } cases[] = {
        {"beside its target", "link", "list.txt"},
        {"a link to a link", "link2", "link"},
        {"in another folder, relative to that folder", "sub/up", "../list.txt"},
        {"absolute", "sub/abs", Native(Path(QStringLiteral("list.txt")))},
    };
    const QString strTarget = Path(QStringLiteral("list.txt"));
    for (const auto &c : cases)
        Link(c.target, Path(QString::fromLatin1(c.pLink)));
    for (const SWriter &writer : kWriters) {
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(writer.pName) + ", link " + c.pCase);
            ASSERT_TRUE(PutFile(strTarget, "old\n"));
            const QString strLink = Path(QString::fromLatin1(c.pLink));
            EXPECT_EQ(writer.pWrite(strLink, "x\t1\n"), EFileResult::Ok);
            EXPECT_EQ(FileBytes(strTarget), writer.bAppends ? QByteArray("old\nx\t1\n") : QByteArray("x\t1\n"));
            EXPECT_EQ(Kind(strLink), mode_t(S_IFLNK));
            EXPECT_EQ(LinkText(strLink), c.target);
        }
    }
    // No temporary file is left beside the link or the target.
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
              (QStringList{u"link"_qs, u"link2"_qs, u"list.txt"_qs, u"sub"_qs}));
    EXPECT_EQ(QDir(Path(QStringLiteral("sub"))).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
              (QStringList{u"abs"_qs, u"up"_qs}));
}

// A save creates the file that a dangling link names, as open() would; a
// record is never appended to a file that does not exist.
TEST_F(FileOutputTest, DanglingLinkGetsItsTargetOnlyFromASave)
{
    const QString strLink = Path(QStringLiteral("link"));
    const QString strTarget = Path(QStringLiteral("new.txt"));
    Link("new.txt", strLink);
    EXPECT_EQ(AppendToExistingFile(strLink, "x\t1\n"), EFileResult::OpenFailed);
    EXPECT_FALSE(QFile::exists(strTarget));
    EXPECT_EQ(ReplaceFile(strLink, "x\t1\n"), EFileResult::Ok);
    EXPECT_EQ(FileBytes(strTarget), QByteArray("x\t1\n"));
    EXPECT_EQ(Kind(strLink), mode_t(S_IFLNK));

    Link("no/such/folder/x.txt", Path(QStringLiteral("nowhere")));
    EXPECT_EQ(ReplaceFile(Path(QStringLiteral("nowhere")), "x\t1\n"), EFileResult::OpenFailed);
}

TEST_F(FileOutputTest, NamesThatCannotBeOpenedAreLeftAsTheyAre)
{
    const QString strSocket = Path(QStringLiteral("socket"));
    const int fdSocket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, Native(strSocket).constData(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fdSocket, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    Link("loop2", Path(QStringLiteral("loop1")));
    Link("loop1", Path(QStringLiteral("loop2")));
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("folder")));

    const struct {
        const char *pName;
        mode_t kind; // 0: nothing there, nothing made
    } cases[] = {
        {"folder", S_IFDIR},
        {"socket", S_IFSOCK},
        {"loop1", S_IFLNK},
        {"no/such/folder/x.txt", 0},
        {"", 0},
    };
    for (const SWriter &writer : kWriters) {
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(writer.pName) + " to '" + c.pName + "'");
            const QString strPath = *c.pName ? Path(QString::fromLatin1(c.pName)) : QString();
            EXPECT_EQ(writer.pWrite(strPath, "x\t1\n"), EFileResult::OpenFailed);
            if (!strPath.isEmpty()) {
                EXPECT_EQ(Kind(strPath), c.kind);
            }
        }
    }
    ::close(fdSocket);
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
              (QStringList{u"folder"_qs, u"loop1"_qs, u"loop2"_qs, u"socket"_qs}));
}

// A full disk, as the process's file size limit makes it: the earlier file
// keeps its content, whether named directly or through a link.
TEST_F(FileOutputTest, FailedSaveKeepsTheEarlierFile)
{
    const QString strTarget = Path(QStringLiteral("list.txt"));
    Link("list.txt", Path(QStringLiteral("link")));
    for (const char *pName : {"list.txt", "link"}) {
        SCOPED_TRACE(pName);
        ASSERT_TRUE(PutFile(strTarget, "earlier\n"));
        CFileSizeLimit diskFull(4096);
        const EFileResult result = ReplaceFile(Path(QString::fromLatin1(pName)), QByteArray(8192, 'x'));
        diskFull.Lift();
        EXPECT_EQ(result, EFileResult::WriteFailed);
        EXPECT_EQ(FileBytes(strTarget), QByteArray("earlier\n"));
        EXPECT_EQ(Kind(Path(QStringLiteral("link"))), mode_t(S_IFLNK));
    }
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
              (QStringList{u"link"_qs, u"list.txt"_qs}));
}

// No temporary file can be made in a folder without write permission, so
// the file itself is written. Root ignores permissions, so the save runs in
// a child process that has given up root for the unprivileged "nobody".
TEST_F(FileOutputTest, WritableFileInAReadOnlyFolderIsWrittenInPlace)
{
    const QString strFolder = Path(QStringLiteral("ro"));
    const QString strFile = strFolder + QStringLiteral("/list.txt");
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("ro")));
    ASSERT_TRUE(PutFile(strFile, "earlier\n"));
    ASSERT_EQ(::chmod(Native(m_dir.path()).constData(), 0755), 0);
    ASSERT_EQ(::chmod(Native(strFile).constData(), 0666), 0);
    ASSERT_EQ(::chmod(Native(strFolder).constData(), 0555), 0);
    const ino_t inode = Inode(strFile);

    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const gid_t nobody = 65534;
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0))
            ::_exit(100);
        // A new name cannot be made there; the existing file is overwritten.
        const bool bNewRefused = ReplaceFile(strFolder + QStringLiteral("/new.txt"), "x") == EFileResult::OpenFailed;
        ::_exit(bNewRefused ? int(ReplaceFile(strFile, "x\t1\n")) : 101);
    }
    int nStatus = 0;
    ASSERT_EQ(::waitpid(pid, &nStatus, 0), pid);
    ::chmod(Native(strFolder).constData(), 0755);
    ASSERT_TRUE(WIFEXITED(nStatus));
    ASSERT_NE(WEXITSTATUS(nStatus), 100) << "could not give up root for the unprivileged user 65534";
    ASSERT_NE(WEXITSTATUS(nStatus), 101) << "a new file was made in the read-only folder";
    EXPECT_EQ(WEXITSTATUS(nStatus), int(EFileResult::Ok));
    EXPECT_EQ(FileBytes(strFile), QByteArray("x\t1\n"));
    EXPECT_EQ(Inode(strFile), inode);
    EXPECT_EQ(QDir(strFolder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
              QStringList{u"list.txt"_qs});
}

struct SOwner {
    uid_t uid;
    gid_t gid;
    mode_t mode;
    bool operator==(const SOwner &) const = default;
};

std::ostream &operator<<(std::ostream &out, const SOwner &owner)
{
    return out << owner.uid << ':' << owner.gid << " mode " << std::oct << owner.mode << std::dec;
}

SOwner OwnerOf(const QString &strPath)
{
    struct stat st {};
    if (::stat(Native(strPath).constData(), &st) != 0)
        return {uid_t(-1), gid_t(-1), 0};
    return {st.st_uid, st.st_gid, st.st_mode & 07777};
}

// Saving over a file of another user leaves it that user's: root saving over
// nobody's file gives it back to nobody; nobody, who may not give a file
// away, writes root's file in place where it may write it, and otherwise
// leaves it alone. The folder is nobody's, so a temporary file could be made
// there in every case.
TEST_F(FileOutputTest, SavingOverAnotherUsersFileKeepsItsOwner)
{
    if (!CanActAsNobody())
        GTEST_SKIP() << "needs root to own files as another user";
    const QString strFolder = Path(QStringLiteral("nobodys"));
    const QString strFile = strFolder + QStringLiteral("/varik.INI");
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("nobodys")));
    ASSERT_EQ(::chmod(Native(m_dir.path()).constData(), 0755), 0);
    ASSERT_EQ(::chown(Native(strFolder).constData(), NOBODY_ID, NOBODY_ID), 0);
    const struct {
        const char *pName;
        SOwner before;
        bool bAsNobody;
        EFileResult result;
        QByteArray after;
    } cases[] = {
        {"root saves over nobody's file", {NOBODY_ID, NOBODY_ID, 0640}, false, EFileResult::Ok, "new\n"},
        {"root saves over root's file of nobody's group", {0, NOBODY_ID, 0664}, false, EFileResult::Ok, "new\n"},
        {"nobody saves over root's file it may write", {0, 0, 0666}, true, EFileResult::Ok, "new\n"},
        {"nobody saves over root's file it may only read", {0, 0, 0644}, true, EFileResult::OpenFailed,
         "earlier, longer\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        QFile::remove(strFile);
        ASSERT_TRUE(PutFile(strFile, "earlier, longer\n"));
        ASSERT_EQ(::chown(Native(strFile).constData(), c.before.uid, c.before.gid), 0);
        ASSERT_EQ(::chmod(Native(strFile).constData(), c.before.mode), 0);
        EFileResult result;
        if (c.bAsNobody) {
            const SNobodyRun run = RunAsNobody([&] { return QByteArray::number(int(ReplaceFile(strFile, "new\n"))); });
            ASSERT_TRUE(run.bRan);
            result = EFileResult(run.out.toInt());
        } else {
            result = ReplaceFile(strFile, "new\n");
        }
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(FileBytes(strFile), c.after);
        EXPECT_EQ(OwnerOf(strFile), c.before);
        EXPECT_EQ(QDir(strFolder).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
                  QStringList{u"varik.INI"_qs});
    }
}

} // namespace
