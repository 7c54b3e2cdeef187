// Values of a calm 230 V / 400 V, 50 Hz network: slow waves over minutes and
// hours plus a little noise, so successive reads differ the way a real
// feeder's do. Every number is derived from t alone, so the same t gives the
// same bytes.
#include "sim/meter_values.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr int PHASES = 6; // A, B, C, AB, BC, CA
constexpr int FIRST_ORDER = 2;
constexpr int LAST_ORDER = 40;
constexpr int ORDERS = LAST_ORDER - FIRST_ORDER + 1;

constexpr double NOMINAL_PHASE_V = 230.0;
constexpr double NOMINAL_LINE_V = 400.0;

// A wave of the given period (seconds) between -1 and 1, shifted per phase.
double Wave(double t, double dPeriod, double dShift = 0.0)
{
    return std::sin(2.0 * PI * t / dPeriod + dShift);
}

// Noise in [-1, 1], a fixed function of the read's second and a field key.
double Noise(double t, std::uint32_t nKey)
{
    std::uint64_t x = std::uint64_t(std::llround(std::floor(t))) * 0x9E3779B97F4A7C15ull + nKey * 0xBF58476D1CE4E5B9ull;
    x ^= x >> 31;
    x *= 0x94D049BB133111EBull;
    x ^= x >> 29;
    return double(x % 20001) / 10000.0 - 1.0;
}

// Little-endian field writers, bounded by the block they write into.
class CBlock {
public:
    explicit CBlock(int nSize) : m_data(nSize, '\0') {}
    void PutS32(int nOffset, double dValue, double dScale) { Put<qint32>(nOffset, qint32(std::lround(dValue / dScale))); }
    void PutS16(int nOffset, double dValue, double dScale)
    {
        Put<qint16>(nOffset, qint16(std::clamp<long>(std::lround(dValue / dScale), -32768, 32767)));
    }
    void PutU32(int nOffset, double dValue) { Put<quint32>(nOffset, quint32(std::max(0L, std::lround(dValue)))); }
    QByteArray Bytes() const { return m_data; }

private:
    template <typename T> void Put(int nOffset, T value)
    {
        Q_ASSERT(nOffset >= 0 && nOffset + int(sizeof(T)) <= m_data.size());
        qToLittleEndian(value, m_data.data() + nOffset);
    }
    QByteArray m_data;
};

// What the meter measures at one moment; the three data sets are views of it.
struct SNetwork {
    double adU[PHASES];                // % deviation from nominal
    double aU[PHASES];                 // V
    double aHarmonic[PHASES][ORDERS];  // % of the fundamental, orders 2..40
    double aKu[PHASES];                // % total distortion
    double dF;                         // Hz
    double dU1, dU0, dU2;              // V, sequence voltages
    double dK0, dK2;                   // % unbalance
};

SNetwork Measure(double t)
{
    SNetwork net{};
    for (int p = 0; p < PHASES; ++p) {
        const double dShift = p * PI / 3.0;
        const double dU = 1.2 * Wave(t, 900.0, dShift) + 0.3 * Wave(t, 97.0, 2 * dShift) + 0.1 * Noise(t, 10 + p);
        net.adU[p] = std::clamp(dU, -2.0, 2.0);
        net.aU[p] = (p < 3 ? NOMINAL_PHASE_V : NOMINAL_LINE_V) * (1.0 + net.adU[p] / 100.0);

        // Odd orders dominate, as from rectifier loads; the load swells and
        // ebbs over the hour.
        const double dLoad = 1.4 + 0.4 * Wave(t, 3600.0, dShift);
        double dSumSquares = 0.0;
        for (int n = FIRST_ORDER; n <= LAST_ORDER; ++n) {
            const double dBase = 3.0 / std::pow(double(n), 1.2) * (n % 2 ? 1.0 : 0.3);
            const double dValue = dBase * dLoad * (1.0 + 0.05 * Noise(t, 100 + 64 * p + n));
            net.aHarmonic[p][n - FIRST_ORDER] = dValue;
            dSumSquares += dValue * dValue;
        }
        net.aKu[p] = std::sqrt(dSumSquares);
    }
    net.dF = std::clamp(0.012 * Wave(t, 300.0) + 0.004 * Noise(t, 1), -0.02, 0.02);
    net.dU1 = (net.aU[0] + net.aU[1] + net.aU[2]) / 3.0;
    net.dK2 = 0.75 + 0.25 * Wave(t, 1200.0) + 0.05 * Noise(t, 2);
    net.dK0 = 0.3 + 0.1 * Wave(t, 1500.0, 1.0) + 0.02 * Noise(t, 3);
    net.dU2 = net.dK2 * net.dU1 / 100.0;
    net.dU0 = net.dK0 * net.dU1 / 100.0;
    return net;
}

