// The settings file on arbitrary content: read keys, write one, read it
// back. Input: a flags byte, a padding byte, then fields cut at NUL bytes:
//   flags & 3 == 0: value, content      (section "Связь", key "Порт")
//   flags & 3 == 1: value, content      (section "Связь", key "Скорость")
//   otherwise:      section, key, value, content
// Names and values are Windows-1251 bytes. With flags & 4 the content is
// preceded by a comment line that brings the file to MAX_BYTES - 128 +
// padding bytes, so near the read limit, where a write may no longer fit,
// and past it.
#include "data/list_file.h"
#include "files/settings_file.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void Require(bool bHolds, const char *pWhat)
{
    if (!bHolds) {
        std::fprintf(stderr, "property broken: %s\n", pWhat);
        std::abort();
    }
}

// Read returns one line's text, so this default can never be a value read.
const QString NOT_FOUND = QStringLiteral("\n(not found)\n");

QByteArray FileBytes(const QString &strPath)
{
    QFile file(strPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void PutFile(const QString &strPath, const QByteArray &bytes)
{
    QFile file(strPath);
    Require(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size(),
            "the fuzzer's own file written");
}

// Lines with their endings, exactly as the bytes hold them.
QList<QByteArray> Lines(const QByteArray &bytes)
{
    QList<QByteArray> lines;
    qsizetype nStart = 0;
    while (nStart < bytes.size()) {
        const qsizetype nEnd = bytes.indexOf('\n', nStart);
        const qsizetype nNext = nEnd < 0 ? bytes.size() : nEnd + 1;
        lines.append(bytes.mid(nStart, nNext - nStart));
        nStart = nNext;
    }
    return lines;
}

bool EndsLine(const QByteArray &line)
{
    return line.endsWith('\n');
}

// The key of a "key=value" line, as the file's reader sees it.
bool IsLineOfKey(const QByteArray &line, const QString &strKey)
{
    const qsizetype nEquals = line.indexOf('=');
    return nEquals >= 0 && FromCp1251(line.left(nEquals).trimmed()).compare(strKey, Qt::CaseInsensitive) == 0;
}

// A write changes one place of the file: the key's line is replaced (its
// ending kept), or the key line is inserted, or a section line and the key
// line are appended; an unterminated line before an insertion gets a line
// ending. Every other line keeps its bytes.
void CheckOnlyTheKeyChanged(const QByteArray &before, const QByteArray &after, const QString &strSection,
                            const QString &strKey, const QString &strValue)
{
    const QList<QByteArray> b = Lines(before);
    const QList<QByteArray> a = Lines(after);
    qsizetype nHead = 0;
    while (nHead < b.size() && nHead < a.size() && a[nHead] == b[nHead])
        ++nHead;
    qsizetype nTail = 0;
    while (nTail < b.size() - nHead && nTail < a.size() - nHead && a[a.size() - 1 - nTail] == b[b.size() - 1 - nTail])
        ++nTail;
    QList<QByteArray> removed = b.mid(nHead, b.size() - nHead - nTail);
    QList<QByteArray> added = a.mid(nHead, a.size() - nHead - nTail);
    if (removed.isEmpty() && added.isEmpty())
        return; // the key's line was already what was written

    const QByteArray keyLine = ToCp1251(strKey) + '=' + ToCp1251(strValue);
    Require(removed.size() <= 1, "at most one line of the file changes");
    if (removed.size() == 1 && added.size() == 1 && IsLineOfKey(removed[0], strKey)) {
        const QByteArray ending = removed[0].endsWith("\r\n") ? QByteArray("\r\n")
                                  : EndsLine(removed[0])        ? QByteArray("\n")
                                                                : QByteArray();
        Require(added[0] == keyLine + ending, "the key's line is replaced, its ending kept");
        return;
    }
    if (removed.size() == 1) {
        Require(!EndsLine(removed[0]) && !added.isEmpty() && added[0].startsWith(removed[0])
                    && (added[0] == removed[0] + '\n' || added[0] == removed[0] + "\r\n"),
                "only an unterminated last line gains a line ending");
        added.removeFirst();
    }
    const auto isLine = [](const QByteArray &line, const QByteArray &body) {
        return line == body + '\n' || line == body + "\r\n";
    };
    if (added.size() == 1) {
        Require(isLine(added[0], keyLine), "a single inserted line is the key's");
    } else {
        Require(added.size() == 2 && isLine(added[0], '[' + ToCp1251(strSection) + ']') && isLine(added[1], keyLine)
                    && nTail == 0,
                "a new section and its key are appended at the end");
    }
}

// The value as written reads back exactly unless blanks or a pair of quotes
// enclose it; those the reader takes off, as any INI reader does.
bool ReadsBackExactly(const QString &strValue)
{
    const QByteArray bytes = ToCp1251(strValue);
    const bool bQuoted = bytes.size() >= 2 && (bytes.front() == '"' || bytes.front() == '\'') && bytes.back() == bytes.front();
    return bytes == bytes.trimmed() && !bQuoted;
}

// Every write syncs the file to disk; in memory that costs nothing, so the
// fuzzer works in /dev/shm where there is one.
QString TemporaryTemplate()
{
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    const QString strBase = shm.isDir() && shm.isWritable() ? shm.filePath() : QDir::tempPath();
    return strBase + QStringLiteral("/varik-fuzz-XXXXXX");
}

const QString &Path()
{
    static QTemporaryDir dir(TemporaryTemplate());
    static const QString strPath = dir.filePath(QStringLiteral("varik.INI"));
    Require(dir.isValid(), "temporary folder");
    return strPath;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *pData, std::size_t nSize)
{
    if (nSize < 2)
        return 0;
    const std::uint8_t nFlags = pData[0];
    const std::uint8_t nPad = pData[1];
    const QList<QByteArray> fields =
        QByteArray(reinterpret_cast<const char *>(pData + 2), qsizetype(nSize - 2)).split('\0');

    QString strSection = QStringLiteral("Связь");
    QString strKey = (nFlags & 3) == 0 ? QStringLiteral("Порт") : QStringLiteral("Скорость");
    qsizetype nField = 0;
    if ((nFlags & 3) >= 2) {
        if (fields.size() < 4)
            return 0;
        strSection = FromCp1251(fields[nField++]);
        strKey = FromCp1251(fields[nField++]);
    } else if (fields.size() < 2) {
        return 0;
    }
    const QString strValue = FromCp1251(fields[nField++]);
    QByteArray content = fields.mid(nField).join('\0');
    if (nFlags & 4) {
        const qsizetype nFill = std::max<qsizetype>(0, CSettingsFile::MAX_BYTES - 128 + nPad - content.size() - 2);
        content = QByteArray(nFill, ';') + "\r\n" + content;
    }

    const QString &strPath = Path();
    PutFile(strPath, content);
    const CSettingsFile settings(strPath);

    // Any content reads, and reading leaves the file alone.
    settings.Read(strSection, strKey, NOT_FOUND);
    Require(FileBytes(strPath) == content, "reading leaves the file alone");

    if (!settings.Write(strSection, strKey, strValue)) {
        Require(FileBytes(strPath) == content, "a refused write leaves the file alone");
        return 0;
    }
    const QByteArray after = FileBytes(strPath);
    Require(after.size() <= CSettingsFile::MAX_BYTES, "a write keeps the file within what is read");
    const QString strRead = settings.Read(strSection, strKey, NOT_FOUND);
    Require(strRead != NOT_FOUND, "the written key reads back");
    if (ReadsBackExactly(strValue))
        Require(strRead == strValue, "the written value reads back");
    CheckOnlyTheKeyChanged(content, after, strSection, strKey, strValue);

    // Writing the same again finds the key's own line and changes nothing.
    Require(settings.Write(strSection, strKey, strValue), "the same write succeeds again");
    Require(FileBytes(strPath) == after, "the same write again changes nothing");
    return 0;
}
