#include "data/supply_characteristics.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

struct SRowGiven {
    int nWeek;
    const char *pQuantity;
    const char *pPhase;
    EQuantityGroup eGroup;
    SLimitBand band;
    double dP05;
    double dP95;
    EVerdict eVerdict;
};

const QDate FIRST_WEEK(2026, 10, 19);

SSupplyReport ReportOf(std::initializer_list<SRowGiven> rows, QStringList offByChoice = {})
{
    SSupplyReport report;
    for (int w = 0; w < 2; ++w) {
        SReportWeek week;
        week.firstDay = FIRST_WEEK.addDays(7 * w);
        report.weeks.push_back(week);
    }
    for (const SRowGiven &given : rows) {
        SReportRow row;
        row.strQuantity = QLatin1String(given.pQuantity);
        row.strPhase = QLatin1String(given.pPhase);
        row.strColumn = row.strQuantity + row.strPhase;
        row.eGroup = given.eGroup;
        row.band = given.band;
        row.dP05 = given.dP05;
        row.dP95 = given.dP95;
        row.eVerdict = given.eVerdict;
        report.weeks[std::size_t(given.nWeek)].rows.push_back(row);
    }
    report.offByChoice = std::move(offByChoice);
    return report;
}

constexpr auto DU = EQuantityGroup::VoltageDeviation;
constexpr auto HARMONICS = EQuantityGroup::Harmonics;
constexpr auto PASS = EVerdict::Pass;
constexpr auto FAIL = EVerdict::Fail;
constexpr auto INCOMPLETE = EVerdict::Incomplete;
constexpr auto NO_DATA = EVerdict::NoData;
const SLimitBand VOLTAGE{-10, 10};

struct SCase {
    const char *pName;
    SSupplyReport report;
    ECharacteristic eCharacteristic;
    ECharacteristicState eState;
    EVerdict eVerdict;
    // The worst row expected; no quantity: none.
    const char *pQuantity;
    const char *pPhase;
    int nWeek;
    double dValue;
    double dBound;
};

const SCase CASES[] = {
    {"every row passes: the one nearest its bound is shown",
     ReportOf({{0, "dU", "A", DU, VOLTAGE, -2, 4, PASS}, {1, "dU", "B", DU, VOLTAGE, -1, 7, PASS}}),
     ECharacteristic::VoltageVariations, ECharacteristicState::Judged, PASS, "dU", "B", 1, 7, 10},
    {"a row failing in the second week fails it and is the one shown",
     ReportOf({{0, "dU", "A", DU, VOLTAGE, -2, 9.5, PASS}, {1, "dU", "C", DU, VOLTAGE, -1, 10.5, FAIL}}),
     ECharacteristic::VoltageVariations, ECharacteristicState::Judged, FAIL, "dU", "C", 1, 10.5, 10},
    {"a failing row nearer its bound than another failing one is not the worst",
     ReportOf({{0, "dU", "A", DU, VOLTAGE, -2, 10.2, FAIL}, {0, "dU", "B", DU, VOLTAGE, -13, 2, FAIL}}),
     ECharacteristic::VoltageVariations, ECharacteristicState::Judged, FAIL, "dU", "B", 0, -13, -10},
    {"the lower side nearer its bound shows P05 against the lower bound",
     ReportOf({{0, "dU", "A", DU, VOLTAGE, -9, 3, PASS}}), ECharacteristic::VoltageVariations,
     ECharacteristicState::Judged, PASS, "dU", "A", 0, -9, -10},
    {"a failing row outweighs a passing one further beyond",
     ReportOf({{0, "dU", "A", DU, VOLTAGE, -2, 10.1, FAIL}, {0, "dU", "B", DU, VOLTAGE, -2, 11, PASS}}),
     ECharacteristic::VoltageVariations, ECharacteristicState::Judged, FAIL, "dU", "A", 0, 10.1, 10},
    {"an incomplete row among passes leaves it incomplete",
     ReportOf({{0, "dU", "A", DU, VOLTAGE, -2, 4, PASS}, {1, "dU", "A", DU, VOLTAGE, -2, 5, INCOMPLETE}}),
     ECharacteristic::VoltageVariations, ECharacteristicState::Judged, INCOMPLETE, "dU", "A", 1, 5, 10},
    {"a row without data among passes leaves it incomplete",
     ReportOf({{0, "dU", "A", DU, VOLTAGE, -2, 4, PASS}, {1, "dU", "A", DU, VOLTAGE, NaN, NaN, NO_DATA}}),
     ECharacteristic::VoltageVariations, ECharacteristicState::Judged, INCOMPLETE, "dU", "A", 0, 4, 10},
    {"only rows without data: no data and nothing shown",
     ReportOf({{0, "dU", "A", DU, VOLTAGE, NaN, NaN, NO_DATA}}), ECharacteristic::VoltageVariations,
     ECharacteristicState::Judged, NO_DATA, nullptr, nullptr, 0, 0, 0},
    {"harmonic orders compare by how far into their own limit they reach",
     ReportOf({{0, "Ku3", "A", HARMONICS, {-INF, 5}, 1, 4, PASS}, {0, "Ku11", "BC", HARMONICS, {-INF, 3.5}, 1, 3, PASS}}),
     ECharacteristic::Harmonics, ECharacteristicState::Judged, PASS, "Ku11", "BC", 0, 3, 3.5},
    {"a quantity switched off in the limits is not judged by choice",
     ReportOf({{0, "dU", "A", DU, VOLTAGE, -2, 4, PASS}}, {QStringLiteral("Ku")}), ECharacteristic::TotalDistortion,
     ECharacteristicState::OffByChoice, NO_DATA, nullptr, nullptr, 0, 0, 0},
    {"a quantity the logs hold no column of has no data",
     ReportOf({{0, "dU", "A", DU, VOLTAGE, -2, 4, PASS}}), ECharacteristic::Unbalance, ECharacteristicState::Judged,
     NO_DATA, nullptr, nullptr, 0, 0, 0},
    {"one harmonic order switched off leaves the others judged",
     ReportOf({{0, "Ku3", "A", HARMONICS, {-INF, 5}, 1, 4, PASS}}, {QStringLiteral("Ku5")}),
     ECharacteristic::Harmonics, ECharacteristicState::Judged, PASS, "Ku3", "A", 0, 4, 5},
};

