#include "data/reading_json.h"

#include <array>

namespace {

// The part of the object before each value, `"<name>":`, for every named
// row of a set: worked out once, since a day reading has a thousand names
// and a per-second one comes every few seconds.
const std::vector<QByteArray> &NameKeys(EDataSet eSet)
{
    static const std::array<std::vector<QByteArray>, 3> keys = [] {
        std::array<std::vector<QByteArray>, 3> all;
        for (const EDataSet set : {EDataSet::Second, EDataSet::Minute, EDataSet::Day}) {
            for (const SListRow &row : DataSetOf(set).pRows()) {
                if (!row.strName.isEmpty())
                    all[std::size_t(set)].push_back(JsonString(row.strName) + ':');
            }
        }
        return all;
    }();
    return keys[std::size_t(eSet)];
}

} // namespace

QByteArray JsonString(const QString &strText)
{
    const QByteArray utf8 = strText.toUtf8();
    QByteArray out;
    out.reserve(utf8.size() + 2);
    out += '"';
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            static const char kHex[] = "0123456789abcdef";
            out += "\\u00";
            out += kHex[u >> 4];
            out += kHex[u & 0xF];
        } else {
            out += c;
        }
    }
    return out + '"';
}

QByteArray ReadingJson(const QByteArray &time, const QString &strMeter, int nDevice, int nFeeder, EDataSet eSet,
                       const std::vector<QByteArray> &values)
{
    const std::vector<QByteArray> &keys = NameKeys(eSet);
    if (values.size() != keys.size())
        return {};
    QByteArray json = "{\"time\":" + JsonString(QString::fromUtf8(time)) + ",\"meter\":" + JsonString(strMeter)
                      + ",\"device\":" + QByteArray::number(nDevice) + ",\"feeder\":" + QByteArray::number(nFeeder)
                      + ",\"values\":{";
    qsizetype nSize = json.size() + 2;
    for (std::size_t i = 0; i < keys.size(); ++i)
        nSize += keys[i].size() + values[i].size() + 1;
    json.reserve(nSize);
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (i > 0)
            json += ',';
        json += keys[i];
        json += values[i];
    }
    return json + "}}";
}

QByteArray StateJson(const SStateJson &state)
{
    return "{\"state\":" + JsonString(QString::fromUtf8(state.state))
           + ",\"since\":" + JsonString(QString::fromUtf8(state.since))
           + ",\"message\":" + JsonString(state.strMessage) + ",\"reads\":" + QByteArray::number(state.nReads)
           + ",\"failures\":" + QByteArray::number(state.nFailures)
           + ",\"dropped\":" + QByteArray::number(state.nDropped) + '}';
}
