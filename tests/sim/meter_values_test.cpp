// The simulated measurements land in the right fields with believable values.
#include "sim/meter_sim.h"
#include "sim/meter_values.h"

#include <QtEndian>

#include <gtest/gtest.h>

#include <set>

namespace {

double Second(const QByteArray &d, int nOffset)
{
    return qFromLittleEndian<qint32>(d.constData() + nOffset) * 0.001;
}

double Hundredths(const QByteArray &d, int nOffset)
{
    return qFromLittleEndian<qint16>(d.constData() + nOffset) * 0.01;
}

quint32 U32(const QByteArray &d, int nOffset)
{
    return qFromLittleEndian<quint32>(d.constData() + nOffset);
}

// Moments over a few hours, so the slow waves are seen at several points,
// and as far along as the meters of a bus read.
const double g_aMoments[] = {0.0,    37.5,   600.0, 2500.0, 9999.0, 600.0 + SimHistoryOffset(7, 1),
                             9999.0 + SimHistoryOffset(65535, 255)};

TEST(MeterValuesTest, SecondDataLooksLikeA230VoltNetwork)
{
    for (double t : g_aMoments) {
        SCOPED_TRACE(t);
        const QByteArray d = SimSecondData(t);
        ASSERT_EQ(d.size(), 1036);
        for (int p = 0; p < 6; ++p) {
            const double dU = Second(d, 4 * p);
            EXPECT_GE(dU, -2.0);
            EXPECT_LE(dU, 2.0);
            const double dNominal = p < 3 ? 230.0 : 400.0;
            EXPECT_NEAR(Second(d, 1000 + 4 * p), dNominal * (1 + dU / 100), 0.01);
            const double dKu = Second(d, 960 + 4 * p);
            EXPECT_GT(dKu, 1.0);
            EXPECT_LT(dKu, 4.0);
            // Odd harmonics outweigh their even neighbours and fade with order.
            const int nRun = 24 + 156 * p;
            EXPECT_GT(Second(d, nRun + 4 * (3 - 2)), Second(d, nRun + 4 * (2 - 2)));
            EXPECT_GT(Second(d, nRun + 4 * (5 - 2)), Second(d, nRun + 4 * (39 - 2)));
            EXPECT_GT(Second(d, nRun + 4 * (40 - 2)), 0.0);
        }
        EXPECT_NEAR(Second(d, 992), 230.0, 5.0);                    // U1
        EXPECT_NEAR(Second(d, 996), 50.0, 0.0201);                  // F
        EXPECT_NEAR(Second(d, 1032), Second(d, 996) - 50.0, 0.0011); // dF
        EXPECT_GT(Second(d, 984), 0.1);                             // K0
        EXPECT_LT(Second(d, 988), 2.0);                             // K2
        EXPECT_GT(Second(d, 1024), 0.2);                            // U0
        EXPECT_LT(Second(d, 1028), 3.0);                            // U2
    }
    EXPECT_EQ(SimSecondData(100.0), SimSecondData(100.0));
    EXPECT_NE(SimSecondData(100.0), SimSecondData(101.0));
}

TEST(MeterValuesTest, MinuteDataMatchesTheSecondsInHundredths)
{
    for (double t : g_aMoments) {
        SCOPED_TRACE(t);
        const QByteArray m = SimMinuteData(t);
        const QByteArray s = SimSecondData(t);
        ASSERT_EQ(m.size(), 500);
        for (int p = 0; p < 6; ++p) {
            EXPECT_NEAR(Hundredths(m, 2 * p), Second(s, 4 * p), 0.006);
            EXPECT_NEAR(Hundredths(m, 12 + 78 * p + 2 * (5 - 2)), Second(s, 24 + 156 * p + 4 * (5 - 2)), 0.006);
            EXPECT_NEAR(Hundredths(m, 480 + 2 * p), Second(s, 960 + 4 * p), 0.006);
        }
        EXPECT_NEAR(Hundredths(m, 492), Second(s, 984), 0.006); // K0
        EXPECT_NEAR(Hundredths(m, 494), Second(s, 988), 0.006); // K2
        EXPECT_NEAR(Hundredths(m, 496), (Second(s, 992) / 230.0 - 1) * 100, 0.006); // dU1
        EXPECT_NEAR(Hundredths(m, 498), 0.0, 0.021);            // dF
    }
}

TEST(MeterValuesTest, DayStatisticsAreOrderedAndTimesFitTheDay)
{
    for (double t : g_aMoments) {
        SCOPED_TRACE(t);
        const QByteArray d = SimDayData(t);
        ASSERT_EQ(d.size(), 2204);

        // max, min, verh, niz, T1, T2: dU for day and interval, and dF.
        std::vector<int> sixes = {144};
        for (int p = 0; p < 6; ++p)
            sixes.insert(sixes.end(), {24 * p, 24 * p + 12});
        for (int nOffset : sixes) {
            SCOPED_TRACE(nOffset);
            const double dMax = Hundredths(d, nOffset), dMin = Hundredths(d, nOffset + 2);
            const double dUpper = Hundredths(d, nOffset + 4), dLower = Hundredths(d, nOffset + 6);
            EXPECT_GE(dMax, dUpper);
            EXPECT_GE(dUpper, dLower);
            EXPECT_GE(dLower, dMin);
            EXPECT_LT(dMax, 10.0);
            EXPECT_GE(Hundredths(d, nOffset + 8), Hundredths(d, nOffset + 10));
            EXPECT_GE(Hundredths(d, nOffset + 10), 0.0);
        }

        // max, verh, T1, T2: harmonics, distortion, K0U, K2U.
        std::vector<int> fours = {2076, 2084};
        for (int p = 0; p < 6; ++p) {
            fours.push_back(2028 + 8 * p);
            for (int n = 2; n <= 40; ++n)
                fours.push_back(156 + 312 * p + 8 * (n - 2));
        }
        for (int nOffset : fours) {
            SCOPED_TRACE(nOffset);
            EXPECT_GE(Hundredths(d, nOffset), Hundredths(d, nOffset + 2));
            EXPECT_GE(Hundredths(d, nOffset + 2), 0.0);
            EXPECT_GE(Hundredths(d, nOffset + 4), Hundredths(d, nOffset + 6));
        }

        // Dips and swells in fiftieths of a second; the interval's share is
        // part of the day's.
        for (int p = 0; p < 6; ++p) {
            for (int nArea : {2092, 2140}) {
                EXPECT_GE(U32(d, nArea + 8 * p), U32(d, nArea + 8 * p + 4));
                EXPECT_LT(U32(d, nArea + 8 * p) / 50, 3600u);
            }
        }

        const quint32 nWorkDay = U32(d, 2188), nWorkInterval = U32(d, 2192);
        const quint32 nIdleDay = U32(d, 2196), nIdleInterval = U32(d, 2200);
        EXPECT_NEAR(nWorkDay / 3600.0, 20.0, 1.0);
        EXPECT_NEAR(nIdleDay / 3600.0, 3.5, 1.0);
        EXPECT_LE(nWorkDay + nIdleDay, 86400u);
        EXPECT_LT(nWorkInterval, nWorkDay);
        EXPECT_LT(nIdleInterval, nIdleDay);
    }
}

TEST(MeterValuesTest, EveryDeviceAndFeederOfABusReadsValuesOfItsOwn)
{
    const struct {
        quint16 nDevice;
        quint8 nFeeder;
    } sources[] = {{1, 0}, {1, 1}, {2, 0}, {2, 1}, {7, 0}, {256, 0}, {300, 1}, {65535, 0}, {65535, 255}};
    std::set<double> offsets;
    std::set<QByteArray> seconds;
    std::set<QByteArray> days;
    for (const auto &s : sources) {
        SCOPED_TRACE(std::to_string(s.nDevice) + " feeder " + std::to_string(s.nFeeder));
        const double dOffset = SimHistoryOffset(s.nDevice, s.nFeeder);
        EXPECT_GT(dOffset, 0.0); // 0 is the lone meter's
        EXPECT_TRUE(offsets.insert(dOffset).second);
        EXPECT_TRUE(seconds.insert(SimSecondData(100.0 + dOffset)).second);
        EXPECT_TRUE(days.insert(SimDayData(100.0 + dOffset)).second);
    }
}

} // namespace
