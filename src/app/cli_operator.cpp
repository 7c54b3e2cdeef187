#include "app/cli_operator.h"

#include "link/link_messages.h"

#include <cstdio>

namespace {

void Print(std::FILE *pOut, const QString &strText)
{
    const QByteArray bytes = strText.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), pOut);
    std::fflush(pOut);
}

} // namespace

CCliOperator::CCliOperator(int nLevelIndex, const QString &strPassword)
    : m_nLevelIndex(nLevelIndex), m_strPassword(strPassword)
{
}

void CCliOperator::ShowMessage(const QString &strText, EMsgIcon icon)
{
    Q_UNUSED(icon);
    Fail(strText);
}

void CCliOperator::ShowUnlocked(int nLevel)
{
    // The one message that is no failure: a script reads it on standard output.
    Print(stdout, LinkText::PasswordAccepted(nLevel));
}

bool CCliOperator::AskYesNo(const QString &strText)
{
    Fail(strText);
    return false;
}

bool CCliOperator::AskAccess(int &nLevel, QString &strPassword)
{
    nLevel = m_nLevelIndex;
    strPassword = m_strPassword;
    return true;
}

void CCliOperator::Fail(const QString &strText)
{
    m_bFailed = true;
    Print(stderr, strText);
}

void CCliOperator::Note(const QString &strText)
{
    Print(stderr, strText);
}
