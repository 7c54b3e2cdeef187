// The outbox's files as they lie on the disk, pinned by golden folders under
// outbox/: one as the outbox writes it, and one for each kind of damage its
// reader meets, each beside the messages it must deliver ("delivers": a
// comment line, then "<topic> <payload>" a line). A change that moves a byte
// of what is written, or reads an old folder another way, fails here; the
// test knows nothing of the layout itself.
#include "files/outbox.h"
#include "test_files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

using namespace TestFiles;

// Case names in the test's listing, not their bytes.
void PrintTo(const QString &str, std::ostream *pOut)
{
    *pOut << str.toStdString();
}

namespace {

const QString GOLDEN = QStringLiteral(VARIK_OUTBOX_GOLDEN);
const QString WRITTEN = QStringLiteral("written");
const QString OUTCOME = QStringLiteral("delivers");

// What made the folder "written": three pushed, the first acknowledged.
const QByteArray TOPIC = "varik/ps12/vvod1/second";
const QByteArray PUSHED[] = {R"({"n":1})", R"({"n":2,"U":"230.1"})", R"({"n":3})"};

std::vector<QString> Cases()
{
    const QStringList names = QDir(GOLDEN).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    return {names.begin(), names.end()};
}

// The outbox's own files of a folder: all but the outcome.
QStringList OutboxFiles(const QString &strFolder)
{
    QStringList names = QDir(strFolder).entryList(QDir::Files, QDir::Name);
    names.removeAll(OUTCOME);
    return names;
}

std::vector<std::string> Expected(const QString &strCase)
{
    std::vector<std::string> lines;
    for (const QByteArray &line : FileBytes(GOLDEN + u'/' + strCase + u'/' + OUTCOME).split('\n'))
        if (!line.isEmpty() && !line.startsWith('#'))
            lines.push_back(line.toStdString());
    return lines;
}

std::vector<std::string> DeliverAll(COutbox &outbox)
{
    std::vector<std::string> lines;
    for (;;) {
        const std::vector<SOutboxMessage> messages = outbox.Peek(10);
        if (messages.empty())
            return lines;
        for (const SOutboxMessage &message : messages)
            lines.push_back((message.topic + ' ' + message.payload).toStdString());
        EXPECT_EQ(outbox.Ack(int(messages.size())), EOutboxResult::Ok);
    }
}

TEST(OutboxGoldenTest, WritesTheSameBytesAsEver)
{
    QTemporaryDir dir;
    const QString strFolder = dir.path() + QStringLiteral("/outbox");
    {
        COutbox outbox;
        ASSERT_EQ(outbox.Open(strFolder, 64 * 1024), EOutboxResult::Ok) << qPrintable(outbox.ErrorText());
        for (const QByteArray &payload : PUSHED)
            ASSERT_EQ(outbox.Push({TOPIC, payload}), EOutboxResult::Ok) << qPrintable(outbox.ErrorText());
        ASSERT_EQ(outbox.Peek(1).size(), 1u);
        ASSERT_EQ(outbox.Ack(1), EOutboxResult::Ok);
        ASSERT_EQ(outbox.Sync(), EOutboxResult::Ok);
    }
    const QString strGolden = GOLDEN + u'/' + WRITTEN;
    ASSERT_EQ(OutboxFiles(strFolder), OutboxFiles(strGolden));
    for (const QString &strName : OutboxFiles(strGolden)) {
        SCOPED_TRACE(qPrintable(strName));
        EXPECT_EQ(FileBytes(strFolder + u'/' + strName).toHex(' ').toStdString(),
                  FileBytes(strGolden + u'/' + strName).toHex(' ').toStdString());
    }
}

TEST(OutboxGoldenTest, EveryCaseHasItsOutcome)
{
    const std::vector<QString> cases = Cases();
    ASSERT_NE(std::find(cases.begin(), cases.end(), WRITTEN), cases.end());
    for (const QString &strCase : Cases())
        EXPECT_TRUE(QFile::exists(GOLDEN + u'/' + strCase + u'/' + OUTCOME)) << qPrintable(strCase);
}

class OutboxGoldenReadTest : public ::testing::TestWithParam<QString> {};

TEST_P(OutboxGoldenReadTest, DeliversWhatTheCaseSaysAndThenNothing)
{
    const QString strGolden = GOLDEN + u'/' + GetParam();
    QTemporaryDir dir;
    const QString strFolder = dir.path() + QStringLiteral("/outbox");
    ASSERT_TRUE(QDir().mkpath(strFolder));
    for (const QString &strName : OutboxFiles(strGolden))
        ASSERT_TRUE(PutFile(strFolder + u'/' + strName, FileBytes(strGolden + u'/' + strName)));
    const std::vector<std::string> expected = Expected(GetParam());
    {
        COutbox outbox;
        ASSERT_EQ(outbox.Open(strFolder, 64 * 1024), EOutboxResult::Ok) << qPrintable(outbox.ErrorText());
        EXPECT_EQ(outbox.Count(), qint64(expected.size()));
        EXPECT_EQ(DeliverAll(outbox), expected);
        EXPECT_TRUE(outbox.TakeHeld().empty());
    }
    COutbox again;
    ASSERT_EQ(again.Open(strFolder, 64 * 1024), EOutboxResult::Ok) << qPrintable(again.ErrorText());
    EXPECT_EQ(again.Count(), 0);
}

INSTANTIATE_TEST_SUITE_P(Golden, OutboxGoldenReadTest, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<QString> &info) {
                             return QString(info.param).replace(u'-', u'_').toStdString();
                         });

} // namespace
