#include "data/catalogue.h"

#include <array>

namespace {

// Three phases, then the three line pairs: every per-phase run of rows
// follows this order.
constexpr std::array<const char *, 6> PHASES = {"A", "B", "C", "AB", "BC", "CA"};

constexpr int FIRST_HARMONIC = 2;
constexpr int LAST_HARMONIC = 40;

void AddRow(CListRows &rows, const QString &strName)
{
    rows.push_back(SListRow{strName, QString()});
}

void AddBlank(CListRows &rows)
{
    AddRow(rows, QString());
}

// Rows 0 to 256, the same in the second and the minute list: the dU rows,
// the six harmonic runs, the distortion rows, K0 and K2.
void AddSecondAndMinuteHead(CListRows &rows)
{
    AddBlank(rows);
    for (const char *pPhase : PHASES)
        AddRow(rows, QStringLiteral("dU") + QLatin1String(pPhase));
    AddBlank(rows);
    for (const char *pPhase : PHASES) {
        for (int n = FIRST_HARMONIC; n <= LAST_HARMONIC; ++n)
            AddRow(rows, QStringLiteral("Ku") + QString::number(n) + QLatin1String(pPhase));
        AddBlank(rows);
    }
    for (const char *pPhase : PHASES)
        AddRow(rows, QStringLiteral("Ku") + QLatin1String(pPhase));
    AddBlank(rows);
    AddRow(rows, QStringLiteral("K0"));
    AddRow(rows, QStringLiteral("K2"));
}

// The day list's statistics groups: a stem followed by " max", " verh",
// " T1", " T2", closed by a blank row.
void AddStatisticsGroup(CListRows &rows, const QString &strStem)
{
    for (const char *pSuffix : {" max", " verh", " T1", " T2"})
        AddRow(rows, strStem + QLatin1String(pSuffix));
    AddBlank(rows);
}

const QString &DaySuffix()
{
    static const QString str = QStringLiteral(" - сутки");
    return str;
}

const QString &IntervalSuffix()
{
    static const QString str = QStringLiteral(" - интервал");
    return str;
}

// The voltage-deviation block of one phase: six day rows, blank, six
// interval rows, blank.
void AddDeviationBlock(CListRows &rows, const char *pPhase)
{
    const QString strPrefix = QStringLiteral("dU ") + QLatin1String(pPhase);
    for (const QString *pPeriod : {&DaySuffix(), &IntervalSuffix()}) {
        for (const char *pStat : {" max", " min", " verh", " niz", " T1", " T2"})
            AddRow(rows, strPrefix + QLatin1String(pStat) + *pPeriod);
        AddBlank(rows);
    }
}

// Tprov or Tper: the six day rows, blank, the six interval rows, blank.
void AddDurationRuns(CListRows &rows, const char *pKind)
{
    for (const QString *pPeriod : {&DaySuffix(), &IntervalSuffix()}) {
        for (const char *pPhase : PHASES)
            AddRow(rows, QStringLiteral("dT ") + QLatin1String(pKind) + QLatin1Char(' ')
                             + QLatin1String(pPhase) + *pPeriod);
        AddBlank(rows);
    }
}

} // namespace

CListRows SecondListRows()
{
    CListRows rows;
    rows.reserve(SECOND_ROW_COUNT);
    AddSecondAndMinuteHead(rows);
    AddBlank(rows);
    for (const char *pName : {"U0", "U1", "U2"})
        AddRow(rows, QLatin1String(pName));
    AddBlank(rows);
    AddRow(rows, QStringLiteral("F"));
    AddRow(rows, QStringLiteral("dF"));
    AddBlank(rows);
    for (const char *pPhase : PHASES)
        AddRow(rows, QStringLiteral("U") + QLatin1String(pPhase));
    return rows;
}

CListRows MinuteListRows()
{
    CListRows rows;
    rows.reserve(MINUTE_ROW_COUNT);
    AddSecondAndMinuteHead(rows);
    AddBlank(rows);
    AddRow(rows, QStringLiteral("dU1"));
    AddBlank(rows);
    AddRow(rows, QStringLiteral("dF"));
    return rows;
}

CListRows DayListRows()
{
    CListRows rows;
    rows.reserve(DAY_ROW_COUNT);
    AddBlank(rows);
    for (const char *pPhase : PHASES)
        AddDeviationBlock(rows, pPhase);
    for (const char *pStat : {" max", " min", " verh", " niz", " T1", " T2"})
        AddRow(rows, QStringLiteral("dF") + QLatin1String(pStat));
    AddBlank(rows);
    for (const char *pPhase : PHASES)
        for (int n = FIRST_HARMONIC; n <= LAST_HARMONIC; ++n)
            AddStatisticsGroup(rows, QStringLiteral("Ku") + QString::number(n) + QLatin1Char(' ')
                                         + QLatin1String(pPhase));
    for (const char *pPhase : PHASES)
        AddStatisticsGroup(rows, QStringLiteral("KU") + QLatin1String(pPhase));
    AddStatisticsGroup(rows, QStringLiteral("K0U"));
    AddStatisticsGroup(rows, QStringLiteral("K2U"));
    AddDurationRuns(rows, "Tprov");
    AddDurationRuns(rows, "Tper");
    AddRow(rows, QStringLiteral("dT Work") + DaySuffix());
    AddRow(rows, QStringLiteral("dT Work") + IntervalSuffix());
    AddBlank(rows);
    AddRow(rows, QStringLiteral("dT Idle") + DaySuffix());
    AddRow(rows, QStringLiteral("dT Idle") + IntervalSuffix());
    return rows;
}
