#include "app/report_command.h"

QList<QCommandLineOption> ReportOptions()
{
    return {};
}

int RunReportCommand(const QStringList &, const PdfWriter &)
{
    return 2;
}
