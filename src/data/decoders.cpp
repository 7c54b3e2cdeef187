// Each reply is described by a table of fields (where a field lies, how it
// is read and shown, which row it fills), built once from the runs of the
// layout. One walk over a table gives the texts the list shows or the exact
// ones the logs write.
#include "data/catalogue.h"
#include "data/decoders.h"
#include "data/value_text.h"

#include <algorithm>
#include <vector>

namespace {

enum class EFieldKind {
    Milli32,     // signed 32-bit, raw * 0.001f
    Centi16,     // signed 16-bit, raw * 0.01f
    Fiftieths32, // unsigned 32-bit, raw / 50
    Duration32,  // unsigned 32-bit count of seconds, hh:mm:ss
};

struct SField {
    std::size_t nOffset;
    EFieldKind eKind;
    int nRow;
};

using CFieldTable = std::vector<SField>;

struct SLayout {
    std::size_t nDataSize;
    int nRowCount;
    CFieldTable fields; // ascending by row
};

constexpr int PHASE_COUNT = 6;
constexpr int HARMONIC_COUNT = 39; // orders 2 to 40

// nCount fields of one kind, nStride bytes apart in the data, filling
// consecutive rows from nFirstRow on.
void AddRun(CFieldTable &fields, std::size_t nOffset, std::size_t nStride, int nCount,
            EFieldKind eKind, int nFirstRow)
{
    for (int i = 0; i < nCount; ++i)
        fields.push_back(SField{nOffset + nStride * std::size_t(i), eKind, nFirstRow + i});
}

SLayout Sorted(SLayout layout)
{
    std::sort(layout.fields.begin(), layout.fields.end(),
              [](const SField &a, const SField &b) { return a.nRow < b.nRow; });
    return layout;
}

// The tail of the second data is not in row order: U1 and F come before the
// six voltages, U0, U2 and dF after them.
SLayout BuildSecondLayout()
{
    const EFieldKind k = EFieldKind::Milli32;
    SLayout layout{SECOND_DATA_SIZE, SECOND_ROW_COUNT, {}};
    CFieldTable &f = layout.fields;
    AddRun(f, 0, 4, PHASE_COUNT, k, 1); // dU
    for (int p = 0; p < PHASE_COUNT; ++p)
        AddRun(f, 24 + 156 * std::size_t(p), 4, HARMONIC_COUNT, k, 8 + 40 * p);
    AddRun(f, 960, 4, PHASE_COUNT, k, 248); // Ku
    AddRun(f, 984, 4, 2, k, 255);           // K0, K2
    AddRun(f, 992, 4, 1, k, 259);           // U1
    AddRun(f, 996, 4, 1, k, 262);           // F
    AddRun(f, 1000, 4, PHASE_COUNT, k, 265); // UA ... UCA
    AddRun(f, 1024, 4, 1, k, 258);          // U0
    AddRun(f, 1028, 4, 1, k, 260);          // U2
    AddRun(f, 1032, 4, 1, k, 263);          // dF
    return Sorted(std::move(layout));
}

SLayout BuildMinuteLayout()
{
    const EFieldKind k = EFieldKind::Centi16;
    SLayout layout{MINUTE_DATA_SIZE, MINUTE_ROW_COUNT, {}};
    CFieldTable &f = layout.fields;
    AddRun(f, 0, 2, PHASE_COUNT, k, 1); // dU
    for (int p = 0; p < PHASE_COUNT; ++p)
        AddRun(f, 12 + 78 * std::size_t(p), 2, HARMONIC_COUNT, k, 8 + 40 * p);
    AddRun(f, 480, 2, PHASE_COUNT, k, 248); // Ku
    AddRun(f, 492, 2, 2, k, 255);           // K0, K2
    AddRun(f, 496, 2, 1, k, 258);           // dU1
    AddRun(f, 498, 2, 1, k, 260);           // dF
    return Sorted(std::move(layout));
}

// In the Tprov and Tper areas the day and interval values of one phase are
// neighbours (stride 8), while the list shows all day rows first.
SLayout BuildDayLayout()
{
    const EFieldKind k = EFieldKind::Centi16;
    SLayout layout{DAY_DATA_SIZE, DAY_ROW_COUNT, {}};
    CFieldTable &f = layout.fields;
    for (int p = 0; p < PHASE_COUNT; ++p) {
        const std::size_t nBase = 24 * std::size_t(p);
        AddRun(f, nBase, 2, 6, k, 1 + 14 * p);       // dU, day
        AddRun(f, nBase + 12, 2, 6, k, 8 + 14 * p);  // dU, interval
    }
    AddRun(f, 144, 2, 6, k, 85); // dF
    for (int p = 0; p < PHASE_COUNT; ++p)
        for (int h = 0; h < HARMONIC_COUNT; ++h)
            AddRun(f, 156 + 312 * std::size_t(p) + 8 * std::size_t(h), 2, 4, k,
                   92 + 195 * p + 5 * h);
    for (int p = 0; p < PHASE_COUNT; ++p)
        AddRun(f, 2028 + 8 * std::size_t(p), 2, 4, k, 1262 + 5 * p); // KU
    AddRun(f, 2076, 2, 4, k, 1292); // K0U
    AddRun(f, 2084, 2, 4, k, 1297); // K2U
    AddRun(f, 2092, 8, PHASE_COUNT, EFieldKind::Fiftieths32, 1302); // Tprov, day
    AddRun(f, 2096, 8, PHASE_COUNT, EFieldKind::Fiftieths32, 1309); // Tprov, interval
    AddRun(f, 2140, 8, PHASE_COUNT, EFieldKind::Fiftieths32, 1316); // Tper, day
    AddRun(f, 2144, 8, PHASE_COUNT, EFieldKind::Fiftieths32, 1323); // Tper, interval
    AddRun(f, 2188, 4, 2, EFieldKind::Duration32, 1330); // work
    AddRun(f, 2196, 4, 2, EFieldKind::Duration32, 1333); // idle
    return Sorted(std::move(layout));
}

const SLayout &SecondLayout()
{
    static const SLayout layout = BuildSecondLayout();
    return layout;
}

const SLayout &MinuteLayout()
{
    static const SLayout layout = BuildMinuteLayout();
    return layout;
}

const SLayout &DayLayout()
{
    static const SLayout layout = BuildDayLayout();
    return layout;
}

// Little-endian reads that refuse to step past the end of the buffer.
bool ReadU16(const std::uint8_t *pData, std::size_t nSize, std::size_t nOffset,
             std::uint16_t &nOut)
{
    if (nOffset > nSize || nSize - nOffset < 2)
        return false;
    nOut = std::uint16_t(pData[nOffset] | (pData[nOffset + 1] << 8));
    return true;
}

bool ReadU32(const std::uint8_t *pData, std::size_t nSize, std::size_t nOffset,
             std::uint32_t &nOut)
{
    if (nOffset > nSize || nSize - nOffset < 4)
        return false;
    nOut = std::uint32_t(pData[nOffset]) | std::uint32_t(pData[nOffset + 1]) << 8
           | std::uint32_t(pData[nOffset + 2]) << 16 | std::uint32_t(pData[nOffset + 3]) << 24;
    return true;
}

// The field's value as the meter sent it, sign-extended where its kind is
// signed.
bool FieldRaw(const std::uint8_t *pData, std::size_t nSize, const SField &field, qint64 &nOut)
{
    if (field.eKind == EFieldKind::Centi16) {
        std::uint16_t n = 0;
        if (!ReadU16(pData, nSize, field.nOffset, n))
            return false;
        nOut = std::int16_t(n);
        return true;
    }
    std::uint32_t n = 0;
    if (!ReadU32(pData, nSize, field.nOffset, n))
        return false;
    nOut = field.eKind == EFieldKind::Milli32 ? qint64(std::int32_t(n)) : qint64(n);
    return true;
}

QString ShownText(EFieldKind eKind, qint64 nRaw)
{
    switch (eKind) {
    case EFieldKind::Milli32:
        return FormatMilli(std::int32_t(nRaw));
    case EFieldKind::Centi16:
        return FormatCenti(std::int16_t(nRaw));
    case EFieldKind::Fiftieths32:
        return FormatFiftieths(std::uint32_t(nRaw));
    case EFieldKind::Duration32:
        return FormatDuration(std::uint32_t(nRaw));
    }
    return QString();
}

QByteArray ExactText(EFieldKind eKind, qint64 nRaw)
{
    switch (eKind) {
    case EFieldKind::Milli32:
        return ExactMilli(std::int32_t(nRaw));
    case EFieldKind::Centi16:
        return ExactCenti(std::int16_t(nRaw));
    case EFieldKind::Fiftieths32:
        return ExactFiftieths(std::uint32_t(nRaw));
    case EFieldKind::Duration32:
        return ExactSeconds(std::uint32_t(nRaw));
    }
    return QByteArray();
}

// The text of every field in row order, shown or exact; false (out
// unchanged) for a buffer shorter than the data set.
template <typename Text>
bool FieldTexts(const SLayout &layout, const std::uint8_t *pData, std::size_t nSize,
                Text (*pText)(EFieldKind, qint64), std::vector<Text> &out)
{
    if (pData == nullptr || nSize < layout.nDataSize)
        return false;
    std::vector<Text> texts;
    texts.reserve(layout.fields.size());
    for (const SField &field : layout.fields) {
        qint64 nRaw = 0;
        if (!FieldRaw(pData, layout.nDataSize, field, nRaw))
            return false;
        texts.push_back(pText(field.eKind, nRaw));
    }
    out = std::move(texts);
    return true;
}

// All texts are made first and only then written, so that any refusal
// leaves the rows as they were.
bool Decode(const SLayout &layout, const std::uint8_t *pData, std::size_t nSize, CListRows &rows)
{
    std::vector<QString> texts;
    if (rows.size() != std::size_t(layout.nRowCount) || !FieldTexts(layout, pData, nSize, ShownText, texts))
        return false;
    for (std::size_t i = 0; i < layout.fields.size(); ++i)
        rows[std::size_t(layout.fields[i].nRow)].strValue = texts[i];
    return true;
}

} // namespace

