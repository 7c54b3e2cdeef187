// The texts the link shows the operator, piece by piece as the meter
// software has always shown them (blanks included), and the one place where a
// failure's code becomes its text.
#pragma once

#include "link/link_failure.h"
#include "link/operator.h"

#include <QList>
#include <QString>

namespace LinkText {

inline QString DeviceNumber() { return QStringLiteral("Номер прибора: число от 1 до 65 535."); }

inline QString Port(const QString &strPortName)
{
    return QStringLiteral("Не удалось установить соединение.\n") + QStringLiteral("Коммуникационный порт ")
        + strPortName + QStringLiteral(" занят \n") + QStringLiteral("или неверно настроен.");
}

// Said on a line of its own under the port message when the operator's user
// may not open the device.
inline QString NoRightToDevice(const QString &strDevice, const QString &strGroup)
{
    return QStringLiteral("Нет прав на устройство ") + strDevice + QStringLiteral(" (группа ") + strGroup
        + QStringLiteral("). Добавьте пользователя в группу: sudo usermod -aG ") + strGroup
        + QStringLiteral(" $USER, затем войдите в систему заново.");
}

// The same when the device's group may not use it either.
inline QString NoRightToDevice(const QString &strDevice)
{
    return QStringLiteral("Нет прав на устройство ") + strDevice + QStringLiteral(".");
}

inline QString NoAnswer()
{
    return QStringLiteral("Не удалось установить соединение.\n") + QStringLiteral("Возможно, что:\n")
        + QStringLiteral("- прибор подключен к другому порту\n")
        + QStringLiteral("  или работает на другой скорости,\n") + QStringLiteral("- неверен номер прибора,\n")
        + QStringLiteral("- прибор выключен,\n") + QStringLiteral("- неисправен кабель связи.");
}

inline QString LineError()
{
    return QStringLiteral("Не удалось установить соединение.\n") + QStringLiteral("Возможно, что:\n")
        + QStringLiteral("- на выбранной скорости обмена,\n")
        + QStringLiteral("  возникает большое число ошибок.");
}

inline QString Busy()
{
    return QStringLiteral("Не удалось установить соединение.\n")
        + QStringLiteral("Прибор занят. Повторите операцию позже.");
}

inline QString RateUnsupported() { return QStringLiteral("Выбранный порт не поддерживает необходимую скорость"); }

inline QString Channel() { return QStringLiteral("Не удалось снять пароль.\n") + QStringLiteral("Сбой в канале связи."); }

// A refused password as a failure: what is left of the question below once
// nobody is there to answer it.
inline QString Refused() { return QStringLiteral("Не удалось снять пароль. Пароль не верен."); }

// The question that offers to send a refused password again.
inline QString PasswordRefused()
{
    return Refused() + QStringLiteral("\n") + QStringLiteral("Хотите повторить операцию снятия пароля?");
}

inline QString PasswordAccepted(int nLevel)
{
    return QStringLiteral("Пароль ") + (nLevel == 1 ? QStringLiteral("первого уровня") : QStringLiteral("второго уровня"))
        + QStringLiteral(" снят.");
}

// The line under the port message for a problem the operator can remedy;
// empty for the others.
QString PortAdvice(const SPortProblem &problem);

} // namespace LinkText

struct SLinkMessage {
    QString strText;
    EMsgIcon icon;
};

// The boxes a failure shows the operator, in order: one, or for a rate the
// port cannot do the rate's box before the port message. None for what the
// operator did himself (a declined dialog, a cancelled wait).
QList<SLinkMessage> LinkFailureMessages(const SLinkFailure &failure);

// The operator's text of a failure, for a line of text (the command line's
// standard error, the service's state and journal): its boxes' texts, one a
// line. Empty for what the operator did himself.
QString LinkFailureText(const SLinkFailure &failure);
