#include "data/catalogue.h"
#include "data/decoders.h"
#include "data/value_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

namespace {

// Switches LC_NUMERIC for one scope and puts the previous one back.
class CNumericLocale {
public:
    explicit CNumericLocale(const char *pName)
        : m_strPrevious(std::setlocale(LC_NUMERIC, nullptr))
    {
        m_bActive = std::setlocale(LC_NUMERIC, pName) != nullptr;
    }
    ~CNumericLocale() { std::setlocale(LC_NUMERIC, m_strPrevious.c_str()); }
    bool IsActive() const { return m_bActive; }

private:
    std::string m_strPrevious;
    bool m_bActive = false;
};

QString PrintfText(double dValue)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%3.2f", dValue);
    return QString::fromLatin1(buf);
}

TEST(ValueText, ScaledValuesRoundAsTheMeterShowsThem)
{
    const struct {
        std::int32_t nRaw;
        const char *pText;
    } milli[] = {
        {15, "0.02"},     {1235, "1.24"}, {-1235, "-1.24"}, {-5, "-0.01"},
        {0, "0.00"},      {230000, "230.00"}, {-1, "-0.00"},  {4, "0.00"},
    };
    for (const auto &c : milli)
        EXPECT_EQ(FormatMilli(c.nRaw), QLatin1String(c.pText)) << "raw " << c.nRaw;

    const struct {
        std::int16_t nRaw;
        const char *pText;
    } centi[] = {
        {-32768, "-327.68"}, {-1, "-0.01"}, {0, "0.00"}, {5, "0.05"}, {32767, "327.67"},
    };
    for (const auto &c : centi)
        EXPECT_EQ(FormatCenti(c.nRaw), QLatin1String(c.pText)) << "raw " << c.nRaw;
}

TEST(ValueText, FiftiethsTruncate)
{
    const struct {
        std::uint32_t nRaw;
        const char *pText;
    } cases[] = {
        {125, "2"}, {49, "0"}, {50, "1"}, {0, "0"}, {0xFFFFFFFFu, "85899345"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(FormatFiftieths(c.nRaw), QLatin1String(c.pText)) << "raw " << c.nRaw;
}

TEST(ValueText, DurationsShowTheFullHourCount)
{
    const struct {
        std::uint32_t nSeconds;
        const char *pText;
    } cases[] = {
        {0, "00:00:00"},          {3661, "01:01:01"},       {86399, "23:59:59"},
        {86400, "24:00:00"},      {360000, "100:00:00"},    {921600, "256:00:00"},
        {921599, "255:59:59"},    {0xFFFFFFFFu, "1193046:28:15"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(FormatDuration(c.nSeconds), QLatin1String(c.pText)) << c.nSeconds << " s";
}

// Every 16-bit value prints as printf would print it, and that is always the
// raw value in hundredths.
TEST(ValueText, CentiMatchesPrintfOverTheWholeRange)
{
    CNumericLocale c("C");
    ASSERT_TRUE(c.IsActive());
    for (int n = std::numeric_limits<std::int16_t>::min();
         n <= std::numeric_limits<std::int16_t>::max(); ++n) {
        const QString strText = FormatCenti(std::int16_t(n));
        ASSERT_EQ(strText, PrintfText(double(n) * double(0.01f))) << "raw " << n;
        const int nAbs = n < 0 ? -n : n;
        const QString strHundredths = QStringLiteral("%1%2.%3")
                                          .arg(n < 0 ? QStringLiteral("-") : QString())
                                          .arg(nAbs / 100)
                                          .arg(nAbs % 100, 2, 10, QLatin1Char('0'));
        ASSERT_EQ(strText, strHundredths) << "raw " << n;
    }
}

TEST(ValueText, MilliMatchesPrintfOverAWideSample)
{
    CNumericLocale c("C");
    ASSERT_TRUE(c.IsActive());
    std::vector<std::int64_t> raws;
    for (std::int64_t n = -300000; n <= 300000; ++n) // every value near the usual range
        raws.push_back(n);
    for (std::int64_t n = std::numeric_limits<std::int32_t>::min();
         n <= std::numeric_limits<std::int32_t>::max(); n += 10007) // across the whole range
        raws.push_back(n);
    raws.push_back(std::numeric_limits<std::int32_t>::max());
    for (std::int64_t n : raws) {
        const std::int32_t nRaw = std::int32_t(n);
        ASSERT_EQ(FormatMilli(nRaw), PrintfText(double(nRaw) * double(0.001f))) << "raw " << nRaw;
    }
}

// The application runs under the user's LC_NUMERIC; a comma locale must not
// turn the decimal point into a comma.
TEST(ValueText, CommaLocaleStillPrintsDots)
{
    CNumericLocale restore(nullptr); // only puts the current one back at the end
    bool bComma = false;
    for (const char *pName : {"ru_RU.UTF-8", "ru_RU.utf8", "ru_RU.CP1251", "ru_RU", "uk_UA.UTF-8",
                              "de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
        if (std::setlocale(LC_NUMERIC, pName) && PrintfText(1.5) == QLatin1String("1,50")) {
            bComma = true;
            break;
        }
    }
    if (!bComma)
        GTEST_SKIP() << "no locale with a decimal comma is installed";

    std::vector<std::uint8_t> data(SECOND_DATA_SIZE);
    data[0] = 1235 & 0xFF; // dUA = 1235
    data[1] = 1235 >> 8;
    CListRows rows = SecondListRows();
    ASSERT_TRUE(DecodeSecond(data.data(), data.size(), rows));
    EXPECT_EQ(rows[1].strValue, QStringLiteral("1.24"));
    EXPECT_EQ(rows[2].strValue, QStringLiteral("0.00"));
    EXPECT_EQ(FormatCenti(-32768), QStringLiteral("-327.68"));
    EXPECT_EQ(FormatMilli(230000), QStringLiteral("230.00"));
}

} // namespace