bool DecodeSecond(const std::uint8_t *pData, std::size_t nSize, CListRows &rows)
{
    return Decode(SecondLayout(), pData, nSize, rows);
}

bool DecodeMinute(const std::uint8_t *pData, std::size_t nSize, CListRows &rows)
{
    return Decode(MinuteLayout(), pData, nSize, rows);
}

bool DecodeDay(const std::uint8_t *pData, std::size_t nSize, CListRows &rows)
{
    return Decode(DayLayout(), pData, nSize, rows);
}

// Every named row has exactly one field, so the fields in row order are the
// named rows in list order.
bool SecondExactValues(const std::uint8_t *pData, std::size_t nSize, std::vector<QByteArray> &out)
{
    return FieldTexts(SecondLayout(), pData, nSize, ExactText, out);
}

bool MinuteExactValues(const std::uint8_t *pData, std::size_t nSize, std::vector<QByteArray> &out)
{
    return FieldTexts(MinuteLayout(), pData, nSize, ExactText, out);
}

bool DayExactValues(const std::uint8_t *pData, std::size_t nSize, std::vector<QByteArray> &out)
{
    return FieldTexts(DayLayout(), pData, nSize, ExactText, out);
}

// Every field of the second layout is a signed 32-bit value.
bool SecondRawFields(const std::uint8_t *pData, std::size_t nSize, std::vector<SRawValue> &out)
{
    const SLayout &layout = SecondLayout();
    if (pData == nullptr || nSize < layout.nDataSize)
        return false;
    std::vector<SRawValue> values;
    values.reserve(layout.fields.size());
    for (const SField &field : layout.fields) {
        qint64 nRaw = 0;
        if (!FieldRaw(pData, layout.nDataSize, field, nRaw))
            return false;
        values.push_back(SRawValue{field.nRow, std::int32_t(nRaw)});
    }
    out = std::move(values);
    return true;
}

bool SecondRawValues(const std::uint8_t *pData, std::size_t nSize, std::vector<std::int32_t> &out)
{
    std::vector<SRawValue> fields;
    if (!SecondRawFields(pData, nSize, fields))
        return false;
    out.clear();
    out.reserve(fields.size());
    for (const SRawValue &field : fields)
        out.push_back(field.nRaw);
    return true;
}
