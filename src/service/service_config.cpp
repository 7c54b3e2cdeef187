#include "service/service_config.h"

#include "data/list_file.h"
#include "link/frame.h"
#include "service/credential_copy.h"
#include "service/mqtt_text.h"
#include "service/regular_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSysInfo>

#include <toml++/toml.h>

#include <algorithm>
#include <cstdint>
#include <grp.h>
#include <iterator>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QList<qint64> kBaudRates = {110, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
// Seconds go into millisecond timers; a day bounds them well inside an int.
constexpr int kMaxSeconds = 24 * 60 * 60;
// The longest name one folder may have on the file systems data_dir lives on.
constexpr int kMaxNameBytes = 255;
// The outbox is bounded in MiB; a mebibyte short of a tebibyte is past any
// disk it is meant for and keeps the bytes well inside a qint64.
constexpr int kMaxOutboxMb = 1024 * 1024;
// MQTT carries a password, a topic and a client id as at most 65 535 bytes.
constexpr int kMaxMqttStringBytes = 65535;
// What the longest topic adds to the prefix: "/<meter>/second" (or
// "/minute"), else "/status".
constexpr int kReadingTopicBytes = 8;
constexpr int kStatusTopicBytes = 7;
// The configuration is read whole.
constexpr qint64 kWholeFile = -1;

// The forms of a broker's url, and the scheme and port Paho takes for each.
struct SBrokerScheme {
    const char *pGiven;
    const char *pPaho;
    int nDefaultPort;
};
constexpr SBrokerScheme kBrokerSchemes[] = {
    {"tcp", "tcp", 1883},
    {"mqtt", "tcp", 1883},
    {"ssl", "ssl", 8883},
    {"mqtts", "ssl", 8883},
};

int LineOf(const toml::node &node)
{
    return int(node.source().begin.line);
}

int LineOf(const toml::key &key)
{
    return int(key.source().begin.line);
}

// Names and values as the file wrote them, with control characters (C1
// too) and non-characters made visible, as TOML escapes, so that a stray NUL
// or escape cannot garble a terminal and the character at fault shows.
QString Quoted(const QString &str)
{
    QString strOut = QStringLiteral("\"");
    for (const char32_t c : str.toUcs4()) {
        if (IsControl(c) || IsNonCharacter(c))
            strOut += c > 0xFFFF ? QStringLiteral("\\U%1").arg(uint(c), 8, 16, QLatin1Char('0'))
                                 : QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0'));
        else
            strOut += QString::fromUcs4(&c, 1);
    }
    return strOut + QLatin1Char('"');
}

QString CodePoint(char32_t c)
{
    return QStringLiteral("U+") + QString::number(uint(c), 16).toUpper().rightJustified(4, QLatin1Char('0'));
}

// Why a name or topic cannot be sent, as the end of a sentence; empty when it can.
QString TextFaultText(const STextFault &fault)
{
    switch (fault.eFault) {
    case ETextFault::None: break;
    case ETextFault::Control: return QStringLiteral("must not hold control characters");
    case ETextFault::NonCharacter:
        return QStringLiteral("must not hold the non-character %1").arg(CodePoint(fault.cCodePoint));
    case ETextFault::Surrogate:
        return QStringLiteral("must not hold the lone surrogate %1").arg(CodePoint(fault.cCodePoint));
    }
    return QString();
}

// Who besides its owner may read the file at strPath: "everybody", "group
// <name>", or empty (nobody, or it cannot be looked at).
QString OtherReaders(const QString &strPath, mode_t &nMode)
{
    struct stat st {};
    if (::stat(QFile::encodeName(strPath).constData(), &st) != 0)
        return QString();
    nMode = st.st_mode & 07777;
    if (st.st_mode & S_IROTH)
        return QStringLiteral("everybody");
    if (!(st.st_mode & S_IRGRP))
        return QString();
    group entry {};
    group *pEntry = nullptr;
    char buffer[4096];
    if (::getgrgid_r(st.st_gid, &entry, buffer, sizeof buffer, &pEntry) == 0 && pEntry)
        return QStringLiteral("group %1").arg(QString::fromLocal8Bit(pEntry->gr_name));
    return QStringLiteral("group %1").arg(st.st_gid);
}

QString KindOf(const toml::node &node)
{
    switch (node.type()) {
    case toml::node_type::table: return QStringLiteral("a table");
    case toml::node_type::array: return QStringLiteral("an array");
    case toml::node_type::string: return QStringLiteral("a string");
    case toml::node_type::integer: return QStringLiteral("an integer");
    case toml::node_type::floating_point: return QStringLiteral("a floating-point number");
    case toml::node_type::boolean: return QStringLiteral("a boolean");
    case toml::node_type::date: return QStringLiteral("a date");
    case toml::node_type::time: return QStringLiteral("a time");
    case toml::node_type::date_time: return QStringLiteral("a date-time");
    case toml::node_type::none: break;
    }
    return QStringLiteral("nothing");
}

