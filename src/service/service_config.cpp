#include "service/service_config.h"

SConfigResult ReadServiceConfig(const QString &)
{
    return {};
}

SConfigResult ParseServiceConfig(const QByteArray &, const QString &)
{
    return {};
}

QStringList ProblemLines(const QString &, const std::vector<SConfigProblem> &)
{
    return {};
}

QStringList DescribeConfig(const SServiceConfig &)
{
    return {};
}
