// varikd's configuration: what a good file gives, the defaults, every kind of
// problem at its line, and varikd --check-config on real files.
#include "service/service_config.h"

#include "service/mqtt_publisher.h"

#include "test_files.h"

#include <QDir>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>

void PrintTo(const SConfigProblem &problem, std::ostream *pOut)
{
    *pOut << problem.nLine << ": " << problem.strText.toStdString();
}

bool operator==(const SConfigProblem &a, const SConfigProblem &b)
{
    return a.nLine == b.nLine && a.strText == b.strText;
}

namespace {

using TestFiles::PutFile;

SConfigResult Parse(const char *pText)
{
    return ParseServiceConfig(QByteArray(pText), QStringLiteral("test.toml"));
}

TEST(ServiceConfig, GoodFileReadsEveryField)
{
    const SConfigResult result = Parse(R"(site = "ps12"
data_dir = "/srv/varik"
max_backoff = 45

[[line]]
port = "/dev/serial/by-id/usb-FTDI_FT232R-if00-port0"
baud = 115200

  [[line.meter]]
  name = "vvod1"
  device = 12
  feeder = 2
  level = 2
  password = "пароль12"
  second = 0
  minute = 900
  day = "23:59"

[[line]]
port = "/dev/ttyUSB1"
baud = 110
  [[line.meter]]
  name = "ввод 2"
  device = 65535
  feeder = 1
  level = 1
  password = ""
  second = 1
  minute = 0
  day = ""
)");
    ASSERT_TRUE(result.Ok()) << result.problems.front().strText.toStdString();

    SServiceConfig expected;
    expected.strSite = QStringLiteral("ps12");
    expected.strDataDir = QStringLiteral("/srv/varik");
    expected.nMaxBackoffSec = 45;
    expected.lines = {
        {QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R-if00-port0"),
         115200,
         {{QStringLiteral("vvod1"), 12, 2, 2, QStringLiteral("пароль12"), 0, 900, 23 * 60 + 59}}},
        {QStringLiteral("/dev/ttyUSB1"), 110, {{QStringLiteral("ввод 2"), 65535, 1, 1, QString(), 1, 0, -1}}},
    };
    EXPECT_EQ(result.config, expected);
}

TEST(ServiceConfig, DefaultsFillWhatTheFileLeavesOut)
{
    const SConfigResult result = Parse(R"([[line]]
port = "/dev/ttyS0"
  [[line.meter]]
  device = 12
  [[line.meter]]
  device = 12
  feeder = 2
)");
    ASSERT_TRUE(result.Ok()) << result.problems.front().strText.toStdString();

    SServiceConfig expected;
    expected.strSite = QSysInfo::machineHostName();
    expected.lines = {{QStringLiteral("/dev/ttyS0"),
                       9600,
                       {{QStringLiteral("12"), 12, 1, 1, QString(), 10, 60, 5},
                        {QStringLiteral("12-2"), 12, 2, 1, QString(), 10, 60, 5}}}};
    EXPECT_EQ(result.config, expected);
    EXPECT_EQ(result.config.strDataDir, QStringLiteral("/var/lib/varik"));
    EXPECT_EQ(result.config.nMaxBackoffSec, 300);
}

struct SProblemCase {
    const char *pName;
    const char *pText;
    std::vector<SConfigProblem> expected;
};

void PrintTo(const SProblemCase &c, std::ostream *pOut)
{
    *pOut << c.pName;
}

class ServiceConfigProblems : public ::testing::TestWithParam<SProblemCase> {};

TEST_P(ServiceConfigProblems, AreAllFoundAtTheirLines)
{
    const SConfigResult result = Parse(GetParam().pText);
    EXPECT_EQ(result.problems, GetParam().expected);
}

// Every case starts from a good line and meter and breaks what it names.
INSTANTIATE_TEST_SUITE_P(
    Cases, ServiceConfigProblems,
    ::testing::Values(
        SProblemCase{"UnknownKeysAtEveryLevel", R"(sekond = 10
[[line]]
port = "/dev/ttyS0"
speed = 9600
  [[line.meter]]
  device = 1
  sekond = 10
[extra]
)",
                     {{1, QStringLiteral("unknown key \"sekond\"")},
                      {4, QStringLiteral("unknown key \"speed\"")},
                      {7, QStringLiteral("unknown key \"sekond\"")},
                      {8, QStringLiteral("unknown key \"extra\"")}}},
        SProblemCase{"WrongTypes", R"(site = 12
max_backoff = "5"
[[line]]
port = 0
baud = 9600.0
  [[line.meter]]
  name = 7
  device = "12"
  day = 00:05:00
  password = true
)",
                     {{1, QStringLiteral("site must be a string, not an integer")},
                      {2, QStringLiteral("max_backoff must be an integer, not a string")},
                      {4, QStringLiteral("port must be a string, not an integer")},
                      {5, QStringLiteral("baud must be an integer, not a floating-point number")},
                      {7, QStringLiteral("name must be a string, not an integer")},
                      {8, QStringLiteral("device must be an integer, not a string")},
                      {9, QStringLiteral("day must be a string, not a time")},
                      {10, QStringLiteral("password must be a string, not a boolean")}}},
        SProblemCase{"LinesAndMetersThatAreNotArraysOfTables", R"([line]
port = "/dev/ttyS0"
meter = 3
)",
                     {{1, QStringLiteral("line must be tables under [[line]] headers, not a table")}}},
        SProblemCase{"MeterThatIsNotAnArrayOfTables", R"([[line]]
port = "/dev/ttyS0"
meter = [1, 2]
)",
                     {{3, QStringLiteral("meter must be tables under [[line.meter]] headers, not an array")}}},
        SProblemCase{"ValuesOutOfRange", R"(max_backoff = 0
[[line]]
port = "/dev/ttyS0"
baud = 9601
  [[line.meter]]
  device = 0
  feeder = 3
  level = 0
  second = -1
  minute = 86401
  [[line.meter]]
  device = 65536
)",
                     {{1, QStringLiteral("max_backoff must be 1 to 86400, not 0")},
                      {4, QStringLiteral("baud must be one of 110, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, "
                                         "57600, 115200, not 9601")},
                      {6, QStringLiteral("device must be 1 to 65535, not 0")},
                      {7, QStringLiteral("feeder must be 1 to 2, not 3")},
                      {8, QStringLiteral("level must be 1 to 2, not 0")},
                      {9, QStringLiteral("second must be 0 to 86400, not -1")},
                      {10, QStringLiteral("minute must be 0 to 86400, not 86401")},
                      {12, QStringLiteral("device must be 1 to 65535, not 65536")}}},
        SProblemCase{"BaudThatOnlyMatchesInItsLow32Bits", R"([[line]]
port = "/dev/ttyS0"
baud = 4294976896
  [[line.meter]]
  device = 1
)",
                     {{3, QStringLiteral("baud must be one of 110, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, "
                                         "57600, 115200, not 4294976896")}}},
        SProblemCase{"DaysThatAreNotATimeOfDay", R"([[line]]
port = "/dev/ttyS0"
  [[line.meter]]
  device = 1
  day = "24:00"
  [[line.meter]]
  device = 2
  day = "7:05"
  [[line.meter]]
  device = 3
  day = "12:60"
  [[line.meter]]
  device = 4
  day = "12-30"
)",
                     {{5, QStringLiteral("day must be \"HH:MM\" from 00:00 to 23:59 or \"\", not \"24:00\"")},
                      {8, QStringLiteral("day must be \"HH:MM\" from 00:00 to 23:59 or \"\", not \"7:05\"")},
                      {11, QStringLiteral("day must be \"HH:MM\" from 00:00 to 23:59 or \"\", not \"12:60\"")},
                      {14, QStringLiteral("day must be \"HH:MM\" from 00:00 to 23:59 or \"\", not \"12-30\"")}}},
        SProblemCase{"MissingPortAndDevice", R"([[line]]
baud = 9600
  [[line.meter]]
  name = "vvod1"
)",
                     {{1, QStringLiteral("line has no port")}, {3, QStringLiteral("meter has no device")}}},
        SProblemCase{"EmptyValuesThatNameSomething", R"(site = ""
data_dir = ""
[[line]]
port = ""
  [[line.meter]]
  device = 1
)",
                     {{1, QStringLiteral("site must not be empty")},
                      {2, QStringLiteral("data_dir must not be empty")},
                      {4, QStringLiteral("port must not be empty")}}},
        SProblemCase{"PasswordsTheMeterCannotTake", R"([[line]]
port = "/dev/ttyS0"
  [[line.meter]]
  device = 1
  password = "123456789"
  [[line.meter]]
  device = 2
  password = "密码"
  [[line.meter]]
  device = 3
  password = "x"
  password_file = "/etc/varik/3.pw"
)",
                     {{5, QStringLiteral("password is longer than 8 characters")},
                      {8, QStringLiteral("password cannot be written in Windows-1251")},
                      {12, QStringLiteral("password and password_file cannot both be given")}}},
        SProblemCase{"SamePortOnTwoLines", R"([[line]]
port = "/dev/ttyS0"
  [[line.meter]]
  device = 1
[[line]]
port = "/dev/ttyS0"
  [[line.meter]]
  device = 2
)",
                     {{6, QStringLiteral("port \"/dev/ttyS0\" is used twice (first on line 2)")}}},
        SProblemCase{"SameMeterNameAcrossLinesGivenOrByDefault", R"([[line]]
port = "/dev/ttyS0"
  [[line.meter]]
  name = "vvod1"
  device = 1
  [[line.meter]]
  device = 12
[[line]]
port = "/dev/ttyS1"
  [[line.meter]]
  name = "vvod1"
  device = 2
  [[line.meter]]
  name = "12"
  device = 3
)",
                     {{11, QStringLiteral("meter name \"vvod1\" is used twice (first on line 4)")},
                      {14, QStringLiteral("meter name \"12\" is used twice (first on line 6)")}}},
        SProblemCase{"NamesThatCannotBeFolders", R"([[line]]
port = "/dev/ttyS0"
  [[line.meter]]
  name = ""
  device = 1
  [[line.meter]]
  name = "."
  device = 2
  [[line.meter]]
  name = ".."
  device = 3
  [[line.meter]]
  name = "a/b"
  device = 4
  [[line.meter]]
  name = "a\u0000b"
  device = 5
)",
                     {{4, QStringLiteral("meter name \"\" cannot be a folder name")},
                      {7, QStringLiteral("meter name \".\" cannot be a folder name")},
                      {10, QStringLiteral("meter name \"..\" cannot be a folder name")},
                      {13, QStringLiteral("meter name \"a/b\" cannot be a folder name")},
                      {16, QStringLiteral("meter name \"a\\u0000b\" cannot be a folder name")}}},
        SProblemCase{"MeterThatReadsNothing", R"([[line]]
port = "/dev/ttyS0"
  [[line.meter]]
  device = 1
  second = 0
  minute = 0
  day = ""
)",
                     {{3, QStringLiteral("meter reads nothing: second and minute are 0 and day is \"\"")}}},
        SProblemCase{"LineWithNoMeter", R"([[line]]
port = "/dev/ttyS0"

[[line]]
port = "/dev/ttyS1"
  [[line.meter]]
  device = 1
)",
                     {{1, QStringLiteral("line has no [[line.meter]]")}}},
        SProblemCase{"SeveralProblemsInFileOrder", R"(site = "ps12"
[[line]]
port = "/dev/ttyS0"
baud = 9601
  [[line.meter]]
  name = "vvod1"
  device = 0
  second = -5
[[line]]
port = "/dev/ttyS0"
  [[line.meter]]
  name = "vvod1"
  device = 3
  colour = "red"
)",
                     {{4, QStringLiteral("baud must be one of 110, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, "
                                         "57600, 115200, not 9601")},
                      {7, QStringLiteral("device must be 1 to 65535, not 0")},
                      {8, QStringLiteral("second must be 0 to 86400, not -5")},
                      {10, QStringLiteral("port \"/dev/ttyS0\" is used twice (first on line 3)")},
                      {12, QStringLiteral("meter name \"vvod1\" is used twice (first on line 6)")},
                      {14, QStringLiteral("unknown key \"colour\"")}}},
        SProblemCase{"NamesBeginningWithADotAreTheServicesOwn", R"([[line]]
port = "/dev/ttyS0"
  [[line.meter]]
  name = ".outbox"
  device = 1
  [[line.meter]]
  name = ".x"
  device = 2
  [[line.meter]]
  name = "x."
  device = 3
)",
                     {{4, QStringLiteral("meter name \".outbox\" must not begin with \".\"")},
                      {7, QStringLiteral("meter name \".x\" must not begin with \".\"")}}},
        SProblemCase{"MqttKeysOfTheWrongTypeOrRangeOrUnknown", R"([[line]]
port = "/dev/ttyS0"
  [[line.meter]]
  device = 1
[mqtt]
url = 1883
topic = 5
qos = 3
username = ""
password = "s3cret"
outbox_max_mb = 0
ca_file = ""
retain = true
)",
                     {{6, QStringLiteral("url must be a string, not an integer")},
                      {7, QStringLiteral("topic must be a string, not an integer")},
                      {8, QStringLiteral("qos must be 0 to 2, not 3")},
                      {9, QStringLiteral("username must not be empty")},
                      {10, QStringLiteral("password is not taken in [mqtt]: put it in a file of its own and give "
                                          "password_file")},
                      {11, QStringLiteral("outbox_max_mb must be 1 to 1048576, not 0")},
                      {12, QStringLiteral("ca_file must not be empty")},
                      {13, QStringLiteral("unknown key \"retain\"")}}},
        SProblemCase{"MqttWithNoUrl", R"(site = "ps12"
[mqtt]
qos = 0
outbox_max_mb = 1048577
)",
                     {{2, QStringLiteral("mqtt has no url")},
                      {4, QStringLiteral("outbox_max_mb must be 1 to 1048576, not 1048577")}}},
        SProblemCase{"MqttThatIsNotATable", R"(mqtt = "tcp://localhost"
)",
                     {{1, QStringLiteral("mqtt must be a table under an [mqtt] header, not a string")}}},
        SProblemCase{"MqttUnderADoubleHeader", R"([[mqtt]]
url = "tcp://localhost"
)",
                     {{1, QStringLiteral("mqtt must be a table under an [mqtt] header, not an array")}}},
        // [mqtt] comes first here: the names of the meters after it are checked too.
        SProblemCase{"MeterNamesThatCannotBeTopicLevelsWhenPublishing", R"([mqtt]
url = "tcp://localhost"
[[line]]
port = "/dev/ttyS0"
  [[line.meter]]
  name = "a+b"
  device = 1
  [[line.meter]]
  name = "#"
  device = 2
  [[line.meter]]
  name = "a-b"
  device = 3
)",
                     {{6, QStringLiteral("meter name \"a+b\" cannot be a topic level: it holds + or #")},
                      {9, QStringLiteral("meter name \"#\" cannot be a topic level: it holds + or #")}}},
        SProblemCase{"DefaultTopicMadeOfASiteThatCannotBeOne", R"(site = "ps+12"
[[line]]
port = "/dev/ttyS0"
  [[line.meter]]
  device = 1
[mqtt]
url = "tcp://localhost"
)",
                     {{6, QStringLiteral("the default topic \"varik/ps+12\" (from site) must not hold the "
                                         "wildcards + or #")}}},
        SProblemCase{"TlsFilesWithAPlainUrlAndCertificateWithoutKey", R"([mqtt]
url = "mqtt://localhost"
ca_file = "/nonexistent/ca.pem"
cert_file = "/nonexistent/cert.pem"
)",
                     {{3, QStringLiteral("cannot read ca_file \"/nonexistent/ca.pem\": No such file or directory")},
                      {3, QStringLiteral("ca_file needs an ssl:// or mqtts:// url")},
                      {4, QStringLiteral("cannot read cert_file \"/nonexistent/cert.pem\": No such file or "
                                         "directory")},
                      {4, QStringLiteral("cert_file needs key_file")},
                      {4, QStringLiteral("cert_file needs an ssl:// or mqtts:// url")}}},
        SProblemCase{"KeyWithoutCertificateAndPasswordWithoutUser", R"([mqtt]
url = "ssl://localhost"
key_file = "/nonexistent/key.pem"
password_file = "/nonexistent/mqtt.pw"
)",
                     {{3, QStringLiteral("cannot read key_file \"/nonexistent/key.pem\": No such file or directory")},
                      {3, QStringLiteral("key_file needs cert_file")},
                      {4, QStringLiteral("cannot read password_file \"/nonexistent/mqtt.pw\": No such file or "
                                         "directory")},
                      {4, QStringLiteral("password_file needs a username")}}},
        SProblemCase{"TomlSyntaxError", R"(site = "ps12"
[[line]]
port = "/dev/ttyS0
)",
                     {{3, QStringLiteral("Error while parsing string: unescaped control characters other than "
                                         "TAB (U+0009) are explicitly prohibited")}}},
        SProblemCase{"KeyGivenTwice", R"([[line]]
port = "/dev/ttyS0"
  [[line.meter]]
  device = 1
  device = 2
)",
                     {{5, QStringLiteral("Error while parsing key-value pair: cannot redefine existing integer "
                                         "'device'")}}}),
    [](const ::testing::TestParamInfo<SProblemCase> &info) { return std::string(info.param.pName); });