QString Name(const toml::key &key)
{
    return QString::fromUtf8(key.str().data(), qsizetype(key.str().size()));
}

// A file whose content must be kept from other users.
enum class ESecret { No, Yes };

// Where the named things were first met, so that a second use names the first.
struct SFirstUse {
    QString str;
    int nLine = 0;
};

// The problems of one file as they are found, and what the checks across
// lines and meters need to remember.
class CConfigReader {
public:
    explicit CConfigReader(const QString &strSource) : m_baseDir(QFileInfo(strSource).absoluteDir()) {}

    void Problem(int nLine, const QString &strText) { m_problems.push_back({nLine, strText}); }
    void Warning(int nLine, const QString &strText) { m_warnings.push_back({nLine, strText}); }

    bool ReadString(const toml::key &key, const toml::node &node, QString &str)
    {
        const auto *pValue = node.as_string();
        if (!pValue) {
            Problem(LineOf(key), QStringLiteral("%1 must be a string, not %2").arg(Name(key), KindOf(node)));
            return false;
        }
        const std::string &s = pValue->get();
        str = QString::fromUtf8(s.data(), qsizetype(s.size()));
        return true;
    }

    bool ReadInt(const toml::key &key, const toml::node &node, int nMin, int nMax, int &n)
    {
        const auto *pValue = node.as_integer();
        if (!pValue) {
            Problem(LineOf(key), QStringLiteral("%1 must be an integer, not %2").arg(Name(key), KindOf(node)));
            return false;
        }
        const std::int64_t nValue = pValue->get();
        if (nValue < nMin || nValue > nMax) {
            Problem(LineOf(key),
                    QStringLiteral("%1 must be %2 to %3, not %4")
                        .arg(Name(key), QString::number(nMin), QString::number(nMax), QString::number(nValue)));
            return false;
        }
        n = int(nValue);
        return true;
    }

    void UnknownKey(const toml::key &key)
    {
        Problem(LineOf(key), QStringLiteral("unknown key %1").arg(Quoted(Name(key))));
    }

    // The array a [[key]] header makes; a plain [key] table or a value is a problem.
    const toml::array *Tables(const toml::key &key, const toml::node &node, const QString &strHeader)
    {
        const auto *pArray = node.as_array();
        if (pArray && pArray->is_array_of_tables())
            return pArray;
        Problem(
            LineOf(key),
            QStringLiteral("%1 must be tables under [[%2]] headers, not %3").arg(Name(key), strHeader, KindOf(node)));
        return nullptr;
    }

    // A string that names a file, found beside the configuration when relative.
    bool ReadPath(const toml::key &key, const toml::node &node, QString &strGiven, QString &strPath)
    {
        if (!ReadString(key, node, strGiven))
            return false;
        if (strGiven.isEmpty()) {
            Problem(LineOf(key), QStringLiteral("%1 must not be empty").arg(Name(key)));
            return false;
        }
        strPath = QDir::cleanPath(m_baseDir.filePath(strGiven));
        return true;
    }

    void ReadFile(const toml::table &file, SServiceConfig &config);

    std::vector<SConfigProblem> TakeProblems() { return InLineOrder(std::move(m_problems)); }
    std::vector<SConfigProblem> TakeWarnings() { return InLineOrder(std::move(m_warnings)); }

private:
    void ReadLine(const toml::table &table, SLineConfig &line);
    void ReadMeter(const toml::table &table, SMeterConfig &meter);
    void ReadDay(const toml::key &key, const toml::node &node, SMeterConfig &meter);
    void ReadPasswordFile(const toml::key &key, const toml::node &node, SMeterConfig &meter);
    bool ReadFirstLine(const toml::key &key, const toml::node &node, qint64 nMaxBytes, QString &strGiven,
                       QByteArray &line);
    bool ReadNamedFile(const toml::key &key, const toml::node &node, qint64 nMaxBytes, ESecret eSecret,
                       QString &strGiven, QString &strPath, QByteArray &bytes);
    void WarnOfOtherReaders(const toml::key &key, const QString &strGiven, const QString &strPath);
    void ReadClientId(const toml::key &key, const toml::node &node, QString &strClientId);
    bool CheckText(int nLine, const QString &strWhat, const QString &str);
    void CheckTopicLength(const SMqttConfig &mqtt);
    void ReadMqtt(const toml::table &table, SMqttConfig &mqtt);
    void ReadMqttPasswordFile(const toml::key &key, const toml::node &node, SMqttConfig &mqtt);
    bool ReadTlsFile(const toml::key &key, const toml::node &node, QString &strPath, ESecret eSecret);
    void ReadBrokerUrl(int nLine, const QString &strUrl, QString &strPahoUrl);
    bool CheckTopic(int nLine, const QString &strWhat, const QString &strTopic);
    void CheckMqtt(SServiceConfig &config);
    void CheckPassword(int nLine, const QString &strWhose, const QString &strPassword);
    void CheckName(int nLine, const QString &strName);
    void NoteFirstUse(std::vector<SFirstUse> &uses, const QString &str, int nLine, const QString &strWhat);

