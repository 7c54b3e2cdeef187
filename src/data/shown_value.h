// Reading back the value texts the Секунда, Минута and Сутки lists show.
#pragma once

#include <QString>

#include <optional>

// A value text as the lists show it ("-1.23", "0.00", "12"), or none for an
// empty or unreadable text ("", "01:02:03", "1,5", "nan"). Locale-free: the
// texts always carry a dot, whatever LC_NUMERIC says.
std::optional<double> ShownValue(const QString &strValue);
