// The settings file: an INI text in Windows-1251 with "[section]" lines and
// "key=value" lines. Reading never fails (a missing, binary or oversized file
// gives the default); writing a key replaces that key's line alone and keeps
// every other byte of the file.
#pragma once

#include <QString>

class CSettingsFile {
public:
    explicit CSettingsFile(QString strPath) : m_strPath(std::move(strPath)) {}

    // Only this much of a file is ever read; a larger file is not rewritten,
    // and no write makes a file larger.
    static constexpr qint64 MAX_BYTES = 64 * 1024;

    // Section and key names compare without regard to case; blanks around
    // names and values do not count.
    QString Read(const QString &strSection, const QString &strKey, const QString &strDefault) const;
    // Creates the file and the section when they are missing. False when the
    // file cannot be read or written, when the written file would outgrow
    // MAX_BYTES, or when the file cannot hold the names or the value (a line
    // break, "=" in the key, "]" in the section, blanks around a name); the
    // file is then left as it was. A value written reads back with the blanks
    // around it and one pair of enclosing quotes taken off.
    bool Write(const QString &strSection, const QString &strKey, const QString &strValue) const;

    const QString &Path() const { return m_strPath; }

private:
    QString m_strPath;
};
