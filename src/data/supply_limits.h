// The limits a supply is judged against: a band per quantity, with the
// EN 50160 values for low-voltage supply as defaults. The table is read from
// and written to a text file the user may edit; this part only turns bytes
// into a table and back (the window finds and reads the file).
#pragma once

#include "data/list_rows.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <limits>
#include <optional>
#include <vector>

// A value is within the band when dMin <= value <= dMax. A side without a
// bound is infinite. The harmonics, Ku and K2 are bounded from above only:
// they cannot be negative, and a "-0.01" shown for a zero reading is no
// fault of the supply.
struct SLimitBand {
    double dMin = -std::numeric_limits<double>::infinity();
    double dMax = std::numeric_limits<double>::infinity();
    bool Holds(double dValue) const { return dValue >= dMin && dValue <= dMax; }
    bool operator==(const SLimitBand &) const = default;
};

inline constexpr int FIRST_HARMONIC_ORDER = 2;
inline constexpr int LAST_HARMONIC_ORDER = 40;

class CLimits {
public:
    // EN 50160, low-voltage supply (the file LimitsFileBytes writes lists
    // the values and says where they come from).
    static CLimits Defaults();
    // No limit at all.
    static CLimits None();

    // Every setter takes a band that bounds nothing as no limit: one with no
    // finite bound, a NaN bound, a lower bound above the upper one, a lower
    // bound of +inf or an upper one of -inf. So every table can be written
    // to the file and read back as it was.

    // Voltage harmonic of order 2 to 40, in % of the fundamental; none (and
    // no effect when set) for any other order.
    std::optional<SLimitBand> Harmonic(int nOrder) const;
    void SetHarmonic(int nOrder, std::optional<SLimitBand> band);
    // Total distortion Ku, %.
    std::optional<SLimitBand> TotalDistortion() const { return m_total; }
    void SetTotalDistortion(std::optional<SLimitBand> band) { m_total = Bounding(band); }
    // Negative-sequence unbalance K2, %.
    std::optional<SLimitBand> Unbalance() const { return m_unbalance; }
    void SetUnbalance(std::optional<SLimitBand> band) { m_unbalance = Bounding(band); }
    // Frequency deviation dF, Hz.
    std::optional<SLimitBand> FrequencyDeviation() const { return m_frequency; }
    void SetFrequencyDeviation(std::optional<SLimitBand> band) { m_frequency = Bounding(band); }
    // Voltage deviation dU of a phase or line pair, %.
    std::optional<SLimitBand> VoltageDeviation() const { return m_voltage; }
    void SetVoltageDeviation(std::optional<SLimitBand> band) { m_voltage = Bounding(band); }
    // The bands no judged value may leave (EN 50160: dU -15 ... +10 % of
    // every 10-minute value, dF -3 ... +2 Hz); none: no such rule. Keys
    // "dU100" and "dF100" of the limits file.
    std::optional<SLimitBand> VoltageHardBand() const { return m_voltageHard; }
    void SetVoltageHardBand(std::optional<SLimitBand> band) { m_voltageHard = Bounding(band); }
    std::optional<SLimitBand> FrequencyHardBand() const { return m_frequencyHard; }
    void SetFrequencyHardBand(std::optional<SLimitBand> band) { m_frequencyHard = Bounding(band); }

    // The limit of the quantity a row of the Секунда or Минута list shows,
    // by its name ("Ku5A", "KuBC", "K2", "dF", "dUAB"); none for every other
    // row (K0, U0, F, the voltages, blank rows ...).
    std::optional<SLimitBand> ForRowName(const QString &strName) const;

    bool operator==(const CLimits &) const = default;

private:
    static std::optional<SLimitBand> Bounding(std::optional<SLimitBand> band);

    std::array<std::optional<SLimitBand>, LAST_HARMONIC_ORDER + 1> m_harmonics{}; // [order]
    std::optional<SLimitBand> m_total;
    std::optional<SLimitBand> m_unbalance;
    std::optional<SLimitBand> m_frequency;
    std::optional<SLimitBand> m_voltage;
    std::optional<SLimitBand> m_voltageHard;
    std::optional<SLimitBand> m_frequencyHard;
};

// For each row of a Секунда or Минута list: true where the row shows a value
// beyond its limit (the value as shown; a row without a value or without a
// limit is false).
std::vector<bool> RowsBeyondLimits(const CListRows &rows, const CLimits &limits);