// Offsets in the per-second block (signed 32-bit, shown as raw * 0.001).
constexpr int SEC_DU = 0;
constexpr int SEC_HARMONICS = 24;
constexpr int SEC_HARMONIC_RUN = 156;
constexpr int SEC_KU = 960;
constexpr int SEC_K0 = 984;
constexpr int SEC_K2 = 988;
constexpr int SEC_U1 = 992;
constexpr int SEC_F = 996;
constexpr int SEC_VOLTAGES = 1000;
constexpr int SEC_U0 = 1024;
constexpr int SEC_U2 = 1028;
constexpr int SEC_DF = 1032;
constexpr int SEC_SIZE = 1036;
constexpr double SEC_SCALE = 0.001;

// Offsets in the per-minute block (signed 16-bit, shown as raw * 0.01).
constexpr int MIN_DU = 0;
constexpr int MIN_HARMONICS = 12;
constexpr int MIN_HARMONIC_RUN = 78;
constexpr int MIN_KU = 480;
constexpr int MIN_K0 = 492;
constexpr int MIN_K2 = 494;
constexpr int MIN_DU1 = 496;
constexpr int MIN_DF = 498;
constexpr int MIN_SIZE = 500;
constexpr double MIN_SCALE = 0.01;

// Offsets in the day block.
constexpr int DAY_DU = 0;            // + 24p day, + 24p + 12 interval; 6 x S16
constexpr int DAY_DF = 144;          // 6 x S16
constexpr int DAY_HARMONICS = 156;   // + 312p + 8(n - 2); 4 x S16
constexpr int DAY_HARMONIC_RUN = 312;
constexpr int DAY_KU = 2028;         // + 8p; 4 x S16
constexpr int DAY_K0 = 2076;
constexpr int DAY_K2 = 2084;
constexpr int DAY_TPROV = 2092;      // + 8p day, + 8p + 4 interval; U32 fiftieths of a second
constexpr int DAY_TPER = 2140;
constexpr int DAY_WORK_DAY = 2188;   // U32 seconds
constexpr int DAY_WORK_INTERVAL = 2192;
constexpr int DAY_IDLE_DAY = 2196;
constexpr int DAY_IDLE_INTERVAL = 2200;
constexpr int DAY_SIZE = 2204;
constexpr double DAY_SCALE = 0.01;
constexpr double TICKS_PER_SECOND = 50.0;

// Day statistics of a quantity that wanders around dCentre by up to dSpread:
// max >= upper >= lower >= min, and the shares of time (%) outside the normal
// and the maximum limits, T1 >= T2.
struct SSpread {
    double dMax, dMin, dUpper, dLower, dT1, dT2;
};

SSpread Spread(double dCentre, double dSpread, double t, std::uint32_t nKey)
{
    const double dWiden = 1.0 + 0.1 * Wave(t, 7200.0, nKey);
    const double dUpper = dCentre + 0.7 * dSpread * dWiden;
    const double dLower = dCentre - 0.7 * dSpread * dWiden;
    const double dT1 = std::max(0.0, 1.5 + 1.0 * Wave(t, 5400.0, nKey) + 0.2 * Noise(t, nKey));
    return {dUpper + 0.3 * dSpread, dLower - 0.3 * dSpread, dUpper, dLower, dT1, dT1 * 0.2};
}

void PutSixS16(CBlock &block, int nOffset, const SSpread &s)
{
    const double a[] = {s.dMax, s.dMin, s.dUpper, s.dLower, s.dT1, s.dT2};
    for (int i = 0; i < 6; ++i)
        block.PutS16(nOffset + 2 * i, a[i], DAY_SCALE);
}

// Quantities that only have an upper side (harmonics, distortion, unbalance).
void PutFourS16(CBlock &block, int nOffset, const SSpread &s)
{
    const double a[] = {s.dMax, s.dUpper, s.dT1, s.dT2};
    for (int i = 0; i < 4; ++i)
        block.PutS16(nOffset + 2 * i, a[i], DAY_SCALE);
}

} // namespace

QByteArray SimSecondData(double t)
{
    const SNetwork net = Measure(t);
    CBlock block(SEC_SIZE);
    for (int p = 0; p < PHASES; ++p) {
        block.PutS32(SEC_DU + 4 * p, net.adU[p], SEC_SCALE);
        for (int i = 0; i < ORDERS; ++i)
            block.PutS32(SEC_HARMONICS + SEC_HARMONIC_RUN * p + 4 * i, net.aHarmonic[p][i], SEC_SCALE);
        block.PutS32(SEC_KU + 4 * p, net.aKu[p], SEC_SCALE);
        block.PutS32(SEC_VOLTAGES + 4 * p, net.aU[p], SEC_SCALE);
    }
    block.PutS32(SEC_K0, net.dK0, SEC_SCALE);
    block.PutS32(SEC_K2, net.dK2, SEC_SCALE);
    block.PutS32(SEC_U1, net.dU1, SEC_SCALE);
    block.PutS32(SEC_F, 50.0 + net.dF, SEC_SCALE);
    block.PutS32(SEC_U0, net.dU0, SEC_SCALE);
    block.PutS32(SEC_U2, net.dU2, SEC_SCALE);
    block.PutS32(SEC_DF, net.dF, SEC_SCALE);
    return block.Bytes();
}

