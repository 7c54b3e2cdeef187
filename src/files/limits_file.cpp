#include "files/file_text.h"
#include "files/limits_file.h"

#include "files/file_output.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

QString DefaultLimitsPath()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation))
        .filePath(QStringLiteral("limits.txt"));
}

QString WindowLimitsPath()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("varik/limits.txt"));
}

SLimitsRead LoadLimitsFile(const QString &strPath)
{
    const QFileInfo info(strPath);
    if (!info.exists() && !info.isSymLink()) {
        QDir().mkpath(info.absolutePath());
        ReplaceFile(strPath, LimitsFileBytes(CLimits::Defaults()));
        return {CLimits::Defaults(), {}};
    }
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        return {CLimits::Defaults(), {FileText::LimitsUnreadable(strPath)}};
    // A limits file is a few kilobytes; anything past a megabyte is not one.
    constexpr qsizetype MAX_BYTES = 1 << 20;
    QByteArray bytes = file.read(MAX_BYTES + 1);
    const QString strName = QDir::toNativeSeparators(strPath);
    if (bytes.size() <= MAX_BYTES)
        return ParseLimits(bytes, strName);
    // Only whole lines are read: a line cut short could read as another
    // value ("Ku7 = 12" as "Ku7 = 1").
    bytes.truncate(bytes.lastIndexOf('\n', MAX_BYTES - 1) + 1);
    SLimitsRead read = ParseLimits(bytes, strName);
    read.problems.append(FileText::LimitsTooLong(strName, int(bytes.count('\n')) + 1, MAX_BYTES));
    return read;
}
