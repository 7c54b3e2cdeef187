// The limits file: "name = value" lines, the text the operator edits.
#include "data/supply_limits.h"
#include "data/supply_limits_file.h"

#include <QStringDecoder>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>

namespace {

// The quantities a limit may be set for, in the order the file lists them:
// the harmonic orders by their number, then these.
enum EQuantity : int {
    TOTAL = LAST_HARMONIC_ORDER + 1,
    UNBALANCE,
    FREQUENCY,
    VOLTAGE,
    FREQUENCY_HARD,
    VOLTAGE_HARD,
    QUANTITY_END
};

QByteArray KeyOf(int nQuantity)
{
    switch (nQuantity) {
    case TOTAL:
        return "Ku";
    case UNBALANCE:
        return "K2";
    case FREQUENCY:
        return "dF";
    case VOLTAGE:
        return "dU";
    case FREQUENCY_HARD:
        return "dF100";
    case VOLTAGE_HARD:
        return "dU100";
    default:
        return "Ku" + QByteArray::number(nQuantity);
    }
}

// The quantity a file key names, or -1.
int QuantityOfKey(const QByteArray &key)
{
    for (int q = FIRST_HARMONIC_ORDER; q < QUANTITY_END; ++q)
        if (KeyOf(q) == key)
            return q;
    return -1;
}

std::optional<SLimitBand> Get(const CLimits &limits, int nQuantity)
{
    switch (nQuantity) {
    case TOTAL:
        return limits.TotalDistortion();
    case UNBALANCE:
        return limits.Unbalance();
    case FREQUENCY:
        return limits.FrequencyDeviation();
    case VOLTAGE:
        return limits.VoltageDeviation();
    case FREQUENCY_HARD:
        return limits.FrequencyHardBand();
    case VOLTAGE_HARD:
        return limits.VoltageHardBand();
    default:
        return limits.Harmonic(nQuantity);
    }
}

void Set(CLimits &limits, int nQuantity, std::optional<SLimitBand> band)
{
    switch (nQuantity) {
    case TOTAL:
        limits.SetTotalDistortion(band);
        break;
    case UNBALANCE:
        limits.SetUnbalance(band);
        break;
    case FREQUENCY:
        limits.SetFrequencyDeviation(band);
        break;
    case VOLTAGE:
        limits.SetVoltageDeviation(band);
        break;
    case FREQUENCY_HARD:
        limits.SetFrequencyHardBand(band);
        break;
    case VOLTAGE_HARD:
        limits.SetVoltageHardBand(band);
        break;
    default:
        limits.SetHarmonic(nQuantity, band);
        break;
    }
}


// The shortest text that reads back as the same double; locale-free.
QByteArray NumberText(double dValue)
{
    char buf[64];
    const std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, dValue);
    return QByteArray(buf, int(r.ptr - buf));
}

QByteArray BandText(const std::optional<SLimitBand> &band)
{
    if (!band)
        return "none";
    if (std::isinf(band->dMin))
        return NumberText(band->dMax);
    if (std::isinf(band->dMax))
        return NumberText(band->dMin) + " ..";
    return NumberText(band->dMin) + " .. " + NumberText(band->dMax);
}

// A finite number with a dot, an optional sign and an optional exponent.
std::optional<double> ParseNumber(QByteArray text)
{
    if (text.startsWith('+')) {
        text.remove(0, 1);
        if (text.startsWith('-'))
            return std::nullopt;
    }
    double d = 0;
    const char *pEnd = text.constData() + text.size();
    const std::from_chars_result r =
        std::from_chars(text.constData(), pEnd, d, std::chars_format::general);
    if (text.isEmpty() || r.ec != std::errc() || r.ptr != pEnd || !std::isfinite(d))
        return std::nullopt;
    return d;
}

enum class EValueError { None, Unreadable, MinAboveMax };

struct SParsedValue {
    std::optional<SLimitBand> band;
    EValueError eError = EValueError::None;
};