QByteArray SimMinuteData(double t)
{
    const SNetwork net = Measure(t);
    CBlock block(MIN_SIZE);
    for (int p = 0; p < PHASES; ++p) {
        block.PutS16(MIN_DU + 2 * p, net.adU[p], MIN_SCALE);
        for (int i = 0; i < ORDERS; ++i)
            block.PutS16(MIN_HARMONICS + MIN_HARMONIC_RUN * p + 2 * i, net.aHarmonic[p][i], MIN_SCALE);
        block.PutS16(MIN_KU + 2 * p, net.aKu[p], MIN_SCALE);
    }
    block.PutS16(MIN_K0, net.dK0, MIN_SCALE);
    block.PutS16(MIN_K2, net.dK2, MIN_SCALE);
    block.PutS16(MIN_DU1, (net.dU1 / NOMINAL_PHASE_V - 1.0) * 100.0, MIN_SCALE);
    block.PutS16(MIN_DF, net.dF, MIN_SCALE);
    return block.Bytes();
}

QByteArray SimDayData(double t)
{
    const SNetwork net = Measure(t);
    CBlock block(DAY_SIZE);
    for (int p = 0; p < PHASES; ++p) {
        const std::uint32_t nKey = 1000 + 10 * p;
        // The interval is a short stretch of the day, so its spread is narrower.
        PutSixS16(block, DAY_DU + 24 * p, Spread(0.3 * net.adU[p], 5.0, t, nKey));
        PutSixS16(block, DAY_DU + 24 * p + 12, Spread(net.adU[p], 2.0, t, nKey + 1));
        for (int i = 0; i < ORDERS; ++i) {
            const double dLevel = net.aHarmonic[p][i];
            PutFourS16(block, DAY_HARMONICS + DAY_HARMONIC_RUN * p + 8 * i,
                       Spread(dLevel, 0.5 * dLevel, t, nKey + 2 + i));
        }
        PutFourS16(block, DAY_KU + 8 * p, Spread(net.aKu[p], 0.5 * net.aKu[p], t, nKey + 3));

        // Dips and swells in fiftieths of a second: some seconds a day.
        const double dDipDay = 12.0 + 6.0 * Wave(t, 3600.0, p) + std::fmod(t, 60.0) / 10.0;
        const double dSwellDay = 3.0 + 2.0 * Wave(t, 4000.0, p);
        block.PutU32(DAY_TPROV + 8 * p, dDipDay * TICKS_PER_SECOND);
        block.PutU32(DAY_TPROV + 8 * p + 4, dDipDay * 0.1 * TICKS_PER_SECOND);
        block.PutU32(DAY_TPER + 8 * p, dSwellDay * TICKS_PER_SECOND);
        block.PutU32(DAY_TPER + 8 * p + 4, dSwellDay * 0.1 * TICKS_PER_SECOND);
    }
    PutSixS16(block, DAY_DF, Spread(net.dF, 0.1, t, 2000));
    PutFourS16(block, DAY_K0, Spread(net.dK0, 0.5 * net.dK0, t, 2001));
    PutFourS16(block, DAY_K2, Spread(net.dK2, 0.5 * net.dK2, t, 2002));

    // Work and idle seconds: the day adds up to under 24 h, the interval
    // (the last half hour or so) to its own length.
    const double dElapsed = std::fmod(t, 3600.0);
    const double dInterval = 1800.0 + dElapsed / 2.0;
    block.PutU32(DAY_WORK_DAY, 70000.0 + dElapsed);
    block.PutU32(DAY_WORK_INTERVAL, 0.9 * dInterval);
    block.PutU32(DAY_IDLE_DAY, 12000.0 - dElapsed / 10.0);
    block.PutU32(DAY_IDLE_INTERVAL, 0.1 * dInterval);
    return block.Bytes();
}

double SimHistoryOffset(quint16 nDevice, quint8 nFeeder)
{
    // A whole number of seconds, so that every meter's noise ticks on the
    // same second; a prime step, so that the slow waves of neighbouring
    // devices stand at unrelated points rather than in step.
    constexpr double STEP_SECONDS = 100003.0;
    return (double(nDevice) * 256.0 + nFeeder + 1.0) * STEP_SECONDS;
}