    static std::vector<SConfigProblem> InLineOrder(std::vector<SConfigProblem> lines)
    {
        std::stable_sort(lines.begin(), lines.end(),
                         [](const SConfigProblem &a, const SConfigProblem &b) { return a.nLine < b.nLine; });
        return lines;
    }

    QDir m_baseDir; // relative password files are found beside the configuration
    std::vector<SConfigProblem> m_problems;
    std::vector<SConfigProblem> m_warnings;
    std::vector<SFirstUse> m_names;
    std::vector<SFirstUse> m_ports;
    int m_nMqttLine = 0;
    int m_nTopicLine = 0;      // of a topic given in the file, and checked there
    bool m_bTopicGood = false; // that topic has no problem
    bool m_bSiteGood = true;   // the default topic is checked only on a site that is good itself
};

void CConfigReader::ReadFile(const toml::table &file, SServiceConfig &config)
{
    config.strSite = QSysInfo::machineHostName();
    for (auto &&[key, node] : file) {
        if (key == "site") {
            if (!ReadString(key, node, config.strSite))
                m_bSiteGood = false;
            else if (config.strSite.isEmpty()) {
                Problem(LineOf(key), QStringLiteral("site must not be empty"));
                m_bSiteGood = false;
            } else {
                m_bSiteGood =
                    CheckText(LineOf(key), QStringLiteral("site %1").arg(Quoted(config.strSite)), config.strSite);
            }
        } else if (key == "data_dir") {
            if (ReadString(key, node, config.strDataDir) && config.strDataDir.isEmpty())
                Problem(LineOf(key), QStringLiteral("data_dir must not be empty"));
        } else if (key == "max_backoff") {
            ReadInt(key, node, 1, kMaxSeconds, config.nMaxBackoffSec);
        } else if (key == "line") {
            if (const toml::array *pLines = Tables(key, node, QStringLiteral("line"))) {
                for (const toml::node &lineNode : *pLines) {
                    config.lines.emplace_back();
                    ReadLine(*lineNode.as_table(), config.lines.back());
                }
            }
        } else if (key == "mqtt") {
            if (const toml::table *pMqtt = node.as_table())
                ReadMqtt(*pMqtt, config.mqtt);
            else
                Problem(LineOf(key),
                        QStringLiteral("mqtt must be a table under an [mqtt] header, not %1").arg(KindOf(node)));
        } else {
            UnknownKey(key);
        }
    }
    if (config.mqtt.bEnabled)
        CheckMqtt(config);
}

void CConfigReader::ReadLine(const toml::table &table, SLineConfig &line)
{
    const int nLine = LineOf(table);
    bool bHasPort = false;
    bool bHasMeters = false; // or the problem that they are not [[line.meter]] tables
    for (auto &&[key, node] : table) {
        if (key == "port") {
            bHasPort = true;
            if (!ReadString(key, node, line.strPort))
                continue;
            if (line.strPort.isEmpty()) {
                Problem(LineOf(key), QStringLiteral("port must not be empty"));
                continue;
            }
            // Two names of one adapter (a by-id link and its tty) are one port too.
            const QString strCanonical = QFileInfo(line.strPort).canonicalFilePath();
            NoteFirstUse(m_ports, strCanonical.isEmpty() ? line.strPort : strCanonical, LineOf(key),
                         QStringLiteral("port %1").arg(Quoted(line.strPort)));
        } else if (key == "baud") {
            const auto *pValue = node.as_integer();
            if (!pValue) {
                Problem(LineOf(key), QStringLiteral("baud must be an integer, not %1").arg(KindOf(node)));
            } else if (!kBaudRates.contains(pValue->get())) {
                QStringList rates;
                for (qint64 nRate : kBaudRates)
                    rates << QString::number(nRate);
                Problem(LineOf(key), QStringLiteral("baud must be one of %1, not %2")
                                         .arg(rates.join(QStringLiteral(", ")), QString::number(pValue->get())));
            } else {
                line.nBaudRate = int(pValue->get());
            }
        } else if (key == "meter") {
            bHasMeters = true;
            if (const toml::array *pMeters = Tables(key, node, QStringLiteral("line.meter"))) {
                for (const toml::node &meterNode : *pMeters) {
                    line.meters.emplace_back();
                    ReadMeter(*meterNode.as_table(), line.meters.back());
                }
            }
        } else {
            UnknownKey(key);
        }
    }
    if (!bHasPort)
        Problem(nLine, QStringLiteral("line has no port"));
    if (!bHasMeters)
        Problem(nLine, QStringLiteral("line has no [[line.meter]]"));
}