TEST(SupplyCharacteristicsTest, EachCharacteristicTakesItsWorstRowOverEveryWeek)
{
    for (const SCase &c : CASES) {
        SCOPED_TRACE(c.pName);
        const std::vector<SCharacteristicRow> rows = SupplyCharacteristics(c.report);
        const auto it = std::find_if(rows.begin(), rows.end(), [&c](const SCharacteristicRow &row) {
            return row.eCharacteristic == c.eCharacteristic;
        });
        ASSERT_NE(it, rows.end());
        EXPECT_EQ(it->eState, c.eState);
        EXPECT_EQ(it->eVerdict, c.eVerdict);
        ASSERT_EQ(it->worst.has_value(), c.pQuantity != nullptr);
        if (!c.pQuantity)
            continue;
        EXPECT_EQ(it->worst->strQuantity, QLatin1String(c.pQuantity));
        EXPECT_EQ(it->worst->strPhase, QLatin1String(c.pPhase));
        EXPECT_EQ(it->worst->week, FIRST_WEEK.addDays(7 * c.nWeek));
        EXPECT_DOUBLE_EQ(it->worst->dValue, c.dValue);
        EXPECT_DOUBLE_EQ(it->worst->dBound, c.dBound);
        EXPECT_EQ(it->worst->bLowSide, c.dBound < 0);
    }
}

TEST(SupplyCharacteristicsTest, EventsAreCountedAndWhatIsNotJudgedFollowsByName)
{
    SSupplyReport report = ReportOf({{0, "dU", "A", DU, VOLTAGE, -2, 4, PASS}}, {QStringLiteral("Ku5")});
    for (const ESupplyEventKind kind :
         {ESupplyEventKind::Dip, ESupplyEventKind::Interruption, ESupplyEventKind::Dip, ESupplyEventKind::Swell}) {
        SSupplyEvent event;
        event.eKind = kind;
        report.events.push_back(event);
    }
    report.unjudged = {EUnjudged::Flicker, EUnjudged::RapidVoltageChanges, EUnjudged::SignallingVoltages};
    const std::vector<SCharacteristicRow> rows = SupplyCharacteristics(report);
    const ECharacteristic expected[] = {
        ECharacteristic::VoltageVariations, ECharacteristic::Frequency, ECharacteristic::Harmonics,
        ECharacteristic::TotalDistortion,   ECharacteristic::Unbalance, ECharacteristic::Events,
        ECharacteristic::Flicker,           ECharacteristic::RapidVoltageChanges, ECharacteristic::SignallingVoltages};
    ASSERT_EQ(rows.size(), std::size(expected));
    for (std::size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(rows[i].eCharacteristic, expected[i]) << i;
    EXPECT_EQ(rows[2].offByChoice, QStringList{QStringLiteral("Ku5")});
    EXPECT_EQ(rows[5].eState, ECharacteristicState::Counted);
    EXPECT_EQ(rows[5].nInterruptions, 1);
    EXPECT_EQ(rows[5].nDips, 2);
    EXPECT_EQ(rows[5].nSwells, 1);
    for (std::size_t i = 6; i < rows.size(); ++i)
        EXPECT_EQ(rows[i].eState, ECharacteristicState::NotJudged) << i;
}

TEST(SupplyCharacteristicsTest, TheReportsVerdictCountsJudgedCharacteristicsOnly)
{
    const auto row = [](EVerdict verdict, ECharacteristicState state = ECharacteristicState::Judged) {
        SCharacteristicRow r;
        r.eState = state;
        r.eVerdict = verdict;
        return r;
    };
    const struct {
        const char *pName;
        std::vector<SCharacteristicRow> rows;
        EVerdict eExpected;
    } cases[] = {
        {"every one passes", {row(PASS), row(PASS), row(NO_DATA, ECharacteristicState::OffByChoice)}, PASS},
        {"one fails", {row(PASS), row(FAIL), row(INCOMPLETE)}, FAIL},
        {"one incomplete", {row(PASS), row(INCOMPLETE)}, INCOMPLETE},
        {"one without data is no pass", {row(PASS), row(NO_DATA)}, INCOMPLETE},
        {"none with data", {row(NO_DATA), row(NO_DATA, ECharacteristicState::NotJudged)}, NO_DATA},
        {"nothing judged", {row(NO_DATA, ECharacteristicState::Counted)}, NO_DATA},
    };
    for (const auto &c : cases)
        EXPECT_EQ(CharacteristicsVerdict(c.rows), c.eExpected) << c.pName;
}

} // namespace