// Each url alone in [mqtt]: the url Paho is given, or the one problem.
TEST(ServiceConfigMqtt, UrlForms)
{
    const struct {
        const char *pUrl;
        const char *pPaho;    // nullptr: refused
        const char *pProblem; // nullptr: taken
    } cases[] = {
        {"tcp://localhost:1883", "tcp://localhost:1883", nullptr},
        {"tcp://localhost", "tcp://localhost:1883", nullptr},
        {"mqtt://localhost", "tcp://localhost:1883", nullptr},
        {"mqtt://127.0.0.1:11883", "tcp://127.0.0.1:11883", nullptr},
        {"ssl://localhost", "ssl://localhost:8883", nullptr},
        {"mqtts://localhost", "ssl://localhost:8883", nullptr},
        {"mqtts://localhost:443", "ssl://localhost:443", nullptr},
        {"tcp://[::1]", "tcp://[::1]:1883", nullptr},
        {"mqtts://[::1]:8884", "ssl://[::1]:8884", nullptr},
        {"tcp://localhost:01883", "tcp://localhost:1883", nullptr},
        {"localhost:1883", nullptr, "url must begin with tcp://, mqtt://, ssl:// or mqtts://, not \"localhost:1883\""},
        {"ws://localhost", nullptr, "url must begin with tcp://, mqtt://, ssl:// or mqtts://, not \"ws://localhost\""},
        {"TCP://localhost", nullptr, "url must begin with tcp://, mqtt://, ssl:// or mqtts://, not \"TCP://localhost\""},
        {"", nullptr, "url must begin with tcp://, mqtt://, ssl:// or mqtts://, not \"\""},
        {"tcp://", nullptr, "url must be tcp://host or tcp://host:port, not \"tcp://\""},
        {"tcp://:1883", nullptr, "url must be tcp://host or tcp://host:port, not \"tcp://:1883\""},
        {"tcp://user@localhost", nullptr, "url must be tcp://host or tcp://host:port, not \"tcp://user@localhost\""},
        {"mqtt://localhost/varik", nullptr, "url must be mqtt://host or mqtt://host:port, not \"mqtt://localhost/varik\""},
        {"tcp://local host", nullptr, "url must be tcp://host or tcp://host:port, not \"tcp://local host\""},
        {"tcp://[::1", nullptr, "url must be tcp://host or tcp://host:port, not \"tcp://[::1\""},
        {"tcp://локалхост", nullptr, "url must be tcp://host or tcp://host:port, not \"tcp://локалхост\""},
        {"tcp://localhost:", nullptr, "url port must be 1 to 65535, not \"\""},
        {"tcp://localhost:0", nullptr, "url port must be 1 to 65535, not \"0\""},
        {"tcp://localhost:65536", nullptr, "url port must be 1 to 65535, not \"65536\""},
        {"tcp://localhost:1883/", nullptr, "url port must be 1 to 65535, not \"1883/\""},
        {"tcp://localhost:-1", nullptr, "url port must be 1 to 65535, not \"-1\""},
        {"tcp://[::1]:x", nullptr, "url port must be 1 to 65535, not \"x\""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pUrl);
        const SConfigResult result = ParseServiceConfig(
            "site = \"ps12\"\n[mqtt]\nurl = \"" + QByteArray(c.pUrl) + "\"\n", QStringLiteral("test.toml"));
        if (c.pPaho) {
            ASSERT_TRUE(result.Ok()) << result.problems.front().strText.toStdString();
            EXPECT_EQ(result.config.mqtt.strUrl, QString::fromUtf8(c.pPaho));
        } else {
            EXPECT_EQ(result.problems, (std::vector<SConfigProblem>{{3, QString::fromUtf8(c.pProblem)}}));
        }
    }
}

