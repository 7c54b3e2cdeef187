#include "data/catalogue.h"
#include "data/decoders.h"
#include "data/spectrum.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

constexpr EPhase PHASES[] = {EPhase::A, EPhase::B, EPhase::C, EPhase::AB, EPhase::BC, EPhase::CA};

void PutLe(std::vector<std::uint8_t> &data, std::size_t nOffset, std::uint32_t nValue, int nBytes)
{
    for (int i = 0; i < nBytes; ++i)
        data[nOffset + std::size_t(i)] = std::uint8_t(nValue >> (8 * i));
}

TEST(Spectrum, PositionsAreThoseOfTheNamedRowsInBothLists)
{
    for (const CListRows &rows : {SecondListRows(), MinuteListRows()}) {
        for (const EPhase phase : PHASES) {
            const QString strPhase = PhaseName(phase);
            for (int n = FIRST_HARMONIC_ORDER; n <= LAST_HARMONIC_ORDER; ++n) {
                const int nRow = HarmonicRow(phase, n);
                ASSERT_TRUE(nRow >= 0 && std::size_t(nRow) < rows.size());
                EXPECT_EQ(rows[std::size_t(nRow)].strName, QStringLiteral("Ku") + QString::number(n) + strPhase);
            }
            const int nRow = TotalDistortionRow(phase);
            ASSERT_TRUE(nRow >= 0 && std::size_t(nRow) < rows.size());
            EXPECT_EQ(rows[std::size_t(nRow)].strName, QStringLiteral("Ku") + strPhase);
        }
    }
    EXPECT_EQ(HarmonicRow(EPhase::A, 1), -1);
    EXPECT_EQ(HarmonicRow(EPhase::CA, 41), -1);
}

// Harmonic n of phase p carries p + n/100 and Ku of phase p carries p + 0.5,
// so that a value taken from a neighbouring row or phase shows.
double Expected(int nPhase, int nOrder)
{
    return (100.0 * nPhase + nOrder) / 100.0;
}

TEST(Spectrum, ValuesOfDecodedSecondAndMinuteLists)
{
    std::vector<std::uint8_t> second(SECOND_DATA_SIZE, 0);
    std::vector<std::uint8_t> minute(MINUTE_DATA_SIZE, 0);
    for (int p = 0; p < PHASE_SET_SIZE; ++p) {
        for (int n = FIRST_HARMONIC_ORDER; n <= LAST_HARMONIC_ORDER; ++n) {
            PutLe(second, 24 + 156 * std::size_t(p) + 4 * std::size_t(n - 2), std::uint32_t(1000 * p + 10 * n), 4);
            PutLe(minute, 12 + 78 * std::size_t(p) + 2 * std::size_t(n - 2), std::uint32_t(100 * p + n), 2);
        }
        PutLe(second, 960 + 4 * std::size_t(p), std::uint32_t(1000 * p + 500), 4);
        PutLe(minute, 480 + 2 * std::size_t(p), std::uint32_t(100 * p + 50), 2);
    }
    CListRows secondRows = SecondListRows();
    CListRows minuteRows = MinuteListRows();
    ASSERT_TRUE(DecodeSecond(second.data(), second.size(), secondRows));
    ASSERT_TRUE(DecodeMinute(minute.data(), minute.size(), minuteRows));

    for (const auto &[pRows, source] : {std::pair{&secondRows, ESpectrumSource::Second},
                                        std::pair{&minuteRows, ESpectrumSource::Minute}}) {
        for (const EPhase phase : PHASES) {
            const int p = int(phase);
            const SSpectrum spectrum = SpectrumOf(*pRows, source, phase);
            for (int n = FIRST_HARMONIC_ORDER; n <= LAST_HARMONIC_ORDER; ++n) {
                const std::optional<double> d = spectrum.harmonics[std::size_t(n - FIRST_HARMONIC_ORDER)];
                ASSERT_TRUE(d.has_value()) << "phase " << p << " order " << n;
                EXPECT_DOUBLE_EQ(*d, Expected(p, n)) << "phase " << p << " order " << n;
            }
            ASSERT_TRUE(spectrum.total.has_value());
            EXPECT_DOUBLE_EQ(*spectrum.total, p + 0.5);
        }
    }

    // A row without a value is a hole in the spectrum, not a zero.
    secondRows[std::size_t(HarmonicRow(EPhase::B, 7))].strValue.clear();
    const SSpectrum holed = SpectrumOf(secondRows, ESpectrumSource::Second, EPhase::B);
    EXPECT_EQ(holed.harmonics[7 - FIRST_HARMONIC_ORDER], std::nullopt);
    EXPECT_TRUE(holed.harmonics[8 - FIRST_HARMONIC_ORDER].has_value());
}

TEST(Spectrum, UnreadOrForeignListsGiveNoValues)
{
    EXPECT_FALSE(SpectrumOf(SecondListRows(), ESpectrumSource::Second, EPhase::A).HasValues());
    CListRows filled = MinuteListRows();
    for (SListRow &row : filled)
        row.strValue = QStringLiteral("1.00");
    EXPECT_TRUE(SpectrumOf(filled, ESpectrumSource::Minute, EPhase::C).HasValues());
    EXPECT_FALSE(SpectrumOf(filled, ESpectrumSource::Second, EPhase::C).HasValues());
    EXPECT_FALSE(SpectrumOf(CListRows(), ESpectrumSource::Minute, EPhase::C).HasValues());
}

TEST(ShownValue, ReadsTheListTextsAndNothingElse)
{
    const struct {
        const char *pText;
        double dValue;
    } good[] = {
        {"-1.23", -1.23}, {"0.00", 0}, {"12", 12}, {"-0.00", 0}, {"-327.68", -327.68},
        {"2147483.65", 2147483.65}, {"-2147483.65", -2147483.65}, {"85899345", 85899345},
    };
    for (const auto &c : good) {
        const std::optional<double> d = ShownValue(QString::fromLatin1(c.pText));
        ASSERT_TRUE(d.has_value()) << c.pText;
        EXPECT_EQ(*d, c.dValue) << c.pText;
    }
    for (const char *pText : {"", " 1.00", "1.00 ", "1,50", "01:02:03", "nan", "inf", "-inf", "-", ".",
                              "1e5", "+1.00", "--1", "1.2.3", "0x10", "abc", "１", "١"})
        EXPECT_EQ(ShownValue(QString::fromUtf8(pText)), std::nullopt) << pText;
}

} // namespace
