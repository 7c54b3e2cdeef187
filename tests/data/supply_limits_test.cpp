#include "data/catalogue.h"
#include "data/supply_limits.h"
#include "data/supply_limits_file.h"

#include <gtest/gtest.h>

#include <QStringDecoder>

#include <cmath>
#include <limits>
#include <map>
#include <set>

namespace {

constexpr double INF = std::numeric_limits<double>::infinity();

SLimitBand UpTo(double dMax)
{
    return SLimitBand{-INF, dMax};
}

QString Prefix(const char *pFile, int nLine)
{
    return QStringLiteral("Файл пределов %1, строка %2: ").arg(QString::fromUtf8(pFile)).arg(nLine);
}

// A table where every quantity has a limit of its own, so that a lookup
// landing on the wrong quantity shows.
CLimits Distinct()
{
    CLimits limits;
    for (int n = FIRST_HARMONIC_ORDER; n <= LAST_HARMONIC_ORDER; ++n)
        limits.SetHarmonic(n, UpTo(n));
    limits.SetTotalDistortion(UpTo(100));
    limits.SetUnbalance(UpTo(101));
    limits.SetFrequencyDeviation(SLimitBand{-102, 102});
    limits.SetVoltageDeviation(SLimitBand{-103, 103});
    limits.SetFrequencyHardBand(SLimitBand{-104, 104});
    limits.SetVoltageHardBand(SLimitBand{-105, 105});
    return limits;
}

TEST(SupplyLimits, DefaultsAreTheLowVoltageValuesOfEn50160)
{
    const std::map<int, double> harmonics = {
        {2, 2},    {3, 5},    {4, 1},    {5, 6},    {6, 0.5},  {7, 5},    {8, 0.5},  {9, 1.5},
        {10, 0.5}, {11, 3.5}, {12, 0.5}, {13, 3},   {14, 0.5}, {15, 0.5}, {16, 0.5}, {17, 2},
        {18, 0.5}, {19, 1.5}, {20, 0.5}, {21, 0.5}, {22, 0.5}, {23, 1.5}, {24, 0.5}, {25, 1.5},
    };
    const CLimits limits = CLimits::Defaults();
    for (int n = FIRST_HARMONIC_ORDER; n <= LAST_HARMONIC_ORDER; ++n) {
        const auto it = harmonics.find(n);
        if (it == harmonics.end())
            EXPECT_EQ(limits.Harmonic(n), std::nullopt) << "order " << n;
        else
            EXPECT_EQ(limits.Harmonic(n), UpTo(it->second)) << "order " << n;
    }
    EXPECT_EQ(limits.Harmonic(26), std::nullopt);
    EXPECT_EQ(limits.Harmonic(27), std::nullopt);
    EXPECT_EQ(limits.Harmonic(40), std::nullopt);
    EXPECT_EQ(limits.TotalDistortion(), UpTo(8));
    EXPECT_EQ(limits.Unbalance(), UpTo(2));
    EXPECT_EQ(limits.FrequencyDeviation(), (SLimitBand{-0.5, 0.5}));
    EXPECT_EQ(limits.VoltageDeviation(), (SLimitBand{-10, 10}));
    EXPECT_EQ(limits.VoltageHardBand(), (SLimitBand{-15, 10}));
    EXPECT_EQ(limits.FrequencyHardBand(), (SLimitBand{-3, 2}));
    EXPECT_EQ(CLimits::None().VoltageHardBand(), std::nullopt);
    EXPECT_EQ(CLimits::None().FrequencyHardBand(), std::nullopt);
    EXPECT_EQ(limits.ForRowName(QStringLiteral("K0")), std::nullopt);
    EXPECT_EQ(limits.ForRowName(QStringLiteral("K2")), UpTo(2));
    EXPECT_EQ(CLimits::None().ForRowName(QStringLiteral("K2")), std::nullopt);
}

TEST(SupplyLimits, RowNamesLeadToTheirQuantity)
{
    const CLimits limits = Distinct();
    const struct {
        const char *pName;
        std::optional<SLimitBand> band;
    } cases[] = {
        {"Ku2A", UpTo(2)},    {"Ku9B", UpTo(9)},      {"Ku10C", UpTo(10)},   {"Ku13AB", UpTo(13)},
        {"Ku27BC", UpTo(27)}, {"Ku40CA", UpTo(40)},   {"KuA", UpTo(100)},    {"KuCA", UpTo(100)},
        {"K2", UpTo(101)},    {"dF", SLimitBand{-102, 102}},                  {"dUA", SLimitBand{-103, 103}},
        {"dUCA", SLimitBand{-103, 103}},
        // Everything else has no limit, however close its name.
        {"K0", {}},   {"U0", {}},    {"U1", {}},     {"F", {}},       {"UAB", {}},    {"dU1", {}},
        {"dU", {}},   {"Ku", {}},    {"Ku5", {}},    {"Ku1A", {}},    {"Ku41A", {}},  {"Ku05A", {}},
        {"Ku5D", {}}, {"Ku5a", {}},  {"KUA", {}},    {"", {}},        {"dF max", {}}, {"Ku5 A max", {}},
        {"dU A max - сутки", {}},    {"KUA max", {}}, {"K2U max", {}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(limits.ForRowName(QString::fromUtf8(c.pName)), c.band) << c.pName;

    // Of the fixed rows, exactly the dU, Ku, K2 and dF rows have a limit.
    for (const CListRows &rows : {SecondListRows(), MinuteListRows()}) {
        for (const SListRow &row : rows) {
            const bool bLimited = (row.strName.startsWith(QLatin1String("dU")) && row.strName != QLatin1String("dU1"))
                                  || row.strName.startsWith(QLatin1String("Ku"))
                                  || row.strName == QLatin1String("K2") || row.strName == QLatin1String("dF");
            EXPECT_EQ(limits.ForRowName(row.strName).has_value(), bLimited) << row.strName.toStdString();
        }
    }
    for (const SListRow &row : DayListRows())
        EXPECT_EQ(limits.ForRowName(row.strName), std::nullopt) << row.strName.toStdString();
}

TEST(SupplyLimits, BandsThatBoundNothingAreNoLimit)
{
    const double dNan = std::numeric_limits<double>::quiet_NaN();
    const SLimitBand bands[] = {{-INF, INF}, {dNan, 1}, {1, dNan}, {2, 1}, {INF, INF}, {-INF, -INF}};
    for (const SLimitBand &band : bands) {
        CLimits limits = CLimits::Defaults();
        limits.SetUnbalance(band);
        limits.SetHarmonic(5, band);
        EXPECT_EQ(limits.Unbalance(), std::nullopt) << band.dMin << " .. " << band.dMax;
        EXPECT_EQ(limits.Harmonic(5), std::nullopt) << band.dMin << " .. " << band.dMax;
    }
    CLimits limits = CLimits::Defaults();
    limits.SetHarmonic(1, UpTo(1));
    limits.SetHarmonic(41, UpTo(1));
    EXPECT_EQ(limits, CLimits::Defaults());
    EXPECT_EQ(limits.Harmonic(1), std::nullopt);
    EXPECT_EQ(limits.Harmonic(41), std::nullopt);
}

TEST(SupplyLimitsFile, WrittenFileReadsBackAsTheSameTable)
{
    CLimits odd = CLimits::None();
    odd.SetHarmonic(2, SLimitBand{-1e-7, 123456.789});
    odd.SetHarmonic(3, SLimitBand{0.1, INF});
    odd.SetHarmonic(4, UpTo(-0.0));
    odd.SetHarmonic(40, SLimitBand{5, 5});
    odd.SetTotalDistortion(UpTo(1e300));
    odd.SetFrequencyDeviation(SLimitBand{-0.2, INF});
    odd.SetVoltageDeviation(SLimitBand{-INF, 0.30000000000000004});
    odd.SetVoltageHardBand(SLimitBand{-20, INF});
    odd.SetFrequencyHardBand(SLimitBand{-7.5, 7.5});
    for (const CLimits &limits : {CLimits::Defaults(), CLimits::None(), Distinct(), odd}) {
        const SLimitsRead read = ParseLimits(LimitsFileBytes(limits), QStringLiteral("limits.txt"));
        EXPECT_EQ(read.limits, limits);
        EXPECT_EQ(read.problems, QStringList());
    }
}

TEST(SupplyLimitsFile, DefaultFileExplainsItselfInUtf8)
{
    const QByteArray bytes = LimitsFileBytes(CLimits::Defaults());
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString strText = decoder.decode(bytes);
    EXPECT_FALSE(decoder.hasError());
    EXPECT_TRUE(bytes.startsWith("# "));
    EXPECT_TRUE(strText.contains(QLatin1String("EN 50160")));
    EXPECT_TRUE(strText.contains(QStringLiteral("низкого напряжения")));
    for (const char *pLine : {"\nKu2 = 2\n", "\nKu5 = 6\n", "\nKu11 = 3.5\n", "\nKu24 = 0.5\n",
                              "\nKu27 = none\n", "\nKu40 = none\n", "\nKu = 8\n", "\nK2 = 2\n",
                              "\ndF = -0.5 .. 0.5\n", "\ndU = -10 .. 10\n", "\ndF100 = -3 .. 2\n",
                              "\ndU100 = -15 .. 10\n"})
        EXPECT_TRUE(bytes.contains(pLine)) << pLine;
    // Each key is explained, and so are the bands of an island system.
    for (const char *pSaid : {"#   dF100 ", "#   dU100 ", "dF = -1 .. 1", "dF100 = -7.5 .. 7.5"})
        EXPECT_TRUE(bytes.contains(pSaid)) << pSaid;
    EXPECT_FALSE(bytes.contains("\nK0"));
}

TEST(SupplyLimitsFile, MissingNamesKeepTheirDefaults)
{
    const QByteArray bytes = "\xEF\xBB\xBF# my changes\r\n"
                             "Ku5 = 4\r\n"
                             "\r\n"
                             "  Ku27\t=\t+1.25   # now limited\n"
                             "Ku3 = none\n"
                             "dU = -5 ..\n"
                             "K2 = .. 3\n"
                             "dF=-0.2..0.2";
    const SLimitsRead read = ParseLimits(bytes, QStringLiteral("limits.txt"));
    EXPECT_EQ(read.problems, QStringList());
    CLimits expected = CLimits::Defaults();
    expected.SetHarmonic(5, UpTo(4));
    expected.SetHarmonic(27, UpTo(1.25));
    expected.SetHarmonic(3, std::nullopt);
    expected.SetVoltageDeviation(SLimitBand{-5, INF});
    expected.SetUnbalance(UpTo(3));
    expected.SetFrequencyDeviation(SLimitBand{-0.2, 0.2});
    EXPECT_EQ(read.limits, expected);

    EXPECT_EQ(ParseLimits(QByteArray(), QStringLiteral("limits.txt")).limits, CLimits::Defaults());
}

TEST(SupplyLimitsFile, HardBandsAreReadFromTheirKeys)
{
    const struct {
        const char *pName;
        const char *pText;
        std::optional<SLimitBand> voltage;
        std::optional<SLimitBand> frequency;
    } cases[] = {
        {"absent: the defaults", "dU = -10 .. 10\n", SLimitBand{-15, 10}, SLimitBand{-3, 2}},
        {"an island system", "dF = -1 .. 1\ndF100 = -7.5 .. 7.5\n", SLimitBand{-15, 10}, SLimitBand{-7.5, 7.5}},
        {"both set", "dU100 = -20 .. 15\ndF100 = -1 .. 1\n", SLimitBand{-20, 15}, SLimitBand{-1, 1}},
        {"none", "dU100 = none\ndF100 = none\n", std::nullopt, std::nullopt},
        {"one side", "dU100 = -15 ..\ndF100 = 2\n", SLimitBand{-15, INF}, UpTo(2)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        const SLimitsRead read = ParseLimits(c.pText, QStringLiteral("limits.txt"));
        EXPECT_EQ(read.problems, QStringList());
        EXPECT_EQ(read.limits.VoltageHardBand(), c.voltage);
        EXPECT_EQ(read.limits.FrequencyHardBand(), c.frequency);
        // Written back, the file says the same.
        EXPECT_EQ(ParseLimits(LimitsFileBytes(read.limits), QStringLiteral("limits.txt")).limits, read.limits);
    }
}

TEST(SupplyLimitsFile, EachUnreadableLineIsNamedAndItsQuantityKeepsTheDefault)
{
    const char *pFile = "/home/оператор/.config/varik/limits.txt";
    const struct {
        int nLine;
        const char *pText;
        const char *pSaid; // a part of the message for this line
    } lines[] = {
        {1, "# the operator's changes", nullptr},
        {2, "Ku5 = 4", nullptr},
        {3, "Ku7 = 4,5", "«4,5»"},
        {4, "K0 = 1", "«K0»"},
        {5, "dF = 0.5 .. -0.5", "dF"},
        {6, "Ku9 = 1", nullptr},
        {7, "Ku9 = 2", "строке 6"},
        {8, "dU 10", "«=»"},
        {9, "K2 = \xCF\xF0", "UTF-8"},                // Windows-1251 text
        {10, "Ku11 = 2  # \xEF\xF0\xE5\xE4\xE5\xEB", nullptr}, // ... but only in a comment
        {11, "Ku = nan", "«nan»"},
        {12, "Ku13 = inf", "«inf»"},
        {13, "Ku15 =", "Ku15"},
        {14, "Ku17 = 1e999", "«1e999»"},
        {15, "Ku19 = ..", "«..»"},
        {16, "Ku21 = 1 .. 2 .. 3", "Ku21"},
        {17, "\xFF\xFE = 1", "UTF-8"},
        {18, "ku23 = 1", "«ku23»"},
        {19, "dU100 = -15 .. x", "dU100"},
        {20, "dF100 = 2 .. -3", "dF100"},
        {21, "du100 = 1", "dU100"}, // the known names are listed
    };
    QByteArray bytes;
    for (const auto &line : lines)
        bytes += QByteArray(line.pText) + '\n';
    const SLimitsRead read = ParseLimits(bytes, QString::fromUtf8(pFile));

    QStringList prefixes;
    for (const auto &line : lines)
        if (line.pSaid != nullptr)
            prefixes.append(Prefix(pFile, line.nLine));
    ASSERT_EQ(read.problems.size(), prefixes.size()) << read.problems.join(u'\n').toStdString();
    int nProblem = 0;
    for (const auto &line : lines) {
        if (line.pSaid == nullptr)
            continue;
        const QString &strProblem = read.problems[nProblem++];
        EXPECT_TRUE(strProblem.startsWith(Prefix(pFile, line.nLine))) << strProblem.toStdString();
        EXPECT_TRUE(strProblem.contains(QString::fromUtf8(line.pSaid))) << strProblem.toStdString();
    }

    CLimits expected = CLimits::Defaults();
    expected.SetHarmonic(5, UpTo(4));
    expected.SetHarmonic(11, UpTo(2));
    EXPECT_EQ(read.limits, expected);
}

TEST(SupplyLimits, RowsBeyondTheirLimitAsShown)
{
    CListRows second = SecondListRows();
    std::map<QString, std::pair<const char *, bool>> values = {
        {QStringLiteral("Ku5A"), {"6.00", false}},   // at the limit
        {QStringLiteral("Ku5B"), {"6.01", true}},    // just beyond
        {QStringLiteral("Ku2C"), {"-0.01", false}},  // harmonics are bounded from above only
        {QStringLiteral("Ku27A"), {"99.00", false}}, // no limit
        {QStringLiteral("Ku3AB"), {"abc", false}},   // no value
        {QStringLiteral("KuA"), {"8.01", true}},
        {QStringLiteral("KuB"), {"8.00", false}},
        {QStringLiteral("K0"), {"50.00", false}},
        {QStringLiteral("K2"), {"2.00", false}},
        {QStringLiteral("dF"), {"-0.51", true}},
        {QStringLiteral("dUA"), {"-10.00", false}},
        {QStringLiteral("dUB"), {"10.01", true}},
        {QStringLiteral("dUCA"), {"-10.01", true}},
        {QStringLiteral("F"), {"60.00", false}},
        {QStringLiteral("UA"), {"400.00", false}},
    };
    for (SListRow &row : second)
        if (const auto it = values.find(row.strName); it != values.end())
            row.strValue = QString::fromLatin1(it->second.first);
    const std::vector<bool> beyond = RowsBeyondLimits(second, CLimits::Defaults());
    ASSERT_EQ(beyond.size(), second.size());
    for (std::size_t i = 0; i < second.size(); ++i) {
        const auto it = values.find(second[i].strName);
        EXPECT_EQ(beyond[i], it != values.end() && it->second.second) << second[i].strName.toStdString();
    }

    CListRows minute = MinuteListRows();
    for (SListRow &row : minute) {
        if (row.strName == QLatin1String("dF"))
            row.strValue = QStringLiteral("0.51");
        else if (row.strName == QLatin1String("dU1"))
            row.strValue = QStringLiteral("50.00");
        else if (!row.strName.isEmpty())
            row.strValue = QStringLiteral("0.00");
    }
    const std::vector<bool> beyondMinute = RowsBeyondLimits(minute, CLimits::Defaults());
    for (std::size_t i = 0; i < minute.size(); ++i)
        EXPECT_EQ(beyondMinute[i], minute[i].strName == QLatin1String("dF")) << minute[i].strName.toStdString();
    EXPECT_EQ(RowsBeyondLimits(minute, CLimits::None()), std::vector<bool>(minute.size(), false));
}

} // namespace