// Each topic alone in [mqtt]: taken as given, or the one problem.
TEST(ServiceConfigMqtt, TopicsAreNamesToPublishTo)
{
    const struct {
        const char *pTopic;
        const char *pProblem; // nullptr: taken
    } cases[] = {
        {"varik", nullptr},
        {"site/ps12/varik", nullptr},
        {"подстанция 12", nullptr},
        {"", "topic must not be empty"},
        {"varik/+", "topic \"varik/+\" must not hold the wildcards + or #"},
        {"varik/#", "topic \"varik/#\" must not hold the wildcards + or #"},
        {"a#b", "topic \"a#b\" must not hold the wildcards + or #"},
        {"$SYS/varik", "topic \"$SYS/varik\" must not begin with \"$\", which brokers keep for themselves"},
        {"/varik", "topic \"/varik\" must not begin or end with \"/\""},
        {"varik/", "topic \"varik/\" must not begin or end with \"/\""},
        {"/", "topic \"/\" must not begin or end with \"/\""},
        {"varik//ps12", "topic \"varik//ps12\" must not have an empty level \"//\""},
        {"varik\\u0000", "topic \"varik\\u0000\" must not hold control characters"},
        {"var\\tik", "topic \"var\\u0009ik\" must not hold control characters"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pTopic);
        const SConfigResult result = ParseServiceConfig(
            "[mqtt]\nurl = \"tcp://localhost\"\ntopic = \"" + QByteArray(c.pTopic) + "\"\n", QStringLiteral("t.toml"));
        if (!c.pProblem) {
            ASSERT_TRUE(result.Ok()) << result.problems.front().strText.toStdString();
            EXPECT_EQ(result.config.mqtt.strTopic, QString::fromUtf8(c.pTopic));
        } else {
            EXPECT_EQ(result.problems, (std::vector<SConfigProblem>{{3, QString::fromUtf8(c.pProblem)}}));
        }
    }
}

