// The texts the lists show for the meter's raw values, as its own program
// printed them.
#pragma once

#include <QString>

#include <cstdint>

QString FormatMilli(std::int32_t nRaw);     // raw * 0.001f, "%3.2f"
QString FormatCenti(std::int16_t nRaw);     // raw * 0.01f, "%3.2f"
QString FormatFiftieths(std::uint32_t nRaw); // raw / 50, "%d"
QString FormatDuration(std::uint32_t nSeconds); // "%02d:%02d:%02d", full hours
