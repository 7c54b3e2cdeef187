// Typed numbers are read as atoi reads them, and a number too long for an
// int must not wrap round into the device-number range.
#include "link/atoi.h"

#include <climits>
#include <gtest/gtest.h>

TEST(AtoI, ReadsLikeTheCLibrary)
{
    const struct {
        const char *pText;
        int nValue;
    } cases[] = {
        {"", 0},          {"abc", 0},        {"7", 7},           {"007", 7},
        {"12abc", 12},    {"  42", 42},      {"\t+5", 5},        {"-3", -3},
        {"65535", 65535}, {"65536", 65536},  {"1 2", 1},         {"- 1", 0},
        {"99999999999999999999", INT_MAX},   {"-99999999999999999999", INT_MIN},
        {"4294967297", INT_MAX}, // would wrap to 1 in 32 bits
    };
    for (const auto &c : cases)
        EXPECT_EQ(AtoI(QString::fromLatin1(c.pText)), c.nValue) << '"' << c.pText << '"';
}

TEST(AtoI, DeviceNumberRange)
{
    EXPECT_FALSE(IsDeviceNumber(0));
    EXPECT_TRUE(IsDeviceNumber(1));
    EXPECT_TRUE(IsDeviceNumber(65535));
    EXPECT_FALSE(IsDeviceNumber(65536));
    EXPECT_FALSE(IsDeviceNumber(AtoI(QStringLiteral("4294967297"))));
}