// Each text a broker refuses, as a meter name, the site, the topic and the
// client id: one problem at its line, which shows the character. The site
// comes with an [mqtt] table: its default topic is not refused once more.
TEST(ServiceConfigMqtt, NamesAndTopicsHoldNoCharacterABrokerRefuses)
{
    const struct {
        const char *pKey;
        const char *pFile; // %1: the value
        int nLine;
        const char *pWhat;
    } keys[] = {
        {"name", "[[line]]\nport = \"/dev/ttyS0\"\n  [[line.meter]]\n  device = 1\n  name = \"%1\"\n", 5,
         "meter name"},
        {"site", "site = \"%1\"\n[mqtt]\nurl = \"tcp://localhost\"\n", 1, "site"},
        {"topic", "[mqtt]\nurl = \"tcp://localhost\"\ntopic = \"%1\"\n", 3, "topic"},
        {"client_id", "[mqtt]\nurl = \"tcp://localhost\"\nclient_id = \"%1\"\n", 3, "client_id"},
    };
    const struct {
        const char *pValue;  // as the TOML file writes it
        const char *pShown;  // as the problem quotes it
        const char *pFault;  // nullptr: taken
    } values[] = {
        {"a\\tb", "a\\u0009b", "must not hold control characters"},
        {"a\\u001bb", "a\\u001bb", "must not hold control characters"},
        {"a\\u007fb", "a\\u007fb", "must not hold control characters"},
        {"a\\u0080b", "a\\u0080b", "must not hold control characters"},
        {"a\\u0085b", "a\\u0085b", "must not hold control characters"},
        {"a\\u009fb", "a\\u009fb", "must not hold control characters"},
        {"a\\ufffeb", "a\\ufffeb", "must not hold the non-character U+FFFE"},
        {"a\\uffffb", "a\\uffffb", "must not hold the non-character U+FFFF"},
        {"a\\ufdd0b", "a\\ufdd0b", "must not hold the non-character U+FDD0"},
        {"a\\ufdefb", "a\\ufdefb", "must not hold the non-character U+FDEF"},
        {"a\\U0001fffeb", "a\\U0001fffeb", "must not hold the non-character U+1FFFE"},
        {"a\\U0010ffffb", "a\\U0010ffffb", "must not hold the non-character U+10FFFF"},
        {"a\\u00a0b", nullptr, nullptr},     // the first after C1
        {"a\\ufdcfb", nullptr, nullptr},     // beside the non-characters
        {"a\\ufdf0b", nullptr, nullptr},
        {"a\\ufffdb", nullptr, nullptr},     // the replacement character is one
        {"a\\U0001fffdb", nullptr, nullptr},
        {"ПС-1 ввод", nullptr, nullptr},
    };
    for (const auto &key : keys) {
        for (const auto &value : values) {
            SCOPED_TRACE(std::string(key.pKey) + " = " + value.pValue);
            const SConfigResult result =
                ParseServiceConfig(QString::fromUtf8(key.pFile).arg(QString::fromUtf8(value.pValue)).toUtf8(),
                                   QStringLiteral("t.toml"));
            if (!value.pFault) {
                EXPECT_TRUE(result.Ok()) << result.problems.front().strText.toStdString();
                continue;
            }
            const QString strProblem = QStringLiteral("%1 \"%2\" %3")
                                           .arg(QString::fromUtf8(key.pWhat), QString::fromUtf8(value.pShown),
                                                QString::fromUtf8(value.pFault));
            EXPECT_EQ(result.problems, (std::vector<SConfigProblem>{{key.nLine, strProblem}}));
        }
    }
}