void CConfigReader::ReadMeter(const toml::table &table, SMeterConfig &meter)
{
    const int nLine = LineOf(table);
    bool bHasName = false;
    int nNameLine = 0; // of a name that is a string
    int nDeviceLine = 0;
    int nPasswordLine = 0;
    const toml::key *pPasswordFileKey = nullptr;
    const toml::node *pPasswordFile = nullptr;
    for (auto &&[key, node] : table) {
        if (key == "name") {
            bHasName = true;
            if (ReadString(key, node, meter.strName))
                nNameLine = LineOf(key);
        } else if (key == "device") {
            nDeviceLine = LineOf(key);
            ReadInt(key, node, 1, 65535, meter.nDevice);
        } else if (key == "feeder") {
            ReadInt(key, node, 1, 2, meter.nFeeder);
        } else if (key == "level") {
            ReadInt(key, node, 1, 2, meter.nLevel);
        } else if (key == "password") {
            nPasswordLine = LineOf(key);
            if (ReadString(key, node, meter.strPassword))
                CheckPassword(nPasswordLine, QStringLiteral("password"), meter.strPassword);
        } else if (key == "password_file") {
            pPasswordFileKey = &key;
            pPasswordFile = &node;
        } else if (key == "second") {
            ReadInt(key, node, 0, kMaxSeconds, meter.nSecondInterval);
        } else if (key == "minute") {
            ReadInt(key, node, 0, kMaxSeconds, meter.nMinuteInterval);
        } else if (key == "day") {
            ReadDay(key, node, meter);
        } else {
            UnknownKey(key);
        }
    }
    if (pPasswordFile) {
        if (nPasswordLine)
            Problem(LineOf(*pPasswordFileKey), QStringLiteral("password and password_file cannot both be given"));
        else
            ReadPasswordFile(*pPasswordFileKey, *pPasswordFile, meter);
    }
    if (!nDeviceLine)
        Problem(nLine, QStringLiteral("meter has no device"));
    // A name that is not a string, or a device that is not one, has its problem already.
    const bool bDefaultName = !bHasName && meter.nDevice > 0;
    if (bDefaultName)
        meter.strName = meter.nFeeder == 2 ? QStringLiteral("%1-2").arg(meter.nDevice) : QString::number(meter.nDevice);
    if (nNameLine || bDefaultName) {
        const int nWhere = nNameLine ? nNameLine : nLine;
        CheckName(nWhere, meter.strName);
        NoteFirstUse(m_names, meter.strName, nWhere, QStringLiteral("meter name %1").arg(Quoted(meter.strName)));
    }
    if (meter.nSecondInterval == 0 && meter.nMinuteInterval == 0 && meter.nDayMinute < 0)
        Problem(nLine, QStringLiteral("meter reads nothing: second and minute are 0 and day is \"\""));
}

void CConfigReader::ReadDay(const toml::key &key, const toml::node &node, SMeterConfig &meter)
{
    QString strDay;
    if (!ReadString(key, node, strDay))
        return;
    if (strDay.isEmpty()) {
        meter.nDayMinute = -1;
        return;
    }
    const auto digit = [&](int i) { return strDay[i] >= QLatin1Char('0') && strDay[i] <= QLatin1Char('9'); };
    const bool bShape =
        strDay.size() == 5 && digit(0) && digit(1) && strDay[2] == QLatin1Char(':') && digit(3) && digit(4);
    const int nHour = bShape ? strDay.left(2).toInt() : -1;
    const int nMinute = bShape ? strDay.mid(3).toInt() : -1;
    if (nHour < 0 || nHour > 23 || nMinute < 0 || nMinute > 59) {
        Problem(LineOf(key),
                QStringLiteral("day must be \"HH:MM\" from 00:00 to 23:59 or \"\", not %1").arg(Quoted(strDay)));
        return;
    }
    meter.nDayMinute = nHour * 60 + nMinute;
}

// The password is read once, at load: a file that turns unreadable later
// does not stop a running service.
void CConfigReader::ReadPasswordFile(const toml::key &key, const toml::node &node, SMeterConfig &meter)
{
    QString strGiven;
    QByteArray firstLine;
    // A line longer than any password is refused below; no need to read more.
    if (!ReadFirstLine(key, node, 4 * MAX_PASSWORD_LENGTH + 2, strGiven, firstLine))
        return;
    meter.strPassword = QString::fromUtf8(firstLine);
    CheckPassword(LineOf(key), QStringLiteral("password in %1").arg(Quoted(strGiven)), meter.strPassword);
}

// The first line of the password file the key names, without its line end;
// at most nMaxBytes of it are read.
bool CConfigReader::ReadFirstLine(const toml::key &key, const toml::node &node, qint64 nMaxBytes, QString &strGiven,
                                  QByteArray &line)
{
    QString strPath;
    if (!ReadNamedFile(key, node, nMaxBytes, ESecret::Yes, strGiven, strPath, line))
        return false;
    const qsizetype nEnd = line.indexOf('\n');
    if (nEnd >= 0)
        line.truncate(nEnd);
    if (line.endsWith('\r'))
        line.chop(1);
    return true;
}

