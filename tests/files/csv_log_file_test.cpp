// The CSV log's file: the header once, rows on disk as they come, and a
// failed write that stops the log with the file ending in whole rows.
#include "files/csv_log_file.h"

#include "data/csv_log.h"
#include "files/file_text.h"
#include "test_files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace TestFiles;

namespace {

const QByteArray kRow1 = "2026-12-10T14:03:07+03:00,1.000,-0.005\n";
const QByteArray kRow2 = "2026-12-10T14:03:08+03:00,1.001,-0.004\n";

class CsvLogFileTest : public ::testing::Test {
protected:
    QTemporaryDir m_dir;
    QString Path(const char *pName) const { return m_dir.filePath(QString::fromLatin1(pName)); }
};

// Each log is opened twice: the second time the file holds rows, so no
// second header goes in.
TEST_F(CsvLogFileTest, HeaderOnlyWhenTheFileHoldsNothing)
{
    const QByteArray empty;
    const QByteArray earlier = CsvHeader() + "2026-12-09T10:00:00+03:00,1.000\n";
    const struct {
        const char *pName;    // what the log is opened as
        const char *pTarget;  // where the bytes land
        const char *pLinkTo;  // the name is made a link to this
        const QByteArray *pBefore; // nullptr: no file there
        QByteArray after;     // the file after the first log
    } cases[] = {
        {"missing.csv", "missing.csv", nullptr, nullptr, CsvHeader() + kRow1},
        {"empty.csv", "empty.csv", nullptr, &empty, CsvHeader() + kRow1},
        {"rows.csv", "rows.csv", nullptr, &earlier, earlier + kRow1},
        {"link.csv", "linked.csv", "linked.csv", &empty, CsvHeader() + kRow1},
        {"dangling.csv", "new.csv", "new.csv", nullptr, CsvHeader() + kRow1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        if (c.pBefore) {
            ASSERT_TRUE(PutFile(Path(c.pTarget), *c.pBefore));
        }
        if (c.pLinkTo) {
            ASSERT_EQ(::symlink(c.pLinkTo, Native(Path(c.pName)).constData()), 0);
        }
        {
            CCsvLogFile log;
            ASSERT_EQ(log.Open(Path(c.pName)), EFileResult::Ok) << qPrintable(log.ErrorText());
            EXPECT_EQ(log.Append(kRow1), EFileResult::Ok);
        }
        EXPECT_EQ(FileBytes(Path(c.pTarget)), c.after);
        CCsvLogFile log;
        ASSERT_EQ(log.Open(Path(c.pName)), EFileResult::Ok);
        EXPECT_EQ(log.Append(kRow2), EFileResult::Ok);
        log.Close();
        EXPECT_EQ(FileBytes(Path(c.pTarget)), c.after + kRow2);
        if (c.pLinkTo) {
            EXPECT_EQ(Kind(Path(c.pName)), mode_t(S_IFLNK));
        }
    }
}

// A power cut mid-row leaves the file without a line feed at its end: the
// torn row is cut off before anything is appended, so that no row is glued
// onto it.
TEST_F(CsvLogFileTest, TornLastRowIsCutOffBeforeAppending)
{
    const QByteArray torn = "2026-12-10T14:03:08+03:00,1.0";
    const QByteArray longTorn(100 * 1024, '7'); // longer than one block read back
    const struct {
        const char *pName;
        QByteArray before;
        QByteArray after; // once kRow2 is appended
        qint64 nCut;
    } cases[] = {
        {"whole rows", CsvHeader() + kRow1, CsvHeader() + kRow1 + kRow2, 0},
        {"a torn row after rows", CsvHeader() + kRow1 + torn, CsvHeader() + kRow1 + kRow2, torn.size()},
        {"a carriage return is no line end", CsvHeader() + kRow1 + "\r", CsvHeader() + kRow1 + kRow2, 1},
        {"a torn row longer than a block", CsvHeader() + kRow1 + longTorn, CsvHeader() + kRow1 + kRow2,
         longTorn.size()},
        {"a torn header alone gets a whole one", CsvHeader().left(50), CsvHeader() + kRow2, 50},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        const QString strPath = Path("log.csv");
        ASSERT_TRUE(PutFile(strPath, c.before));
        CCsvLogFile log;
        ASSERT_EQ(log.Open(strPath), EFileResult::Ok) << qPrintable(log.ErrorText());
        EXPECT_EQ(log.CutBytes(), c.nCut);
        EXPECT_EQ(log.Append(kRow2), EFileResult::Ok);
        EXPECT_EQ(FileBytes(strPath), c.after);
    }
}

// Each data set's log starts with that set's header and goes on under it.
TEST_F(CsvLogFileTest, EachSetGetsItsOwnHeaderAndKeepsToIt)
{
    for (const EDataSet eSet : {EDataSet::Second, EDataSet::Minute, EDataSet::Day}) {
        SCOPED_TRACE(int(eSet));
        const QString strPath = m_dir.filePath(QStringLiteral("set%1.csv").arg(int(eSet)));
        {
            CCsvLogFile log;
            ASSERT_EQ(log.Open(strPath, eSet), EFileResult::Ok) << qPrintable(log.ErrorText());
            EXPECT_EQ(log.Append(kRow1), EFileResult::Ok);
        }
        EXPECT_EQ(FileBytes(strPath), CsvHeader(eSet) + kRow1);
        CCsvLogFile log;
        ASSERT_EQ(log.Open(strPath, eSet), EFileResult::Ok) << qPrintable(log.ErrorText());
        EXPECT_FALSE(log.OtherHeader());
        EXPECT_EQ(log.Append(kRow2), EFileResult::Ok);
        EXPECT_EQ(FileBytes(strPath), CsvHeader(eSet) + kRow1 + kRow2);
    }
}

// A file whose first line is not the header of the set to be logged would
// get rows whose columns mean something else: it is refused, with the
// reason, and left exactly as it was, a torn last row included.
TEST_F(CsvLogFileTest, OtherHeaderIsRefusedAndTheFileLeftAsItWas)
{
    const QByteArray torn = "2026-12-10T14:03:08+03:00,1.0";
    const struct {
        const char *pName;
        QByteArray before;
        EDataSet eSet; // what the log is opened for
    } cases[] = {
        {"a minute log", CsvHeader(EDataSet::Minute) + kRow1, EDataSet::Second},
        {"a minute log with a torn row", CsvHeader(EDataSet::Minute) + kRow1 + torn, EDataSet::Second},
        {"a per-second log", CsvHeader() + kRow1, EDataSet::Day},
        {"a day log's header alone", CsvHeader(EDataSet::Day), EDataSet::Minute},
        {"a day log's header cut short", CsvHeader(EDataSet::Day).left(40), EDataSet::Second},
        {"the header with a carriage return", CsvHeader().chopped(1) + "\r\n" + kRow1, EDataSet::Second},
        {"the header with a column more", CsvHeader().chopped(1) + ",x\n", EDataSet::Second},
        {"a header of another program", "time,x\n2026-12-09T10:00:00+03:00,1.000\n", EDataSet::Second},
        {"one line without a line feed", "notes", EDataSet::Second},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        const QString strPath = Path("other.csv");
        ASSERT_TRUE(PutFile(strPath, c.before));
        CCsvLogFile log;
        EXPECT_EQ(log.Open(strPath, c.eSet), EFileResult::OpenFailed);
        EXPECT_TRUE(log.OtherHeader());
        EXPECT_FALSE(log.IsOpen());
        EXPECT_EQ(log.Errno(), 0);
        EXPECT_EQ(log.ErrorText(), FileText::CsvOtherHeader(c.eSet));
        EXPECT_EQ(log.CutBytes(), 0);
        EXPECT_EQ(log.Append(kRow2), EFileResult::WriteFailed);
        EXPECT_EQ(FileBytes(strPath), c.before);
    }
}

TEST_F(CsvLogFileTest, RowsAreInTheFileAsSoonAsAppendReturns)
{
    const QString strPath = Path("log.csv");
    CCsvLogFile log;
    ASSERT_EQ(log.Open(strPath), EFileResult::Ok);
    EXPECT_EQ(FileBytes(strPath), CsvHeader());
    ASSERT_EQ(log.Append(kRow1), EFileResult::Ok);
    EXPECT_EQ(FileBytes(strPath), CsvHeader() + kRow1);
    ASSERT_EQ(log.Append(kRow2), EFileResult::Ok);
    EXPECT_EQ(FileBytes(strPath), CsvHeader() + kRow1 + kRow2);
    EXPECT_TRUE(log.IsOpen());
    EXPECT_EQ(log.Errno(), 0);
}

TEST_F(CsvLogFileTest, NamesThatCannotBeOpenedSayWhy)
{
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("folder")));
    const struct {
        QString strPath;
        int nErrno;
    } cases[] = {
        {Path("folder"), EISDIR},
        {Path("no/such/folder/log.csv"), ENOENT},
        {QString(), ENOENT},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(qPrintable(c.strPath));
        CCsvLogFile log;
        EXPECT_EQ(log.Open(c.strPath), EFileResult::OpenFailed);
        EXPECT_EQ(log.Errno(), c.nErrno);
        EXPECT_FALSE(log.ErrorText().isEmpty());
        EXPECT_FALSE(log.IsOpen());
        EXPECT_EQ(log.Append(kRow1), EFileResult::WriteFailed);
    }
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
              QStringList{u"folder"_qs});
}