// TOML itself keeps out what is no character at all: a surrogate, escaped or
// as bytes, never reaches a name or topic.
TEST(ServiceConfigMqtt, SurrogatesNeverReachATopic)
{
    for (const QByteArray &topic : {QByteArray("a\\ud800b"), QByteArray("a\xed\xa0\x80") + "b"}) {
        const SConfigResult result =
            ParseServiceConfig("[mqtt]\nurl = \"tcp://localhost\"\ntopic = \"" + topic + "\"\n", QStringLiteral("t"));
        ASSERT_EQ(result.problems.size(), 1u);
        EXPECT_EQ(result.problems[0].nLine, 3);
    }
}

// MQTT sends a topic as at most 65 535 bytes (UTF-8): the prefix with the
// longest that is published under it, "/<meter>/second" or "/status".
TEST(ServiceConfigMqtt, TopicsFitMqttWithWhatIsAppended)
{
    const QByteArray kMeter = "[[line]]\nport = \"/dev/ttyS0\"\n  [[line.meter]]\n  device = 1\n  name = \"m1\"\n";
    const struct {
        const char *pName;
        QByteArray file;
        const char *pProblem; // nullptr: taken
        int nLine;
    } cases[] = {
        {"the longest without meters", "[mqtt]\nurl = \"tcp://localhost\"\ntopic = \"" + QByteArray(65528, 't') + "\"\n",
         nullptr, 0},
        {"a byte longer", "[mqtt]\nurl = \"tcp://localhost\"\ntopic = \"" + QByteArray(65529, 't') + "\"\n",
         "topic is too long: with \"/status\" after it a topic is 65536 bytes, more than the 65535 of MQTT", 3},
        {"the longest with meter m1",
         "[mqtt]\nurl = \"tcp://localhost\"\ntopic = \"" + QByteArray(65525, 't') + "\"\n" + kMeter, nullptr, 0},
        {"a byte longer with meter m1",
         "[mqtt]\nurl = \"tcp://localhost\"\ntopic = \"" + QByteArray(65526, 't') + "\"\n" + kMeter,
         "topic is too long: with \"/m1/second\" after it a topic is 65536 bytes, more than the 65535 of MQTT", 3},
        {"bytes, not characters",
         "[mqtt]\nurl = \"tcp://localhost\"\ntopic = \"" + QString(32765, QChar(0x44F)).toUtf8() + "\"\n",
         "topic is too long: with \"/status\" after it a topic is 65537 bytes, more than the 65535 of MQTT", 3},
        {"the longest site", "site = \"" + QByteArray(65522, 's') + "\"\n[mqtt]\nurl = \"tcp://localhost\"\n", nullptr,
         0},
        {"a site a byte longer", "site = \"" + QByteArray(65523, 's') + "\"\n[mqtt]\nurl = \"tcp://localhost\"\n",
         "the default topic (from site) is too long: with \"/status\" after it a topic is 65536 bytes, more than the "
         "65535 of MQTT",
         2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        const SConfigResult result = ParseServiceConfig(c.file, QStringLiteral("t.toml"));
        if (!c.pProblem)
            EXPECT_TRUE(result.Ok()) << result.problems.front().strText.toStdString();
        else
            EXPECT_EQ(result.problems, (std::vector<SConfigProblem>{{c.nLine, QString::fromUtf8(c.pProblem)}}));
    }
}

// Two sites whose topics differ must never share a client id, or the broker
// throws each off when the other connects and publishes its last will.
TEST(ServiceConfigMqtt, DistinctTopicsGetDistinctClientIds)
{
    const QString kLong = QStringLiteral("varik/") + QString(200, QLatin1Char('a'));
    const std::pair<QString, QString> pairs[] = {
        {QStringLiteral("varik/ПС-1"), QStringLiteral("varik/ТП-1")},
        {QStringLiteral("varik/a.b"), QStringLiteral("varik/a-b")},
        {QStringLiteral("varik/a/b"), QStringLiteral("varik/a-b")},
        {QStringLiteral("varik/a b"), QStringLiteral("varik/a-b")},
        {QStringLiteral("varik/a-b"), QStringLiteral("varik-a/b")},
        {QStringLiteral("varik/ps12"), QStringLiteral("varik/PS12")},
        {QStringLiteral("varik/ps12"), QStringLiteral("varik/ps12/")},
        {QStringLiteral("varik/\U0001F600"), QStringLiteral("varik/\U0001F601")},
        {kLong + QLatin1Char('1'), kLong + QLatin1Char('2')}, // past the readable part
    };
    const auto idOf = [](const QString &strTopic) {
        SMqttConfig mqtt;
        mqtt.strTopic = strTopic;
        return CMqttPublisher::ClientId(mqtt);
    };
    for (const auto &[strA, strB] : pairs) {
        SCOPED_TRACE((strA + QStringLiteral(" and ") + strB).toStdString());
        EXPECT_NE(idOf(strA), idOf(strB));
        EXPECT_EQ(idOf(strA), idOf(strA));
    }
    // The same on every run and every machine: a broker's rules may name it.
    EXPECT_EQ(idOf(QStringLiteral("varik/ps12")), QStringLiteral("varikd-varik-ps12-06ec5395"));
    EXPECT_EQ(idOf(QStringLiteral("varik/ПС-1")), QStringLiteral("varikd-varik----1-fb90c2a5"));
    EXPECT_EQ(idOf(kLong).size(), 7 + 64 + 9);
}

// client_id pins the id; the description shows the id either way.
TEST(ServiceConfigMqtt, ClientIdGivenOrDerived)
{
    const SConfigResult given = Parse(R"(site = "ps12"
[mqtt]
url = "tcp://localhost"
client_id = "ps12 reader"
)");
    ASSERT_TRUE(given.Ok()) << given.problems.front().strText.toStdString();
    EXPECT_EQ(given.config.mqtt.strClientId, QStringLiteral("ps12 reader"));
    EXPECT_EQ(CMqttPublisher::ClientId(given.config.mqtt), QStringLiteral("ps12 reader"));
    EXPECT_EQ(DescribeConfig(given.config).at(1), QStringLiteral("mqtt tcp://localhost:1883, topic varik/ps12, client "
                                                                 "id \"ps12 reader\", qos 1, outbox up to 256 MiB"));

    const QByteArray kMqtt = "[mqtt]\nurl = \"tcp://localhost\"\nclient_id = ";
    EXPECT_EQ(Parse(kMqtt + "\"\"\n").problems,
              (std::vector<SConfigProblem>{{3, QStringLiteral("client_id must not be empty")}}));
    EXPECT_EQ(ParseServiceConfig(kMqtt + '"' + QByteArray(65536, 'c') + "\"\n", QStringLiteral("test.toml")).problems,
              (std::vector<SConfigProblem>{{3, QStringLiteral("client_id is longer than 65535 bytes")}}));
    EXPECT_TRUE(ParseServiceConfig(kMqtt + '"' + QByteArray(65535, 'c') + "\"\n", QStringLiteral("test.toml")).Ok());
    EXPECT_EQ(Parse(kMqtt + "12\n").problems,
              (std::vector<SConfigProblem>{{3, QStringLiteral("client_id must be a string, not an integer")}}));
}

TEST(ServiceConfigMqtt, DefaultsAndTheDescription)
{
    const SConfigResult result = Parse(R"(site = "ps12"
[mqtt]
url = "tcp://localhost"
)");
    ASSERT_TRUE(result.Ok()) << result.problems.front().strText.toStdString();
    SMqttConfig expected;
    expected.bEnabled = true;
    expected.strUrl = QStringLiteral("tcp://localhost:1883");
    expected.strTopic = QStringLiteral("varik/ps12");
    EXPECT_EQ(result.config.mqtt, expected);
    EXPECT_EQ(result.config.mqtt.nQos, 1);
    EXPECT_EQ(result.config.mqtt.nOutboxMaxBytes, 256LL * 1024 * 1024);
    EXPECT_EQ(DescribeConfig(result.config).at(1),
              QStringLiteral("mqtt tcp://localhost:1883, topic varik/ps12, client id \"varikd-varik-ps12-06ec5395\", "
                             "qos 1, outbox up to 256 MiB"));

    // With no site the host name makes the topic.
    const SConfigResult noSite = Parse("[mqtt]\nurl = \"tcp://localhost\"\n");
    ASSERT_TRUE(noSite.Ok()) << noSite.problems.front().strText.toStdString();
    EXPECT_EQ(noSite.config.mqtt.strTopic, QStringLiteral("varik/") + QSysInfo::machineHostName());

    // Without [mqtt] nothing is published, and names that are no topic level are fine.
    const SConfigResult none = Parse(R"([[line]]
port = "/dev/ttyS0"
  [[line.meter]]
  name = "a+b"
  device = 1
)");
    ASSERT_TRUE(none.Ok()) << none.problems.front().strText.toStdString();
    EXPECT_EQ(none.config.mqtt, SMqttConfig());
    EXPECT_FALSE(none.config.mqtt.bEnabled);
    EXPECT_EQ(DescribeConfig(none.config).at(1), QStringLiteral("mqtt: none"));
}

class ServiceConfigFiles : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString Path(const QString &strName) const { return m_dir.filePath(strName); }

    // A file of one line with one meter, whose further keys are meter.
    QString WriteConfig(const QByteArray &meter)
    {
        const QString strPath = Path(QStringLiteral("varikd.toml"));
        EXPECT_TRUE(PutFile(strPath, "[[line]]\nport = \"/dev/ttyS0\"\n  [[line.meter]]\n  device = 1\n" + meter));
        return strPath;
    }

    QTemporaryDir m_dir;
};