// "none", "6" (an upper bound), "-0.5 .. 0.5", ".. 6" or "-10 ..".
SParsedValue ParseValue(const QByteArray &text)
{
    if (text == "none")
        return {};
    const qsizetype nDots = text.indexOf("..");
    if (nDots < 0) {
        const std::optional<double> dMax = ParseNumber(text);
        if (!dMax)
            return {std::nullopt, EValueError::Unreadable};
        SLimitBand band; // from -inf
        band.dMax = *dMax;
        return {band};
    }
    const QByteArray minText = text.left(nDots).trimmed();
    const QByteArray maxText = text.mid(nDots + 2).trimmed();
    SLimitBand band;
    if (!minText.isEmpty()) {
        const std::optional<double> d = ParseNumber(minText);
        if (!d)
            return {std::nullopt, EValueError::Unreadable};
        band.dMin = *d;
    }
    if (!maxText.isEmpty()) {
        const std::optional<double> d = ParseNumber(maxText);
        if (!d)
            return {std::nullopt, EValueError::Unreadable};
        band.dMax = *d;
    }
    if (minText.isEmpty() && maxText.isEmpty())
        return {std::nullopt, EValueError::Unreadable};
    if (band.dMin > band.dMax)
        return {std::nullopt, EValueError::MinAboveMax};
    return {band};
}

bool IsUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString strDecoded = decoder.decode(bytes); // decoding happens on conversion
    Q_UNUSED(strDecoded);
    return !decoder.hasError();
}

// A text from the file in quotes, cut short so that a stray binary file
// does not fill the message.
QString Quoted(const QByteArray &bytes)
{
    constexpr qsizetype MAX_SHOWN = 40;
    QString str = QString::fromUtf8(bytes);
    if (str.size() > MAX_SHOWN)
        str = str.left(MAX_SHOWN) + QStringLiteral("…");
    return QStringLiteral("«") + str + QStringLiteral("»");
}

QString Where(const QString &strFileName, int nLine)
{
    return QStringLiteral("Файл пределов %1, строка %2: ").arg(strFileName, QString::number(nLine));
}

const QString &DefaultTaken()
{
    static const QString str = QStringLiteral("; взят предел по умолчанию.");
    return str;
}

const QString &LineSkipped()
{
    static const QString str = QStringLiteral("; строка пропущена.");
    return str;
}

// One line that names a quantity.
struct SEntry {
    int nLine;
    QByteArray value;
    bool bUtf8;
};

struct SProblem {
    int nLine;
    QString strText;
};

// The explanation at the top of the file; the operator reads and edits it.
const char FILE_HEADER[] =
    "# Пределы показателей качества электроэнергии для программы Varik.\n"
    "#\n"
    "# Значения по умолчанию взяты из EN 50160 для электрических сетей\n"
    "# низкого напряжения. В EN 50160 это нормы для значений, усреднённых\n"
    "# за 10 минут (частота - за 10 секунд); программа сравнивает с ними каждое\n"
    "# показанное значение. Строка списков «Секунда» и «Минута» со значением\n"
    "# за пределом выделяется цветом.\n"
    "#\n"
    "# Одна строка - один предел: имя = значение. Текст после # - примечание,\n"
    "# пустые строки не читаются. Числа пишутся с точкой: 0.5. Значение:\n"
    "#   Ku5 = 6             одно число - верхний предел (не больше 6)\n"
    "#   dF = -0.5 .. 0.5    нижний и верхний пределы через ..\n"
    "#   dU = -10 ..         только нижний предел; .. 10 - только верхний\n"
    "#   Ku27 = none         предела нет\n"
    "#\n"
    "# Имена:\n"
    "#   Ku2 ... Ku40  гармоническая составляющая напряжения порядка 2 ... 40,\n"
    "#                 % от основной (строки Ku2A ... Ku40CA)\n"
    "#   Ku            коэффициент искажения синусоидальности напряжения, %\n"
    "#                 (строки KuA ... KuCA)\n"
    "#   K2            несимметрия напряжений по обратной последовательности, %\n"
    "#   dF            отклонение частоты, Гц\n"
    "#   dU            отклонение напряжения, % (строки dUA ... dUCA)\n"
    "#   dF100         отклонение частоты, Гц, которое не может покинуть ни одно\n"
    "#                 10-секундное значение (в отчёте; не 99,5 %, а 100 % времени)\n"
    "#   dU100         отклонение напряжения, %, которое не может покинуть ни одно\n"
    "#                 10-минутное значение (в отчёте; 100 % времени)\n"
    "# Для K0 и остальных величин пределов нет.\n"
    "#\n"
    "# Для системы без синхронной связи с энергосистемой (остров) EN 50160 даёт\n"
    "# при 50 Гц dF = -1 .. 1 (99,5 % времени, +-2 %) и dF100 = -7.5 .. 7.5\n"
    "# (+-15 %) вместо -0.5 .. 0.5 и -3 .. 2.\n"
    "#\n"
    "# Имя, которого нет в файле, получает предел по умолчанию. Строку, которую\n"
    "# не удалось прочитать, программа называет при запуске и берёт для её\n"
    "# величины предел по умолчанию; так же с именем, заданным дважды.\n"
    "# Файл в кодировке UTF-8.\n"
    "\n";

} // namespace

