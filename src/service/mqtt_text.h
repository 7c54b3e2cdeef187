// What an MQTT broker takes as text. Mosquitto refuses a topic or client id
// that holds a control character or a Unicode non-character: it drops the
// connection at the publish (or refuses the CONNECT that carries the will),
// so one such meter name would keep every reading of the site from being
// published. The names that become topic levels (site, meter names) and the
// topic itself are held to these rules when the configuration is read.
#pragma once

#include <QString>

enum class ETextFault {
    None,
    Control,      // C0 (U+0000 included), DEL or C1
    NonCharacter, // U+FDD0 to U+FDEF, and U+xFFFE and U+xFFFF of every plane
    Surrogate,    // half of a pair, alone: no character at all
};

struct STextFault {
    ETextFault eFault = ETextFault::None;
    char32_t cCodePoint = 0; // the first one at fault
};

STextFault FirstTextFault(const QString &str);
bool IsControl(char32_t c);
bool IsNonCharacter(char32_t c);

// The client id for a topic prefix: "varikd-", the topic with every
// character but ASCII letters, digits, "-" and "_" made "-" (at most its
// first kMaxReadableIdChars), then "-" and 8 hex digits of the SHA-256 of
// the exact topic. Readable in a broker's log, the same on every run, and
// distinct for distinct topics even where the readable part is the same
// ("varik/ПС-1" and "varik/ТП-1" are both "varik----1").
QString DerivedClientId(const QString &strTopic);
constexpr int kMaxReadableIdChars = 64;
