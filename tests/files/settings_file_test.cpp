#include "files/settings_file.h"

#include "data/list_file.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

class SettingsFileTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString strPath = dir.filePath(QStringLiteral("varik.INI"));

    void Put(const QByteArray &bytes)
    {
        QFile file(strPath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    QByteArray Bytes()
    {
        QFile file(strPath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    QString Port() { return CSettingsFile(strPath).Read(u"Связь"_qs, u"Порт"_qs, u"COM"_qs); }
    bool WritePort(const QString &strValue) { return CSettingsFile(strPath).Write(u"Связь"_qs, u"Порт"_qs, strValue); }
};

TEST_F(SettingsFileTest, ReadsWindows1251KeysInTheirSectionOnly)
{
    Put(ToCp1251(u"[Другое]\r\nПорт=COM9\r\n[ связь ]\r\n  порт = /dev/ttyUSB0  \r\nСкорость=19200\r\n"_qs));
    EXPECT_EQ(Port(), u"/dev/ttyUSB0"_qs);
    EXPECT_EQ(CSettingsFile(strPath).Read(u"Связь"_qs, u"Скорость"_qs, u"9600"_qs), u"19200"_qs);
}

TEST_F(SettingsFileTest, StoredValueIsNotCutShort)
{
    Put(ToCp1251(u"[Связь]\nПорт=/dev/serial/by-id/usb-FTDI\n"_qs));
    EXPECT_EQ(Port(), u"/dev/serial/by-id/usb-FTDI"_qs);
}

TEST_F(SettingsFileTest, UnreadableFilesGiveTheDefault)
{
    EXPECT_EQ(Port(), u"COM"_qs) << "missing";
    Put(QByteArray());
    EXPECT_EQ(Port(), u"COM"_qs) << "empty";
    Put(QByteArray("\x00\xff\x01[\x9a\xfe\x00=\n\x00", 11));
    EXPECT_EQ(Port(), u"COM"_qs) << "binary";
    // A huge file: only its beginning is read, and the key lies beyond it.
    Put(QByteArray(CSettingsFile::MAX_BYTES + 10, ';') + ToCp1251(u"\n[Связь]\nПорт=COM1\n"_qs));
    EXPECT_EQ(Port(), u"COM"_qs) << "huge";
}

TEST_F(SettingsFileTest, WritingReplacesOnlyTheKeysLine)
{
    const struct {
        const char *name;
        QString before;
        QString after;
    } cases[] = {
        {"no file", QString(), u"[Связь]\r\nПорт=COM3\r\n"_qs},
        {"key replaced, everything else kept",
         u"; заметка\r\n[Связь]\r\nСкорость=4800\r\nпорт = COM1 ; old\r\n\r\n[Прочее]\r\nПорт=X\r\n"_qs,
         u"; заметка\r\n[Связь]\r\nСкорость=4800\r\nПорт=COM3\r\n\r\n[Прочее]\r\nПорт=X\r\n"_qs},
        {"key added after the section's last line",
         u"[Связь]\nСкорость=4800\n\n[Прочее]\na=b"_qs, u"[Связь]\nСкорость=4800\nПорт=COM3\n\n[Прочее]\na=b"_qs},
        {"section added, file without final line feed",
         u"[Прочее]\na=b"_qs, u"[Прочее]\na=b\n[Связь]\nПорт=COM3\n"_qs},
        {"section last, no final line feed", u"[Связь]\nСкорость=1"_qs, u"[Связь]\nСкорость=1\nПорт=COM3\n"_qs},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(strPath);
        if (!c.before.isNull())
            Put(ToCp1251(c.before));
        EXPECT_TRUE(WritePort(u"COM3"_qs));
        EXPECT_EQ(Bytes(), ToCp1251(c.after));
        EXPECT_EQ(Port(), u"COM3"_qs);
    }
}

TEST_F(SettingsFileTest, EmptyValueIsWrittenAndReadBackEmpty)
{
    EXPECT_TRUE(WritePort(QString()));
    EXPECT_EQ(Bytes(), ToCp1251(u"[Связь]\r\nПорт=\r\n"_qs));
    EXPECT_EQ(Port(), QString());
}

TEST_F(SettingsFileTest, HugeFileIsLeftAlone)
{
    const QByteArray huge(CSettingsFile::MAX_BYTES + 1, 'x');
    Put(huge);
    EXPECT_FALSE(WritePort(u"COM3"_qs));
    EXPECT_EQ(Bytes(), huge);
}

// A file just under the limit must not grow past it by a write: the key
// would land beyond what is read and the setting would be lost.
TEST_F(SettingsFileTest, WriteStaysWithinWhatIsRead)
{
    const QByteArray head = ToCp1251(u"[Связь]\r\n"_qs);
    const qsizetype nKeyLine = ToCp1251(u"Порт=COM3\r\n"_qs).size();
    for (qsizetype nOver : {0, 1}) {
        SCOPED_TRACE(nOver ? "one byte over" : "exactly at the limit");
        const QByteArray before = head + QByteArray(CSettingsFile::MAX_BYTES - head.size() - nKeyLine - 2 + nOver, ';') + "\r\n";
        Put(before);
        if (nOver) {
            EXPECT_FALSE(WritePort(u"COM3"_qs));
            EXPECT_TRUE(Bytes() == before) << "the file changed";
        } else {
            EXPECT_TRUE(WritePort(u"COM3"_qs));
            EXPECT_EQ(Bytes().size(), CSettingsFile::MAX_BYTES);
            EXPECT_EQ(Port(), u"COM3"_qs);
        }
    }
}

// What the file could not hold on a line of its own is refused and the file
// kept: otherwise the key would not read back, or every write would add
// another line for it.
TEST_F(SettingsFileTest, NamesAndValuesTheFileCannotHoldAreRefused)
{
    const struct {
        const char *name;
        QString section, key, value;
    } cases[] = {
        {"line feed in the value", u"Связь"_qs, u"Порт"_qs, u"COM1\n[Связь]\nПорт=COM2"_qs},
        {"carriage return ending the value", u"Связь"_qs, u"Порт"_qs, u"COM1\r"_qs},
        {"line feed in the key", u"Связь"_qs, u"По\nрт"_qs, u"COM1"_qs},
        {"equals sign in the key", u"Связь"_qs, u"Порт=2"_qs, u"COM1"_qs},
        {"key read as a section", u"Связь"_qs, u"[Порт]"_qs, u"COM1"_qs},
        {"blank around the key", u"Связь"_qs, u" Порт"_qs, u"COM1"_qs},
        {"bracket in the section", u"Связь]x"_qs, u"Порт"_qs, u"COM1"_qs},
        {"blank around the section", u"Связь "_qs, u"Порт"_qs, u"COM1"_qs},
        {"key outside Windows-1251", u"Связь"_qs, u"Порт\u4e2d"_qs, u"COM1"_qs},
    };
    const QByteArray before = ToCp1251(u"[Связь]\r\nПорт=COM9\r\n"_qs);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Put(before);
        EXPECT_FALSE(CSettingsFile(strPath).Write(c.section, c.key, c.value));
        EXPECT_EQ(Bytes(), before);
    }
}

TEST_F(SettingsFileTest, UnwritablePlaceReportsFailure)
{
    const CSettingsFile settings(dir.filePath(QStringLiteral("no/such/dir/varik.INI")));
    EXPECT_FALSE(settings.Write(u"Связь"_qs, u"Порт"_qs, u"COM1"_qs));
}

// A settings file kept elsewhere behind a link: the file there is written and
// the link stays a link.
TEST_F(SettingsFileTest, WritingFollowsALink)
{
    const QString strKept = dir.filePath(QStringLiteral("kept.INI"));
    {
        QFile file(strKept);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(ToCp1251(u"[Связь]\r\nПорт=COM1\r\n"_qs));
    }
    ASSERT_EQ(::symlink("kept.INI", QFile::encodeName(strPath).constData()), 0);
    EXPECT_TRUE(WritePort(u"COM3"_qs));
    EXPECT_TRUE(QFileInfo(strPath).isSymLink());
    QFile kept(strKept);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), ToCp1251(u"[Связь]\r\nПорт=COM3\r\n"_qs));
}

} // namespace
