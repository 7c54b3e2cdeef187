#include "file_output.h"

#include <QFile>
#include <QSaveFile>

EFileResult ReplaceFile(const QString &strPath, const QByteArray &bytes)
{
    QSaveFile file(strPath);
    if (!file.open(QIODevice::WriteOnly))
        return EFileResult::OpenFailed;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        file.commit(); // removes the temporary file
        return EFileResult::WriteFailed;
    }
    return file.commit() ? EFileResult::Ok : EFileResult::WriteFailed;
}

EFileResult AppendToExistingFile(const QString &strPath, const QByteArray &bytes)
{
    QFile file(strPath);
    if (strPath.isEmpty() || !file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::ExistingOnly))
        return EFileResult::OpenFailed;
    const bool bWritten = file.write(bytes) == bytes.size() && file.flush();
    file.close();
    return bWritten ? EFileResult::Ok : EFileResult::WriteFailed;
}