// The file a key names (at most nMaxBytes of it), never waiting on it: a FIFO
// or a device is refused at once. strPath is what was read, for a library
// that reads it again: the service's credential copy of the file when it
// has one (credential_copy.h), else the file itself.
bool CConfigReader::ReadNamedFile(const toml::key &key, const toml::node &node, qint64 nMaxBytes, ESecret eSecret,
                                  QString &strGiven, QString &strPath, QByteArray &bytes)
{
    QString strNamed;
    if (!ReadPath(key, node, strGiven, strNamed))
        return false;
    const QString strCopy = CredentialCopyOf(strNamed);
    strPath = strCopy.isEmpty() ? strNamed : strCopy;
    SFileRead read = ReadRegularFile(strPath, nMaxBytes);
    if (read.eFault != EFileFault::None) {
        Problem(LineOf(key),
                QStringLiteral("cannot read %1 %2: %3").arg(Name(key), Quoted(strGiven), FileFaultText(read)));
        return false;
    }
    bytes = std::move(read.bytes);
    if (eSecret == ESecret::Yes)
        WarnOfOtherReaders(key, strGiven, strNamed);
    return true;
}

// A secret (a password, a private key) that the group dialout may read is
// open to everyone who may use the serial ports. The file named is looked
// at, also when the service read its credential copy: the copy is safe, the
// file may not be.
void CConfigReader::WarnOfOtherReaders(const toml::key &key, const QString &strGiven, const QString &strPath)
{
    mode_t nMode = 0;
    const QString strWho = OtherReaders(strPath, nMode);
    if (!strWho.isEmpty())
        Warning(LineOf(key), QStringLiteral("%1 %2 may be read by %3 (mode %4): keep it in /etc/varik with mode "
                                            "0600, where the service still reads it")
                                 .arg(Name(key), Quoted(strGiven), strWho)
                                 .arg(uint(nMode), 4, 8, QLatin1Char('0')));
}

// The broker's password is taken from a file of its own only, which can be
// kept from the users who may read the configuration.
void CConfigReader::ReadMqtt(const toml::table &table, SMqttConfig &mqtt)
{
    m_nMqttLine = LineOf(table);
    mqtt.bEnabled = true;
    bool bHasUrl = false;
    int nUsernameLine = 0;
    int nPasswordFileLine = 0;
    int nCertLine = 0;
    int nKeyLine = 0;
    std::vector<const toml::key *> tlsKeys; // given, whether readable or not
    for (auto &&[key, node] : table) {
        if (key == "url") {
            bHasUrl = true;
            QString strUrl;
            if (ReadString(key, node, strUrl))
                ReadBrokerUrl(LineOf(key), strUrl, mqtt.strUrl);
        } else if (key == "topic") {
            m_nTopicLine = LineOf(key);
            m_bTopicGood = ReadString(key, node, mqtt.strTopic)
                           && CheckTopic(LineOf(key), QStringLiteral("topic %1").arg(Quoted(mqtt.strTopic)),
                                         mqtt.strTopic);
        } else if (key == "client_id") {
            ReadClientId(key, node, mqtt.strClientId);
        } else if (key == "qos") {
            ReadInt(key, node, 0, 2, mqtt.nQos);
        } else if (key == "username") {
            nUsernameLine = LineOf(key);
            if (ReadString(key, node, mqtt.strUsername) && mqtt.strUsername.isEmpty())
                Problem(LineOf(key), QStringLiteral("username must not be empty"));
        } else if (key == "password_file") {
            nPasswordFileLine = LineOf(key);
            ReadMqttPasswordFile(key, node, mqtt);
        } else if (key == "password") {
            Problem(LineOf(key), QStringLiteral("password is not taken in [mqtt]: put it in a file of its own and "
                                                "give password_file"));
        } else if (key == "ca_file") {
            tlsKeys.push_back(&key);
            ReadTlsFile(key, node, mqtt.strCaFile, ESecret::No);
        } else if (key == "cert_file") {
            tlsKeys.push_back(&key);
            nCertLine = LineOf(key);
            ReadTlsFile(key, node, mqtt.strCertFile, ESecret::No);
        } else if (key == "key_file") {
            tlsKeys.push_back(&key);
            nKeyLine = LineOf(key);
            ReadTlsFile(key, node, mqtt.strKeyFile, ESecret::Yes);
        } else if (key == "outbox_max_mb") {
            int nMb = 0;
            if (ReadInt(key, node, 1, kMaxOutboxMb, nMb))
                mqtt.nOutboxMaxBytes = qint64(nMb) * 1024 * 1024;
        } else {
            UnknownKey(key);
        }
    }
    if (!bHasUrl)
        Problem(m_nMqttLine, QStringLiteral("mqtt has no url"));
    // MQTT sends no password without a user name.
    if (nPasswordFileLine && !nUsernameLine)
        Problem(nPasswordFileLine, QStringLiteral("password_file needs a username"));
    if (nCertLine && !nKeyLine)
        Problem(nCertLine, QStringLiteral("cert_file needs key_file"));
    if (nKeyLine && !nCertLine)
        Problem(nKeyLine, QStringLiteral("key_file needs cert_file"));
    if (mqtt.strUrl.startsWith(QLatin1String("tcp://"))) {
        for (const toml::key *pKey : tlsKeys)
            Problem(LineOf(*pKey), QStringLiteral("%1 needs an ssl:// or mqtts:// url").arg(Name(*pKey)));
    }
}

