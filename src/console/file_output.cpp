#include "file_output.h"

#include <QFile>
#include <QSaveFile>

EFileResult ReplaceFile(const QString &strPath, const QByteArray &bytes)
{
    QSaveFile file(strPath);
    // Unbuffered, so that a full disk shows in the count written: a buffered
    // write that stops short on commit goes unnoticed and would replace the
    // earlier file with a truncated one.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
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
    if (strPath.isEmpty()
        || !file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::ExistingOnly | QIODevice::Unbuffered))
        return EFileResult::OpenFailed;
    const bool bWritten = file.write(bytes) == bytes.size();
    file.close();
    return bWritten ? EFileResult::Ok : EFileResult::WriteFailed;
}