TEST_F(ServiceConfigFiles, PasswordFileGivesItsFirstLineFoundBesideTheConfiguration)
{
    ASSERT_TRUE(PutFile(Path(QStringLiteral("abs.pw")), "пароль\nsecond line\n"));
    ASSERT_TRUE(PutFile(Path(QStringLiteral("rel.pw")), "2222\r\n"));
    ASSERT_TRUE(PutFile(Path(QStringLiteral("bare.pw")), "1111"));
    const QString strPath = Path(QStringLiteral("varikd.toml"));
    ASSERT_TRUE(PutFile(strPath, "[[line]]\nport = \"/dev/ttyS0\"\n"
                                 "  [[line.meter]]\n  device = 1\n  password_file = \""
                                     + Path(QStringLiteral("abs.pw")).toUtf8()
                                     + "\"\n"
                                       "  [[line.meter]]\n  device = 2\n  password_file = \"rel.pw\"\n"
                                       "  [[line.meter]]\n  device = 3\n  password_file = \"bare.pw\"\n"));

    const SConfigResult result = ReadServiceConfig(strPath);
    ASSERT_TRUE(result.Ok()) << result.problems.front().strText.toStdString();
    const std::vector<SMeterConfig> &meters = result.config.lines.at(0).meters;
    ASSERT_EQ(meters.size(), 3u);
    EXPECT_EQ(meters[0].strPassword, QStringLiteral("пароль"));
    EXPECT_EQ(meters[1].strPassword, QStringLiteral("2222"));
    EXPECT_EQ(meters[2].strPassword, QStringLiteral("1111"));
}