// A full device refuses the header: the log never opens and the node stays
// what it is. A copy made with mknod where that is allowed, else the
// system's own /dev/full.
TEST_F(CsvLogFileTest, FullDeviceFailsAtTheHeader)
{
    QString strFull = Path("full");
    if (::mknod(Native(strFull).constData(), S_IFCHR | 0666, makedev(1, 7)) != 0
        || ::access(Native(strFull).constData(), W_OK) != 0)
        strFull = QStringLiteral("/dev/full");
    CCsvLogFile log;
    EXPECT_EQ(log.Open(strFull), EFileResult::WriteFailed);
    EXPECT_EQ(log.Errno(), ENOSPC);
    EXPECT_FALSE(log.ErrorText().isEmpty());
    EXPECT_FALSE(log.IsOpen());
    EXPECT_EQ(log.Append(kRow1), EFileResult::WriteFailed);
    EXPECT_EQ(Kind(strFull), mode_t(S_IFCHR));
}

// The disk fills in the middle of a row, as the process's file size limit
// makes it: the part of the row that went in is taken back out, the error is
// told, and nothing more is written.
TEST_F(CsvLogFileTest, DiskFillingUpStopsTheLogAfterTheLastWholeRow)
{
    const QString strPath = Path("log.csv");
    CCsvLogFile log;
    ASSERT_EQ(log.Open(strPath), EFileResult::Ok);
    ASSERT_EQ(log.Append(kRow1), EFileResult::Ok);

    CFileSizeLimit diskFull(rlim_t(CsvHeader().size() + kRow1.size() + kRow2.size() / 2));
    const EFileResult result = log.Append(kRow2);
    const int nErrno = log.Errno();
    diskFull.Lift();

    EXPECT_EQ(result, EFileResult::WriteFailed);
    EXPECT_EQ(nErrno, EFBIG);
    EXPECT_FALSE(log.IsOpen());
    EXPECT_EQ(FileBytes(strPath), CsvHeader() + kRow1);
    EXPECT_EQ(log.Append(kRow2), EFileResult::WriteFailed);
    EXPECT_EQ(FileBytes(strPath), CsvHeader() + kRow1);
}

// A FIFO's reader gets the header and the rows; when it leaves, the next
// row fails with EPIPE instead of SIGPIPE ending the program.
TEST_F(CsvLogFileTest, FifoReaderLeavingIsAWriteFailure)
{
    const QString strFifo = Path("fifo");
    ASSERT_EQ(::mkfifo(Native(strFifo).constData(), 0600), 0);
    const int fdReader = ::open(Native(strFifo).constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fdReader, 0);
    CCsvLogFile log;
    ASSERT_EQ(log.Open(strFifo), EFileResult::Ok);
    ASSERT_EQ(log.Append(kRow1), EFileResult::Ok);
    char buffer[8192];
    const ssize_t n = ::read(fdReader, buffer, sizeof buffer);
    EXPECT_EQ(QByteArray(buffer, n > 0 ? n : 0), CsvHeader() + kRow1);
    ::close(fdReader);

    EXPECT_EQ(log.Append(kRow2), EFileResult::WriteFailed);
    EXPECT_EQ(log.Errno(), EPIPE);
    sigset_t pending;
    sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGPIPE));
    EXPECT_EQ(Kind(strFifo), mode_t(S_IFIFO));
}

} // namespace
