#include "service/daily_csv.h"

#include <QDateTime>
#include <QDir>

#include <cerrno>
#include <cstring>

QString CDailyCsv::PathOf(const QDate &date) const
{
    return m_strFolder + u'/' + date.toString(Qt::ISODate) + QStringLiteral(".csv");
}

SCsvWrite CDailyCsv::Open(const QDate &date)
{
    SCsvWrite result;
    result.strPath = PathOf(date);
    m_file.Close();
    m_openDate = QDate();
    if (!QDir().mkpath(m_strFolder)) {
        result.bOk = false;
        result.strError = QStringLiteral("the folder %1 cannot be made").arg(m_strFolder);
        return result;
    }
    if (m_file.Open(result.strPath, m_eSet) != EFileResult::Ok) {
        result.bOk = false;
        result.strError = m_file.ErrorText();
        return result;
    }
    result.nCut = m_file.CutBytes();
    m_openDate = date;
    return result;
}

SCsvWrite CDailyCsv::Append(qint64 nMsecsSinceEpoch, const QByteArray &row)
{
    const QDate date = QDateTime::fromMSecsSinceEpoch(nMsecsSinceEpoch).date();
    SCsvWrite result;
    if (!m_file.IsOpen() || date != m_openDate) {
        result = Open(date);
        if (!result.bOk)
            return result;
    }
    result.strPath = PathOf(date);
    if (m_file.Append(row) != EFileResult::Ok) {
        result.bOk = false;
        result.strError = m_file.ErrorText();
        m_openDate = QDate();
    }
    return result;
}
