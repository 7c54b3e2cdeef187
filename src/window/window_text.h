// The texts the window itself shows, as the operator has always seen them
// (blanks included). The link's own texts are in link_messages.h.
#pragma once

#include <QDir>
#include <QString>

namespace WindowText {

inline QString AboutEntry() { return QStringLiteral("&About Varik..."); }
inline QString AboutTitle() { return QStringLiteral("About Varik"); }
inline QString AboutText() { return QStringLiteral("Varik Version 1.0"); }

inline QString FileFilter() { return QStringLiteral("Текстовый файл  (*.txt)"); }
inline QString NewFileName() { return QStringLiteral("Новый"); }

inline QString SettingsSection() { return QStringLiteral("Связь"); }
inline QString SettingsPort() { return QStringLiteral("Порт"); }
inline QString SettingsSpeed() { return QStringLiteral("Скорость"); }
// At exit, when the port and the baud rate could not be kept.
inline QString SettingsWriteFailed(const QString &strPath)
{
    return QStringLiteral("Не удалось записать файл настроек:\n%1\n\nПорт и скорость обмена не сохранены.")
        .arg(QDir::toNativeSeparators(strPath));
}

// While an exchange is slow: what the progress box says.
inline QString Waiting(qint64 nBytes)
{
    return QStringLiteral("Обмен с прибором...\nПолучено байт: %1").arg(nBytes);
}
inline QString Cancel() { return QStringLiteral("Отмена"); }

} // namespace WindowText
