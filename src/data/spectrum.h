// The harmonic spectrum of one phase, taken from the rows of a Секунда or
// Минута list as they stand.
#pragma once

#include "data/list_rows.h"
#include "data/shown_value.h"
#include "data/supply_limits.h"

#include <array>
#include <optional>

// The phase set, in list order.
enum class EPhase { A, B, C, AB, BC, CA };
inline constexpr int PHASE_SET_SIZE = 6;
QString PhaseName(EPhase phase); // "A" ... "CA"

enum class ESpectrumSource { Second, Minute };

struct SSpectrum {
    // Ku2 ... Ku40 in %, [0] is order 2; empty where the list shows no value.
    std::array<std::optional<double>, LAST_HARMONIC_ORDER - FIRST_HARMONIC_ORDER + 1> harmonics{};
    std::optional<double> total; // Ku of the phase, %
    bool HasValues() const;
};

// The list positions the spectrum is read from (exposed for the tests).
// -1 for an order outside 2 ... 40 or a value that is no phase.
int HarmonicRow(EPhase phase, int nOrder); // the same in both lists
int TotalDistortionRow(EPhase phase);      // the same in both lists

// rows must be a whole Секунда or Минута list; anything else gives an empty
// spectrum.
SSpectrum SpectrumOf(const CListRows &rows, ESpectrumSource source, EPhase phase);
