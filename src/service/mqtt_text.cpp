#include "service/mqtt_text.h"

#include <QCryptographicHash>
#include <QList>

bool IsControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

bool IsNonCharacter(char32_t c)
{
    return (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE;
}

STextFault FirstTextFault(const QString &str)
{
    for (qsizetype i = 0; i < str.size(); ++i) {
        char32_t c = str[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < str.size() && str[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(str[i], str[i + 1]);
            ++i;
        } else if (QChar::isSurrogate(c))
            return {ETextFault::Surrogate, c};
        if (IsControl(c))
            return {ETextFault::Control, c};
        if (IsNonCharacter(c))
            return {ETextFault::NonCharacter, c};
    }
    return {};
}

QString DerivedClientId(const QString &strTopic)
{
    QString strReadable;
    for (const char32_t c : strTopic.toUcs4()) {
        if (strReadable.size() == kMaxReadableIdChars)
            break;
        const bool bKept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-'
                           || c == '_';
        strReadable += bKept ? QChar(char16_t(c)) : QLatin1Char('-');
    }
    const QByteArray hash = QCryptographicHash::hash(strTopic.toUtf8(), QCryptographicHash::Sha256);
    return QStringLiteral("varikd-%1-%2").arg(strReadable, QString::fromLatin1(hash.left(4).toHex()));
}