TEST_F(ServiceConfigFiles, PasswordFileThatCannotBeReadOrHoldsTooLongAPassword)
{
    ASSERT_TRUE(PutFile(Path(QStringLiteral("long.pw")), "123456789\n"));
    const SConfigResult missing = ReadServiceConfig(WriteConfig("  password_file = \"missing.pw\"\n"));
    EXPECT_EQ(missing.problems,
              (std::vector<SConfigProblem>{
                  {5, QStringLiteral("cannot read password_file \"missing.pw\": No such file or directory")}}));

    const SConfigResult tooLong = ReadServiceConfig(WriteConfig("  password_file = \"long.pw\"\n"));
    EXPECT_EQ(tooLong.problems, (std::vector<SConfigProblem>{
                                    {5, QStringLiteral("password in \"long.pw\" is longer than 8 characters")}}));
}

// Every key given: the files found beside the configuration and kept as
// absolute paths, the password read and never described.
TEST_F(ServiceConfigFiles, FullMqttTable)
{
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("tls")));
    for (const char *pName : {"tls/ca.pem", "tls/client.pem", "tls/client.key"})
        ASSERT_TRUE(PutFile(Path(QString::fromLatin1(pName)), "-----BEGIN-----\n"));
    ASSERT_TRUE(PutFile(Path(QStringLiteral("mqtt.pw")), "s3cret пароль\r\nsecond line\n"));
    const QString strPath = Path(QStringLiteral("varikd.toml"));
    ASSERT_TRUE(PutFile(strPath, R"(site = "ps12"
[mqtt]
url = "mqtts://localhost"
topic = "energy/ps12"
qos = 2
username = "varik"
password_file = "mqtt.pw"
ca_file = "tls/ca.pem"
cert_file = "tls/../tls/client.pem"
key_file = ")" + Path(QStringLiteral("tls/client.key")).toUtf8()
                                     + R"("
outbox_max_mb = 1024
)"));
    const SConfigResult result = ReadServiceConfig(strPath);
    ASSERT_TRUE(result.Ok()) << result.problems.front().strText.toStdString();

    SMqttConfig expected;
    expected.bEnabled = true;
    expected.strUrl = QStringLiteral("ssl://localhost:8883");
    expected.strTopic = QStringLiteral("energy/ps12");
    expected.nQos = 2;
    expected.strUsername = QStringLiteral("varik");
    expected.strPassword = QStringLiteral("s3cret пароль");
    expected.strCaFile = Path(QStringLiteral("tls/ca.pem"));
    expected.strCertFile = Path(QStringLiteral("tls/client.pem"));
    expected.strKeyFile = Path(QStringLiteral("tls/client.key"));
    expected.nOutboxMaxBytes = 1024LL * 1024 * 1024;
    EXPECT_EQ(result.config.mqtt, expected);

    const QStringList description = DescribeConfig(result.config);
    EXPECT_EQ(description.at(1), QStringLiteral("mqtt ssl://localhost:8883, topic energy/ps12, client id "
                                                "\"varikd-energy-ps12-31e9f074\", qos 2, "
                                                "user \"varik\", CA %1, certificate %2, outbox up to 1024 MiB")
                                     .arg(expected.strCaFile, expected.strCertFile));
    EXPECT_FALSE(description.join(QLatin1Char('\n')).contains(QStringLiteral("s3cret")));
}