void CConfigReader::ReadMqttPasswordFile(const toml::key &key, const toml::node &node, SMqttConfig &mqtt)
{
    QString strGiven;
    QByteArray firstLine;
    if (!ReadFirstLine(key, node, kMaxMqttStringBytes + 3, strGiven, firstLine))
        return;
    mqtt.strPassword = QString::fromUtf8(firstLine);
    if (firstLine.size() > kMaxMqttStringBytes)
        Problem(LineOf(key), QStringLiteral("password in %1 is longer than %2 bytes")
                                 .arg(Quoted(strGiven), QString::number(kMaxMqttStringBytes)));
    // Kept as text, so bytes that are not UTF-8 would reach the broker changed.
    else if (mqtt.strPassword.toUtf8() != firstLine)
        Problem(LineOf(key), QStringLiteral("password in %1 is not UTF-8 text").arg(Quoted(strGiven)));
}

// The TLS files are read by the library at every connect; opening them once
// here finds a wrong path or a missing permission before the service starts.
bool CConfigReader::ReadTlsFile(const toml::key &key, const toml::node &node, QString &strPath, ESecret eSecret)
{
    QString strGiven;
    QByteArray nothing;
    return ReadNamedFile(key, node, 0, eSecret, strGiven, strPath, nothing);
}

// scheme://host[:port], the host a name, an IPv4 address or an IPv6 one in
// brackets; nothing before the host (a user) or after the port (a path).
void CConfigReader::ReadBrokerUrl(int nLine, const QString &strUrl, QString &strPahoUrl)
{
    const qsizetype nSchemeEnd = strUrl.indexOf(QLatin1String("://"));
    const QString strScheme = strUrl.left(nSchemeEnd);
    const auto it = std::find_if(std::begin(kBrokerSchemes), std::end(kBrokerSchemes), [&](const SBrokerScheme &s) {
        return strScheme == QLatin1String(s.pGiven);
    });
    if (nSchemeEnd < 0 || it == std::end(kBrokerSchemes)) {
        Problem(nLine,
                QStringLiteral("url must begin with tcp://, mqtt://, ssl:// or mqtts://, not %1").arg(Quoted(strUrl)));
        return;
    }
    static const QRegularExpression kHostAndPort(
        QStringLiteral(R"(^(\[[0-9A-Fa-f:.]+\]|[A-Za-z0-9._-]+)(:(.*))?$)"));
    const QRegularExpressionMatch match = kHostAndPort.match(strUrl.mid(nSchemeEnd + 3));
    if (!match.hasMatch()) {
        Problem(nLine,
                QStringLiteral("url must be %1://host or %1://host:port, not %2").arg(strScheme, Quoted(strUrl)));
        return;
    }
    int nPort = it->nDefaultPort;
    if (match.hasCaptured(2)) {
        static const QRegularExpression kPort(QStringLiteral("^[0-9]{1,5}$"));
        const QString strPort = match.captured(3);
        nPort = kPort.match(strPort).hasMatch() ? strPort.toInt() : 0;
        if (nPort < 1 || nPort > 65535) {
            Problem(nLine, QStringLiteral("url port must be 1 to 65535, not %1").arg(Quoted(strPort)));
            return;
        }
    }
    strPahoUrl = QStringLiteral("%1://%2:%3").arg(QLatin1String(it->pPaho), match.captured(1), QString::number(nPort));
}

// The readings go to <topic>/<meter>/<set>: a name to publish to, never a
// filter, and no level of it empty.
bool CConfigReader::CheckTopic(int nLine, const QString &strWhat, const QString &strTopic)
{
    const std::size_t nProblems = m_problems.size();
    if (strTopic.isEmpty())
        Problem(nLine, QStringLiteral("topic must not be empty"));
    else if (strTopic.contains(QLatin1Char('+')) || strTopic.contains(QLatin1Char('#')))
        Problem(nLine, QStringLiteral("%1 must not hold the wildcards + or #").arg(strWhat));
    else if (strTopic.startsWith(QLatin1Char('$')))
        Problem(nLine, QStringLiteral("%1 must not begin with \"$\", which brokers keep for themselves").arg(strWhat));
    else if (strTopic.startsWith(QLatin1Char('/')) || strTopic.endsWith(QLatin1Char('/')))
        Problem(nLine, QStringLiteral("%1 must not begin or end with \"/\"").arg(strWhat));
    else if (strTopic.contains(QLatin1String("//")))
        Problem(nLine, QStringLiteral("%1 must not have an empty level \"//\"").arg(strWhat));
    else
        CheckText(nLine, strWhat, strTopic);
    return m_problems.size() == nProblems;
}

// A name or topic that a broker takes: no control character, no
// non-character (mqtt_text.h).
bool CConfigReader::CheckText(int nLine, const QString &strWhat, const QString &str)
{
    const STextFault fault = FirstTextFault(str);
    if (fault.eFault == ETextFault::None)
        return true;
    Problem(nLine, strWhat + QLatin1Char(' ') + TextFaultText(fault));
    return false;
}

