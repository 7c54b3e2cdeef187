#include "app/cli_commands.h"

#include "app/cli_operator.h"
#include "data/catalogue.h"
#include "data/list_file.h"
#include "files/csv_log_file.h"
#include "files/file_output.h"
#include "files/file_text.h"
#include "session/meter_session.h"
#include "session/reading_csv.h"

#include <QFile>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <vector>

namespace {

volatile std::sig_atomic_t g_bStopRequested = 0;

void RequestStop(int)
{
    g_bStopRequested = 1;
}

// Takes the link settings as the window's commands do. Each run is one
// command, so --feeder holds for every request it sends, the connection
// check and the unlock included.
SLinkSettings PrepareSession(CMeterSession &session, const SCliLinkOptions &opts)
{
    session.SetSecondFeeder(opts.nFeeder == 2);
    return {opts.strPort, opts.nBaudRate, opts.strDevice};
}

// One read; false after a message when nothing usable came. A short reply
// is a failure here too, so a script never takes it for data.
bool ReadInto(CMeterSession &session, CCliOperator &op, const SCliLinkOptions &opts, EDataSet set,
              SReadResult &result)
{
    result = session.Read(PrepareSession(session, opts), set);
    if (result)
        return true;
    if (result.eFailure == ESessionFailure::ShortReply || result.eFailure == ESessionFailure::Undecodable)
        op.Fail(FailureText(result));
    return false;
}

// The window's message, then which file and what the system said.
QString CsvProblem(EFileResult result, const QString &strPath, const CCsvLogFile &csv)
{
    const QString strMessage =
        result == EFileResult::OpenFailed ? FileText::OpenFailed() : FileText::WriteFailed();
    return strMessage + u'\n' + strPath + QStringLiteral(": ") + csv.ErrorText();
}

bool WriteStdout(const QByteArray &bytes)
{
    const size_t n = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    return std::fflush(stdout) == 0 && n == size_t(bytes.size());
}

} // namespace

int RunCheck(CMeterSession &session, CCliOperator &op, const SCliLinkOptions &opts)
{
    const SSessionOutcome outcome = session.Check(PrepareSession(session, opts));
    return outcome && !op.Failed() ? 0 : 1;
}

int RunRead(CMeterSession &session, CCliOperator &op, const SCliLinkOptions &opts, EDataSet set,
            const QString &strOutput, bool bUtf8)
{
    SReadResult result;
    if (!ReadInto(session, op, opts, set, result))
        return 1;
    QByteArray bytes = ListFileBytes(result.reading.rows);
    if (bUtf8)
        bytes = FromCp1251(bytes).toUtf8();
    if (strOutput.isEmpty()) {
        if (!WriteStdout(bytes)) {
            op.Fail(FileText::WriteFailed());
            return 1;
        }
        return 0;
    }
    switch (ReplaceFile(strOutput, bytes)) {
    case EFileResult::Ok:
        return 0;
    case EFileResult::OpenFailed:
        op.Fail(FileText::OpenFailed());
        return 1;
    case EFileResult::WriteFailed:
        break;
    }
    op.Fail(FileText::WriteFailed());
    return 1;
}

int RunRecord(CMeterSession &session, CCliOperator &op, const SCliLinkOptions &opts, EDataSet set,
              const QString &strFile, const QString &strCsv, int nIntervalSec, int nCount)
{
    // A record is only ever appended to a file that exists already.
    if (!strFile.isEmpty() && !QFile::exists(strFile)) {
        op.Fail(FileText::OpenFailed());
        return 1;
    }
    // The CSV log is made when missing; opening a FIFO waits for its reader
    // before the signals below are taken over, so a signal still ends that wait.
    CCsvLogFile csv;
    if (!strCsv.isEmpty()) {
        const EFileResult result = csv.Open(strCsv, set);
        if (result != EFileResult::Ok) {
            op.Fail(CsvProblem(result, strCsv, csv));
            return 1;
        }
        if (csv.CutBytes() > 0)
            op.Note(strCsv + QStringLiteral(": ") + FileText::CsvTornRowCut(csv.CutBytes()));
    }
    g_bStopRequested = 0;
    std::signal(SIGINT, RequestStop);
    std::signal(SIGTERM, RequestStop);

    CListRows rows = SecondListRows();
    int nStatus = 0;
    for (int nDone = 0; nCount == 0 || nDone < nCount; ++nDone) {
        // A failed read has told why; the record keeps the values held, the
        // CSV log gets no row, and the exit status tells a script that not
        // every record is fresh.
        SReadResult result;
        const bool bRead = ReadInto(session, op, opts, set, result);
        if (bRead)
            rows = std::move(result.reading.rows);
        else
            nStatus = 1;
        const QByteArray csvRow = bRead && csv.IsOpen() ? ReadingCsvRow(result) : QByteArray();

        if (!strFile.isEmpty()) {
            const EFileResult result = AppendToExistingFile(strFile, RecordBytes(rows));
            if (result != EFileResult::Ok) {
                op.Fail(result == EFileResult::OpenFailed ? FileText::OpenFailed() : FileText::WriteFailed());
                nStatus = 1;
                break;
            }
        }
        if (!csvRow.isEmpty() && csv.Append(csvRow) != EFileResult::Ok) {
            op.Fail(CsvProblem(EFileResult::WriteFailed, strCsv, csv));
            nStatus = 1;
            break;
        }

        if (g_bStopRequested || (nCount != 0 && nDone + 1 >= nCount))
            break;
        for (qint64 nWaited = 0; nWaited < qint64(nIntervalSec) * 1000 && !g_bStopRequested; nWaited += 50)
            QThread::msleep(50);
        if (g_bStopRequested)
            break;
    }
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    return nStatus;
}
