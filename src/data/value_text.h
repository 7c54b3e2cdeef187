// The texts the lists show for the meter's raw values, as its own program
// printed them.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

QString FormatMilli(std::int32_t nRaw);     // raw * 0.001f, "%3.2f"
QString FormatCenti(std::int16_t nRaw);     // raw * 0.01f, "%3.2f"
QString FormatFiftieths(std::uint32_t nRaw); // raw / 50, "%d"
QString FormatDuration(std::uint32_t nSeconds); // "%02d:%02d:%02d", full hours

// The same values exactly, at the meter's own resolution, for logs and
// scripts: a plain decimal number with a dot (also a JSON number), no
// floating point, no locale.
QByteArray ExactMilli(std::int32_t nRaw);       // raw / 1000, three decimals: "-1.234"
QByteArray ExactCenti(std::int16_t nRaw);       // raw / 100, two decimals: "-0.05"
QByteArray ExactFiftieths(std::uint32_t nRaw);  // raw / 50, two decimals: "2.50"
QByteArray ExactSeconds(std::uint32_t nSeconds); // the count of seconds: "3661"