// MQTT sends a topic as at most 65 535 bytes, and the longest the service
// publishes to is the prefix with "/<meter>/second" after it.
void CConfigReader::CheckTopicLength(const SMqttConfig &mqtt)
{
    QString strSuffix = QStringLiteral("/status");
    qsizetype nSuffixBytes = kStatusTopicBytes;
    for (const SFirstUse &name : m_names) {
        const qsizetype nBytes = name.str.toUtf8().size() + kReadingTopicBytes;
        if (nBytes > nSuffixBytes) {
            nSuffixBytes = nBytes;
            strSuffix = QStringLiteral("/%1/second").arg(name.str);
        }
    }
    const qsizetype nBytes = mqtt.strTopic.toUtf8().size() + nSuffixBytes;
    if (nBytes <= kMaxMqttStringBytes)
        return;
    Problem(m_nTopicLine ? m_nTopicLine : m_nMqttLine,
            QStringLiteral("%1 is too long: with %2 after it a topic is %3 bytes, more than the %4 of MQTT")
                .arg(m_nTopicLine ? QStringLiteral("topic") : QStringLiteral("the default topic (from site)"),
                     Quoted(strSuffix), QString::number(nBytes), QString::number(kMaxMqttStringBytes)));
}

// client_id pins the id for a broker whose rules name it; it is sent as a
// string of MQTT's, so it is held to a topic's rules of text.
void CConfigReader::ReadClientId(const toml::key &key, const toml::node &node, QString &strClientId)
{
    if (!ReadString(key, node, strClientId))
        return;
    if (strClientId.isEmpty())
        Problem(LineOf(key), QStringLiteral("client_id must not be empty"));
    else if (strClientId.toUtf8().size() > kMaxMqttStringBytes)
        Problem(LineOf(key), QStringLiteral("client_id is longer than %1 bytes").arg(kMaxMqttStringBytes));
    else
        CheckText(LineOf(key), QStringLiteral("client_id %1").arg(Quoted(strClientId)), strClientId);
}

// What [mqtt] needs of the rest of the file, which may come before or after it.
void CConfigReader::CheckMqtt(SServiceConfig &config)
{
    if (!m_nTopicLine) {
        config.mqtt.strTopic = QStringLiteral("varik/") + config.strSite;
        // A site that is no good has its problem already.
        if (m_bSiteGood
            && CheckTopic(m_nMqttLine,
                          QStringLiteral("the default topic %1 (from site)").arg(Quoted(config.mqtt.strTopic)),
                          config.mqtt.strTopic))
            CheckTopicLength(config.mqtt);
    } else if (m_bTopicGood) {
        CheckTopicLength(config.mqtt);
    }
    for (const SFirstUse &name : m_names) {
        if (name.str.contains(QLatin1Char('+')) || name.str.contains(QLatin1Char('#')))
            Problem(name.nLine,
                    QStringLiteral("meter name %1 cannot be a topic level: it holds + or #").arg(Quoted(name.str)));
    }
}

// The meter compares at most 8 bytes in its own code page.
void CConfigReader::CheckPassword(int nLine, const QString &strWhose, const QString &strPassword)
{
    const QByteArray wire = ToCp1251(strPassword);
    if (FromCp1251(wire) != strPassword)
        Problem(nLine, QStringLiteral("%1 cannot be written in Windows-1251").arg(strWhose));
    else if (wire.size() > MAX_PASSWORD_LENGTH)
        Problem(nLine,
                QStringLiteral("%1 is longer than %2 characters").arg(strWhose, QString::number(MAX_PASSWORD_LENGTH)));
}

// Each meter's logs go into a folder of its name under data_dir.
void CConfigReader::CheckName(int nLine, const QString &strName)
{
    if (strName.isEmpty() || strName == QLatin1String(".") || strName == QLatin1String("..")
        || strName.contains(QLatin1Char('/')) || strName.contains(QChar(0)) || strName.toUtf8().size() > kMaxNameBytes)
        Problem(nLine, QStringLiteral("meter name %1 cannot be a folder name").arg(Quoted(strName)));
    // The service's own folders (the outbox) sit beside the meters' as hidden ones.
    else if (strName.startsWith(QLatin1Char('.')))
        Problem(nLine, QStringLiteral("meter name %1 must not begin with \".\"").arg(Quoted(strName)));
    // A level of every topic of the meter, and a word of the journal's lines.
    else
        CheckText(nLine, QStringLiteral("meter name %1").arg(Quoted(strName)), strName);
}

void CConfigReader::NoteFirstUse(std::vector<SFirstUse> &uses, const QString &str, int nLine, const QString &strWhat)
{
    const auto it = std::find_if(uses.begin(), uses.end(), [&](const SFirstUse &use) { return use.str == str; });
    if (it == uses.end())
        uses.push_back({str, nLine});
    else
        Problem(nLine, QStringLiteral("%1 is used twice (first on line %2)").arg(strWhat, QString::number(it->nLine)));
}

