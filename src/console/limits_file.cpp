#include "limits_file.h"

#include "charts_text.h"
#include "file_output.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

QString DefaultLimitsPath()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation))
        .filePath(QStringLiteral("limits.txt"));
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
        return {CLimits::Defaults(), {ChartsText::LimitsUnreadable(strPath)}};
    // A limits file is a few kilobytes; anything past a megabyte is not one.
    return ParseLimits(file.read(1 << 20), QDir::toNativeSeparators(strPath));
}
