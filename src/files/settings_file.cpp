#include "files/settings_file.h"

#include "files/file_output.h"
#include "data/list_file.h"

#include <QFile>

namespace {

// A line of the file with its own line ending, so that it can be written
// back unchanged.
struct SLine {
    QByteArray body;
    QByteArray ending;
};

QList<SLine> SplitLines(const QByteArray &text)
{
    QList<SLine> lines;
    qsizetype nStart = 0;
    while (nStart < text.size()) {
        qsizetype nEnd = text.indexOf('\n', nStart);
        SLine line;
        if (nEnd < 0) {
            line.body = text.mid(nStart);
            nStart = text.size();
        } else {
            line.body = text.mid(nStart, nEnd - nStart);
            line.ending = "\n";
            if (line.body.endsWith('\r')) {
                line.body.chop(1);
                line.ending = "\r\n";
            }
            nStart = nEnd + 1;
        }
        lines.append(line);
    }
    return lines;
}

bool IsSectionLine(const QByteArray &body)
{
    return body.trimmed().startsWith('[');
}

// True for the "[name]" line of that section.
bool IsSection(const QByteArray &body, const QString &strSection)
{
    if (!IsSectionLine(body))
        return false;
    const QByteArray trimmed = body.trimmed();
    const qsizetype nClose = trimmed.indexOf(']');
    const QString name = FromCp1251(trimmed.mid(1, nClose < 0 ? -1 : nClose - 1).trimmed());
    return name.compare(strSection, Qt::CaseInsensitive) == 0;
}

// True for a "key=value" line of that key; *pValue gets its value.
bool IsKey(const QByteArray &body, const QString &strKey, QString *pValue = nullptr)
{
    qsizetype nEquals = body.indexOf('=');
    if (nEquals < 0)
        return false;
    const QString key = FromCp1251(body.left(nEquals).trimmed());
    if (key.compare(strKey, Qt::CaseInsensitive) != 0)
        return false;
    if (pValue) {
        QByteArray value = body.mid(nEquals + 1).trimmed();
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        *pValue = FromCp1251(value);
    }
    return true;
}

bool HasLineBreak(const QString &strText)
{
    return strText.contains(QLatin1Char('\n')) || strText.contains(QLatin1Char('\r'));
}

// Whether a key line written from these reads back as that key of that
// section: a line feed would split the line and a carriage return would join
// its ending, "=" in a key or "]" in a section name would cut the name short,
// a key that starts with "[" reads as a section, and a name with blanks
// around it, or with a character Windows-1251 lacks, never matches again, so
// every write would add another line.
bool FileCanHold(const QString &strSection, const QString &strKey, const QString &strValue)
{
    const QByteArray section = ToCp1251(strSection);
    const QByteArray key = ToCp1251(strKey);
    return !HasLineBreak(strSection) && !HasLineBreak(strKey) && !HasLineBreak(strValue)
           && !section.contains(']') && section == section.trimmed() && FromCp1251(section) == strSection
           && !key.contains('=') && !key.startsWith('[') && key == key.trimmed() && FromCp1251(key) == strKey;
}

bool ReadBounded(const QString &strPath, QByteArray *pText, bool *pWhole)
{
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *pText = file.read(CSettingsFile::MAX_BYTES + 1);
    *pWhole = pText->size() <= CSettingsFile::MAX_BYTES;
    if (!*pWhole)
        pText->truncate(CSettingsFile::MAX_BYTES);
    return true;
}

} // namespace

QString CSettingsFile::Read(const QString &strSection, const QString &strKey, const QString &strDefault) const
{
    QByteArray text;
    bool bWhole = true;
    if (!ReadBounded(m_strPath, &text, &bWhole))
        return strDefault;
    bool bInSection = false;
    for (const SLine &line : SplitLines(text)) {
        if (IsSectionLine(line.body)) {
            bInSection = IsSection(line.body, strSection);
            continue;
        }
        QString value;
        if (bInSection && IsKey(line.body, strKey, &value))
            return value;
    }
    return strDefault;
}

bool CSettingsFile::Write(const QString &strSection, const QString &strKey, const QString &strValue) const
{
    if (!FileCanHold(strSection, strKey, strValue))
        return false;
    QByteArray text;
    bool bWhole = true;
    if (QFile::exists(m_strPath) && (!ReadBounded(m_strPath, &text, &bWhole) || !bWhole))
        return false;

    QList<SLine> lines = SplitLines(text);
    const QByteArray ending = lines.isEmpty() || lines.front().ending.isEmpty() ? QByteArray("\r\n")
                                                                                 : lines.front().ending;
    const QByteArray keyLine = ToCp1251(strKey) + '=' + ToCp1251(strValue);

    qsizetype nSection = -1;
    for (qsizetype i = 0; i < lines.size() && nSection < 0; ++i) {
        if (IsSection(lines[i].body, strSection))
            nSection = i;
    }
    if (nSection < 0) {
        if (!lines.isEmpty() && lines.back().ending.isEmpty())
            lines.back().ending = ending;
        lines.append({'[' + ToCp1251(strSection) + ']', ending});
        lines.append({keyLine, ending});
    } else {
        qsizetype nLastFilled = nSection; // the new key goes after the section's last non-blank line
        qsizetype nKey = -1;
        for (qsizetype i = nSection + 1; i < lines.size() && !IsSectionLine(lines[i].body); ++i) {
            if (IsKey(lines[i].body, strKey)) {
                nKey = i;
                break;
            }
            if (!lines[i].body.trimmed().isEmpty())
                nLastFilled = i;
        }
        if (nKey >= 0) {
            lines[nKey].body = keyLine;
        } else {
            if (lines[nLastFilled].ending.isEmpty())
                lines[nLastFilled].ending = ending;
            lines.insert(nLastFilled + 1, {keyLine, ending});
        }
    }

    QByteArray out;
    for (const SLine &line : lines)
        out += line.body + line.ending;
    // Read stops at MAX_BYTES: a key written beyond it would be lost.
    if (out.size() > MAX_BYTES)
        return false;

    return ReplaceFile(m_strPath, out) == EFileResult::Ok;
}
