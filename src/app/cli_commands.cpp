#include "session/session_text.h"
#include "files/file_text.h"
#include "app/cli_commands.h"

#include "link/atoi.h"
#include "data/catalogue.h"
#include "window/charts_text.h"
#include "app/cli_operator.h"
#include "data/csv_log.h"
#include "files/csv_log_file.h"
#include "data/decoders.h"
#include "files/file_output.h"
#include "data/list_file.h"
#include "link/meter_link.h"

#include <QDateTime>
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

struct SDataSetInfo {
    quint8 nCommand;
    int nSize;
    CListRows (*pRows)();
    bool (*pDecode)(const std::uint8_t *, std::size_t, CListRows &);
};

SDataSetInfo Info(EDataSet set)
{
    switch (set) {
    case EDataSet::Minute:
        return {CMD_READ_MINUTE, MINUTE_DATA_SIZE, MinuteListRows, DecodeMinute};
    case EDataSet::Day:
        return {CMD_READ_DAY, DAY_DATA_SIZE, DayListRows, DecodeDay};
    case EDataSet::Second:
        break;
    }
    return {CMD_READ_SECOND, SECOND_DATA_SIZE, SecondListRows, DecodeSecond};
}

// Takes the link settings as the window's commands do; false (after the
// range message) when the device number is out of range, and nothing is sent.
bool PrepareLink(CMeterLink &link, CCliOperator &op, const SCliLinkOptions &opts)
{
    // Each run is one command, so --feeder holds for every request it sends,
    // the connection check and the unlock included.
    g_nFeeder = opts.nFeeder == 2 ? 1 : 0;
    const int nDevice = AtoI(opts.strDevice);
    if (!IsDeviceNumber(nDevice)) {
        op.ShowMessage(SessionText::DeviceNumber(), EMsgIcon::Exclamation);
        return false;
    }
    link.SetPortName(opts.strPort);
    link.SetBaudRate(opts.nBaudRate);
    link.SetDeviceNumber(quint16(nDevice));
    return true;
}

// One read into rows, the reply's data into *pReply when asked for; false
// after a message when nothing usable came. A short reply is a failure here
// too, so a script never takes it for data.
bool ReadInto(CMeterLink &link, CCliOperator &op, const SCliLinkOptions &opts, EDataSet set,
              CListRows &rows, std::vector<quint8> *pReply = nullptr)
{
    const SDataSetInfo info = Info(set);
    if (!PrepareLink(link, op, opts))
        return false;
    std::vector<quint8> buffer(size_t(info.nSize));
    quint16 nLength = quint16(info.nSize);
    if (!link.Exchange(info.nCommand, 1, buffer.data(), &nLength, nullptr, 0))
        return false;
    if (nLength < info.nSize || !info.pDecode(buffer.data(), nLength, rows)) {
        op.Fail(SessionText::ReadFailed());
        return false;
    }
    if (pReply != nullptr) {
        buffer.resize(nLength);
        *pReply = std::move(buffer);
    }
    return true;
}

// The window's message, then which file and what the system said.
QString CsvProblem(EFileResult result, const QString &strPath, const CCsvLogFile &csv)
{
    const QString strMessage =
        result == EFileResult::OpenFailed ? FileText::OpenFailed() : FileText::WriteFailed();
    return strMessage + u'\n' + strPath + QStringLiteral(": ") + csv.ErrorText();
}

// The CSV row of a per-second reply, timed now in local time.
QByteArray CsvRowNow(const std::vector<quint8> &reply)
{
    const QDateTime now = QDateTime::currentDateTime();
    std::vector<std::int32_t> raw;
    SecondRawValues(reply.data(), reply.size(), raw);
    return CsvRow(now.toMSecsSinceEpoch(), now.offsetFromUtc(), raw);
}

bool WriteStdout(const QByteArray &bytes)
{
    const size_t n = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    return std::fflush(stdout) == 0 && n == size_t(bytes.size());
}

} // namespace

int RunCheck(CMeterLink &link, CCliOperator &op, const SCliLinkOptions &opts)
{
    if (!PrepareLink(link, op, opts))
        return 1;
    if (!link.CheckConnection())
        return 1;
    const int bUnlocked = link.Unlock(1, QString());
    return bUnlocked && !op.Failed() ? 0 : 1;
}

int RunRead(CMeterLink &link, CCliOperator &op, const SCliLinkOptions &opts, EDataSet set,
            const QString &strOutput, bool bUtf8)
{
    CListRows rows = Info(set).pRows();
    if (!ReadInto(link, op, opts, set, rows))
        return 1;
    QByteArray bytes = ListFileBytes(rows);
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

int RunRecord(CMeterLink &link, CCliOperator &op, const SCliLinkOptions &opts, const QString &strFile,
              const QString &strCsv, int nIntervalSec, int nCount)
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
        const EFileResult result = csv.Open(strCsv);
        if (result != EFileResult::Ok) {
            op.Fail(CsvProblem(result, strCsv, csv));
            return 1;
        }
        if (csv.CutBytes() > 0)
            op.Note(strCsv + QStringLiteral(": ") + ChartsText::CsvTornRowCut(csv.CutBytes()));
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
        std::vector<quint8> reply;
        const bool bRead = ReadInto(link, op, opts, EDataSet::Second, rows, &reply);
        if (!bRead)
            nStatus = 1;
        const QByteArray csvRow = bRead && csv.IsOpen() ? CsvRowNow(reply) : QByteArray();

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