TEST_F(ServiceConfigFiles, MqttPasswordFileThatTheBrokerCannotTake)
{
    ASSERT_TRUE(PutFile(Path(QStringLiteral("long.pw")), QByteArray(65536, 'x') + '\n'));
    ASSERT_TRUE(PutFile(Path(QStringLiteral("longest.pw")), QByteArray(65535, 'x') + '\n'));
    ASSERT_TRUE(PutFile(Path(QStringLiteral("latin1.pw")), "pass\xe9\n"));
    const auto problems = [&](const char *pFile) {
        const QString strPath = Path(QStringLiteral("varikd.toml"));
        EXPECT_TRUE(PutFile(strPath, "[mqtt]\nurl = \"tcp://localhost\"\nusername = \"u\"\npassword_file = \""
                                         + QByteArray(pFile) + "\"\n"));
        return ReadServiceConfig(strPath).problems;
    };
    EXPECT_EQ(problems("long.pw"), (std::vector<SConfigProblem>{
                                       {4, QStringLiteral("password in \"long.pw\" is longer than 65535 bytes")}}));
    EXPECT_EQ(problems("longest.pw"), std::vector<SConfigProblem>{});
    EXPECT_EQ(problems("latin1.pw"),
              (std::vector<SConfigProblem>{{4, QStringLiteral("password in \"latin1.pw\" is not UTF-8 text")}}));
}

TEST_F(ServiceConfigFiles, UnreadableFileIsOneProblemWithNoLine)
{
    const SConfigResult result = ReadServiceConfig(Path(QStringLiteral("absent.toml")));
    EXPECT_EQ(result.problems,
              (std::vector<SConfigProblem>{{0, QStringLiteral("cannot read the file: No such file or directory")}}));
}

TEST(ServiceConfig, ProblemLinesNameTheFileAndLine)
{
    EXPECT_EQ(ProblemLines(QStringLiteral("/etc/varik/varikd.toml"),
                           {{0, QStringLiteral("cannot read the file: Permission denied")}, {7, QStringLiteral("unknown key \"x\"")}}),
              (QStringList{QStringLiteral("/etc/varik/varikd.toml: cannot read the file: Permission denied"),
                           QStringLiteral("/etc/varik/varikd.toml:7: unknown key \"x\"")}));
}

const char *const kGoodFile = R"(site = "ps12"
data_dir = "/srv/varik"
[[line]]
port = "/dev/ttyUSB0"
baud = 19200
  [[line.meter]]
  name = "vvod1"
  device = 12
  password = "s3cret"
  [[line.meter]]
  device = 12
  feeder = 2
  level = 2
  second = 0
  day = ""
[[line]]
port = "/dev/ttyUSB1"
  [[line.meter]]
  device = 3
  minute = 0
  day = "23:30"
)";

const char *const kGoodDescription = "site \"ps12\", data in /srv/varik, back-off up to 300 s\n"
                                     "mqtt: none\n"
                                     "line /dev/ttyUSB0 at 19200 baud: 2 meters\n"
                                     "  vvod1: device 12, feeder 1, level 1; second every 10 s, minute every 60 s, "
                                     "day at 00:05\n"
                                     "  12-2: device 12, feeder 2, level 2; minute every 60 s\n"
                                     "line /dev/ttyUSB1 at 9600 baud: 1 meter\n"
                                     "  3: device 3, feeder 1, level 1; second every 10 s, day at 23:30\n";

TEST(ServiceConfig, AFileWithNoLineIsGoodAndSaysItReadsNothing)
{
    const SConfigResult result = ParseServiceConfig("site = \"ps12\"\n", QStringLiteral("empty.toml"));
    ASSERT_TRUE(result.Ok());
    EXPECT_TRUE(result.config.lines.empty());
    EXPECT_EQ(DescribeConfig(result.config).last(), QStringLiteral("no [[line]]: nothing to read"));
}

TEST(ServiceConfig, DescriptionSaysWhatIsReadAndHidesThePassword)
{
    const SConfigResult result = Parse(kGoodFile);
    ASSERT_TRUE(result.Ok());
    const QString strDescription = DescribeConfig(result.config).join(QLatin1Char('\n')) + QLatin1Char('\n');
    EXPECT_EQ(strDescription, QString::fromUtf8(kGoodDescription));
    EXPECT_FALSE(strDescription.contains(QStringLiteral("s3cret")));
}

TEST_F(ServiceConfigFiles, CheckConfigExitsZeroOnAGoodFileAndTwoOnABadOne)
{
    const auto run = [](const QString &strPath) {
        QProcess p;
        p.start(QStringLiteral(VARIKD_PATH), {QStringLiteral("--check-config"), strPath});
        EXPECT_TRUE(p.waitForFinished(30000));
        return std::tuple{p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
    };
    const QString strGood = Path(QStringLiteral("good.toml"));
    ASSERT_TRUE(PutFile(strGood, kGoodFile));
    const auto [nGoodExit, goodOut, goodErr] = run(strGood);
    EXPECT_EQ(nGoodExit, 0) << goodErr.constData();
    EXPECT_EQ(goodOut, QByteArray(kGoodDescription));
    EXPECT_TRUE(goodErr.isEmpty());

    const QString strBad = Path(QStringLiteral("bad.toml"));
    ASSERT_TRUE(PutFile(strBad, "[[line]]\nport = \"/dev/ttyS0\"\n  [[line.meter]]\n  device = 0\n  level = 3\n"));
    const auto [nBadExit, badOut, badErr] = run(strBad);
    EXPECT_EQ(nBadExit, 2);
    EXPECT_TRUE(badOut.isEmpty());
    EXPECT_EQ(badErr, (strBad + QStringLiteral(":4: device must be 1 to 65535, not 0\n") + strBad
                       + QStringLiteral(":5: level must be 1 to 2, not 3\n"))
                          .toUtf8());
}

} // namespace
