// What varikd reads: its TOML configuration as plain values. The lines and
// meters keep the order of the file; every problem found carries the line of
// the file it is on, so a broken file is mended in one pass.
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

struct SMeterConfig {
    QString strName;          // unique; default "<device>", "<device>-2" on feeder 2
    int nDevice = 0;          // 1 to 65 535
    int nFeeder = 1;          // 1 or 2
    int nLevel = 1;           // access level 1 or 2
    QString strPassword;      // as given, or the first line of password_file (read at load)
    int nSecondInterval = 10; // seconds between per-second reads, at most a day; 0: never
    int nMinuteInterval = 60; // seconds between per-minute reads, at most a day; 0: never
    int nDayMinute = 5;       // local minutes after midnight of the day read; -1: never

    bool operator==(const SMeterConfig &) const = default;
};

struct SLineConfig {
    QString strPort;
    int nBaudRate = 9600; // one of the rates the window offers
    std::vector<SMeterConfig> meters;

    bool operator==(const SLineConfig &) const = default;
};

// The broker the readings are published to; no [mqtt] table: no publishing.
struct SMqttConfig {
    bool bEnabled = false;
    QString strUrl;             // as Paho takes it: tcp://host:port or ssl://host:port (from mqtt://, mqtts://)
    QString strTopic;           // prefix; default "varik/<site>"
    QString strClientId;        // client_id as given; empty: the one derived from the topic (ClientIdOf)
    int nQos = 1;               // 0, 1 or 2
    QString strUsername;        // empty: none
    QString strPassword;        // the first line of password_file
    QString strCaFile;          // TLS: the broker's CA; cert_file and key_file for a client certificate;
                                // absolute paths, found beside the configuration when given relative,
                                // or the service's credential copy of them (credential_copy.h)
    QString strCertFile;
    QString strKeyFile;
    qint64 nOutboxMaxBytes = 256LL * 1024 * 1024; // outbox_max_mb

    bool operator==(const SMqttConfig &) const = default;
};

struct SServiceConfig {
    QString strSite;                          // default: the host name
    QString strDataDir = QStringLiteral("/var/lib/varik");
    int nMaxBackoffSec = 300;                 // longest wait between tries of a failing meter, 1 s to a day
    std::vector<SLineConfig> lines;
    SMqttConfig mqtt;

    bool operator==(const SServiceConfig &) const = default;
};

struct SConfigProblem {
    int nLine = 0; // 1-based line of the file; 0 when the problem has no place in it
    QString strText;
};

struct SConfigResult {
    SServiceConfig config; // meaningful only when there are no problems
    std::vector<SConfigProblem> problems;
    std::vector<SConfigProblem> warnings; // what is taken but should be mended: a secret others may read
    bool Ok() const { return problems.empty(); }
};

// Reads and checks the file; an unreadable file (or one that is not a
// regular file: a FIFO is never waited on) is one problem at line 0.
SConfigResult ReadServiceConfig(const QString &strPath);
// The same on the text of a file at strSource; a relative password_file is
// found in strSource's folder. The problems come in the order of their lines.
SConfigResult ParseServiceConfig(const QByteArray &text, const QString &strSource);

// One line per problem: "<source>:<line>: <text>", or "<source>: <text>" for
// a problem at line 0.
QStringList ProblemLines(const QString &strSource, const std::vector<SConfigProblem> &problems);
// The same with "warning: " before each text.
QStringList WarningLines(const QString &strSource, const std::vector<SConfigProblem> &warnings);
// What --check-config prints for a good file: the site, the broker ("mqtt:
// none" when nothing is published; never its password), then one line per
// line of meters, then one per meter, each saying what will be read and how
// often.
QStringList DescribeConfig(const SServiceConfig &config);

// The MQTT client id: client_id when given, else the one derived from the
// topic (mqtt_text.h).
QString ClientIdOf(const SMqttConfig &mqtt);