QByteArray LimitsFileBytes(const CLimits &limits)
{
    QByteArray bytes(FILE_HEADER);
    for (int q = FIRST_HARMONIC_ORDER; q < QUANTITY_END; ++q) {
        if (q == TOTAL || q == FREQUENCY_HARD)
            bytes += '\n';
        bytes += KeyOf(q) + " = " + BandText(Get(limits, q)) + '\n';
    }
    return bytes;
}

SLimitsRead ParseLimits(const QByteArray &utf8, const QString &strFileName)
{
    std::map<int, std::vector<SEntry>> entries; // by quantity
    std::vector<SProblem> problems;

    const QList<QByteArray> lines = utf8.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int nLine = int(i) + 1;
        QByteArray line = lines[i];
        if (i == 0 && line.startsWith("\xEF\xBB\xBF"))
            line.remove(0, 3);
        // '#' is never part of a multi-byte character, in UTF-8 or in an
        // 8-bit code page, so a comment saved in the wrong encoding is cut
        // off here without a word.
        const qsizetype nHash = line.indexOf('#');
        if (nHash >= 0)
            line.truncate(nHash);
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        const bool bUtf8 = IsUtf8(line);
        const qsizetype nEquals = line.indexOf('=');
        if (nEquals < 0) {
            problems.push_back({nLine, Where(strFileName, nLine)
                                           + (bUtf8 ? QStringLiteral("нет знака «=» в тексте ")
                                                          + Quoted(line)
                                                    : QStringLiteral("текст не в кодировке UTF-8"))
                                           + LineSkipped()});
            continue;
        }
        const QByteArray key = line.left(nEquals).trimmed();
        const int nQuantity = QuantityOfKey(key);
        if (nQuantity < 0) {
            problems.push_back(
                {nLine, Where(strFileName, nLine)
                            + (bUtf8 ? QStringLiteral("неизвестное имя ") + Quoted(key)
                                           + QStringLiteral(" (известны Ku2 ... Ku40, Ku, K2, dF, dU, dF100, dU100)")
                                     : QStringLiteral("текст не в кодировке UTF-8"))
                            + LineSkipped()});
            continue;
        }
        entries[nQuantity].push_back(SEntry{nLine, line.mid(nEquals + 1).trimmed(), bUtf8});
    }

    CLimits limits = CLimits::Defaults();
    for (const auto &[nQuantity, list] : entries) {
        const QString strKey = QString::fromLatin1(KeyOf(nQuantity));
        const SEntry &first = list.front();
        std::optional<SLimitBand> band;
        bool bRead = false;
        if (!first.bUtf8) {
            problems.push_back({first.nLine, Where(strFileName, first.nLine)
                                                 + QStringLiteral("значение для %1 не в кодировке UTF-8")
                                                       .arg(strKey)
                                                 + DefaultTaken()});
        } else {
            const SParsedValue parsed = ParseValue(first.value);
            if (parsed.eError == EValueError::Unreadable)
                problems.push_back(
                    {first.nLine,
                     Where(strFileName, first.nLine)
                         + QStringLiteral("не прочитано значение %1 для %2 (нужно число с точкой, "
                                          "два числа через .. или none)")
                               .arg(Quoted(first.value), strKey)
                         + DefaultTaken()});
            else if (parsed.eError == EValueError::MinAboveMax)
                problems.push_back({first.nLine,
                                    Where(strFileName, first.nLine)
                                        + QStringLiteral("для %1 нижний предел больше верхнего: %2")
                                              .arg(strKey, Quoted(first.value))
                                        + DefaultTaken()});
            else {
                band = parsed.band;
                bRead = true;
            }
        }
        for (std::size_t k = 1; k < list.size(); ++k)
            problems.push_back({list[k].nLine, Where(strFileName, list[k].nLine)
                                                   + QStringLiteral("%1 уже задан в строке %2")
                                                         .arg(strKey, QString::number(first.nLine))
                                                   + DefaultTaken()});
        if (bRead && list.size() == 1)
            Set(limits, nQuantity, band);
    }

    std::stable_sort(problems.begin(), problems.end(),
                     [](const SProblem &a, const SProblem &b) { return a.nLine < b.nLine; });
    SLimitsRead read{limits, {}};
    for (const SProblem &problem : problems)
        read.problems.append(problem.strText);
    return read;
}
