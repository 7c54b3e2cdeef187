// The daily logs: a row goes to the file of its own local date, the file
// changes at local midnight (also when the clocks change that night), and
// a folder that cannot be made is a failure the next row gets over.
#include "service/daily_csv.h"

#include "local_zone.h"
#include "test_files.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QTimeZone>


#include <gtest/gtest.h>


namespace {

qint64 Ms(const char *pIso)
{
    return QDateTime::fromString(QString::fromLatin1(pIso), Qt::ISODate).toMSecsSinceEpoch();
}

} // namespace

TEST(DailyCsv, EachRowGoesToTheFileOfItsLocalDate)
{
    const CLocalZone zone("Europe/Berlin");
    QTemporaryDir dir;
    const QString strFolder = dir.filePath(QStringLiteral("vvod1/minute"));
    CDailyCsv log(strFolder, EDataSet::Minute);

    struct SRow {
        const char *pTime;
        const char *pFile;
    };
    // 2026-03-29: the clocks go forward at 02:00; 2026-10-25: back at 03:00.
    const SRow rows[] = {
        {"2026-03-28T23:59:59+01:00", "2026-03-28"}, {"2026-03-29T00:00:00+01:00", "2026-03-29"},
        {"2026-03-29T03:00:00+02:00", "2026-03-29"}, {"2026-10-25T02:30:00+02:00", "2026-10-25"},
        {"2026-10-25T02:30:00+01:00", "2026-10-25"}, {"2026-10-26T00:00:01+01:00", "2026-10-26"},
    };
    for (const SRow &row : rows) {
        SCOPED_TRACE(row.pTime);
        const SCsvWrite write = log.Append(Ms(row.pTime), QByteArray(row.pTime) + ",1\n");
        EXPECT_TRUE(write.bOk) << write.strError.toStdString();
        EXPECT_EQ(write.strPath, strFolder + u'/' + QLatin1String(row.pFile) + QStringLiteral(".csv"));
    }
    const QByteArray day = TestFiles::FileBytes(strFolder + QStringLiteral("/2026-10-25.csv"));
    EXPECT_TRUE(day.startsWith("time,dUA,")) << "a new file starts with the header";
    EXPECT_TRUE(day.endsWith("2026-10-25T02:30:00+02:00,1\n2026-10-25T02:30:00+01:00,1\n"));
}

TEST(DailyCsv, AFolderThatCannotBeMadeFailsUntilItCanBe)
{
    QTemporaryDir dir;
    const QString strBlocker = dir.filePath(QStringLiteral("vvod1"));
    ASSERT_TRUE(TestFiles::PutFile(strBlocker, "a file where the meter's folder goes"));
    CDailyCsv log(strBlocker + QStringLiteral("/second"), EDataSet::Second);
    const qint64 nNow = QDateTime::currentMSecsSinceEpoch();
    const SCsvWrite failed = log.Append(nNow, "x\n");
    EXPECT_FALSE(failed.bOk);
    EXPECT_FALSE(failed.strError.isEmpty());

    ASSERT_TRUE(QFile::remove(strBlocker));
    const SCsvWrite written = log.Append(nNow, "y\n");
    EXPECT_TRUE(written.bOk) << written.strError.toStdString();
    EXPECT_TRUE(TestFiles::FileBytes(written.strPath).endsWith("\ny\n"));
}