QString Reads(const SMeterConfig &meter)
{
    QStringList reads;
    if (meter.nSecondInterval > 0)
        reads << QStringLiteral("second every %1 s").arg(meter.nSecondInterval);
    if (meter.nMinuteInterval > 0)
        reads << QStringLiteral("minute every %1 s").arg(meter.nMinuteInterval);
    if (meter.nDayMinute >= 0)
        reads << QStringLiteral("day at %1:%2")
                     .arg(meter.nDayMinute / 60, 2, 10, QLatin1Char('0'))
                     .arg(meter.nDayMinute % 60, 2, 10, QLatin1Char('0'));
    return reads.join(QStringLiteral(", "));
}

QString DescribeMqtt(const SMqttConfig &mqtt)
{
    if (!mqtt.bEnabled)
        return QStringLiteral("mqtt: none");
    QStringList parts{QStringLiteral("mqtt %1").arg(mqtt.strUrl), QStringLiteral("topic %1").arg(mqtt.strTopic),
                      QStringLiteral("client id %1").arg(Quoted(ClientIdOf(mqtt))),
                      QStringLiteral("qos %1").arg(mqtt.nQos)};
    if (!mqtt.strUsername.isEmpty())
        parts << QStringLiteral("user %1").arg(Quoted(mqtt.strUsername));
    if (!mqtt.strCaFile.isEmpty())
        parts << QStringLiteral("CA %1").arg(mqtt.strCaFile);
    if (!mqtt.strCertFile.isEmpty())
        parts << QStringLiteral("certificate %1").arg(mqtt.strCertFile);
    parts << QStringLiteral("outbox up to %1 MiB").arg(mqtt.nOutboxMaxBytes / (1024 * 1024));
    return parts.join(QStringLiteral(", "));
}

} // namespace

SConfigResult ReadServiceConfig(const QString &strPath)
{
    const SFileRead read = ReadRegularFile(strPath, kWholeFile);
    if (read.eFault != EFileFault::None)
        return {{}, {{0, QStringLiteral("cannot read the file: %1").arg(FileFaultText(read))}}, {}};
    return ParseServiceConfig(read.bytes, strPath);
}

SConfigResult ParseServiceConfig(const QByteArray &text, const QString &strSource)
{
    SConfigResult result;
    toml::table file;
    const QByteArray source = strSource.toUtf8();
    try {
        file = toml::parse(std::string_view(text.constData(), std::size_t(text.size())),
                           std::string_view(source.constData(), std::size_t(source.size())));
    } catch (const toml::parse_error &error) {
        const std::string_view description = error.description();
        result.problems.push_back(
            {int(error.source().begin.line), QString::fromUtf8(description.data(), qsizetype(description.size()))});
        return result;
    }
    CConfigReader reader(strSource);
    reader.ReadFile(file, result.config);
    result.problems = reader.TakeProblems();
    result.warnings = reader.TakeWarnings();
    return result;
}

QStringList ProblemLines(const QString &strSource, const std::vector<SConfigProblem> &problems)
{
    QStringList lines;
    for (const SConfigProblem &problem : problems) {
        lines << (problem.nLine > 0
                      ? QStringLiteral("%1:%2: %3").arg(strSource, QString::number(problem.nLine), problem.strText)
                      : QStringLiteral("%1: %2").arg(strSource, problem.strText));
    }
    return lines;
}

QStringList WarningLines(const QString &strSource, const std::vector<SConfigProblem> &warnings)
{
    std::vector<SConfigProblem> marked = warnings;
    for (SConfigProblem &warning : marked)
        warning.strText.prepend(QStringLiteral("warning: "));
    return ProblemLines(strSource, marked);
}

QStringList DescribeConfig(const SServiceConfig &config)
{
    QStringList lines;
    lines << QStringLiteral("site %1, data in %2, back-off up to %3 s")
                 .arg(Quoted(config.strSite), config.strDataDir, QString::number(config.nMaxBackoffSec));
    lines << DescribeMqtt(config.mqtt);
    for (const SLineConfig &line : config.lines) {
        lines << QStringLiteral("line %1 at %2 baud: %3 %4")
                     .arg(line.strPort, QString::number(line.nBaudRate), QString::number(line.meters.size()),
                          line.meters.size() == 1 ? QStringLiteral("meter") : QStringLiteral("meters"));
        for (const SMeterConfig &meter : line.meters) {
            lines << QStringLiteral("  %1: device %2, feeder %3, level %4; %5")
                         .arg(meter.strName, QString::number(meter.nDevice), QString::number(meter.nFeeder),
                              QString::number(meter.nLevel), Reads(meter));
        }
    }
    // The installed example is such a file: the service runs and reads nothing.
    if (config.lines.empty())
        lines << QStringLiteral("no [[line]]: nothing to read");
    return lines;
}

QString ClientIdOf(const SMqttConfig &mqtt)
{
    return mqtt.strClientId.isEmpty() ? DerivedClientId(mqtt.strTopic) : mqtt.strClientId;
}
