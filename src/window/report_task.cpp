#include "window/report_task.h"

#include <QDateTime>
#include <QFile>
#include <QThread>

#include <algorithm>

CReportTask::CReportTask(SReportRequest request, ReportMaker fnMake, QObject *pParent)
    : QObject(pParent), m_request(std::move(request)), m_fnMake(std::move(fnMake))
{
}

CReportTask::~CReportTask()
{
    if (!m_pThread)
        return;
    m_bCancel = true;
    m_pThread->wait();
}

void CReportTask::Start()
{
    m_pThread.reset(QThread::create([this] {
        m_outcome = m_fnMake(m_request, [this](qint64 nRead, qint64 nTotal) {
            m_nRead = nRead;
            m_nTotal = nTotal;
            return !m_bCancel;
        });
    }));
    // Emitted on the worker's thread, delivered on this object's: the
    // outcome is read only after the worker has written it.
    connect(m_pThread.get(), &QThread::finished, this, &CReportTask::Finished, Qt::QueuedConnection);
    m_pThread->start();
}

int CReportTask::Permille() const
{
    const qint64 nTotal = m_nTotal;
    const qint64 nRead = m_nRead;
    return nTotal > 0 ? int(std::clamp<qint64>(nRead * 1000 / nTotal, 0, 1000)) : 0;
}

namespace {

// A row's time: the local time with its offset, up to the first comma.
std::optional<QDate> RowDate(const QByteArray &line)
{
    const QDateTime time = QDateTime::fromString(QString::fromLatin1(line.left(line.indexOf(','))), Qt::ISODate);
    return time.isValid() ? std::optional<QDate>(time.date()) : std::nullopt;
}

// Rows of the Секунда list are about 2 KiB; a look this far from either end
// finds a whole one.
constexpr qint64 LOOK_BYTES = 16 * 1024;

std::optional<std::pair<QDate, QDate>> FileDateSpan(const QString &strPath)
{
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QList<QByteArray> head = file.read(LOOK_BYTES).split('\n');
    if (head.size() < 3) // the header, a whole row, and what follows its line feed
        return std::nullopt;
    const std::optional<QDate> first = RowDate(head[1]);
    file.seek(std::max<qint64>(0, file.size() - LOOK_BYTES));
    QList<QByteArray> tail = file.readAll().split('\n');
    std::optional<QDate> last;
    // The last whole row; a torn last row has no line feed and is passed by.
    for (qsizetype i = tail.size() - 2; i >= 1 && !last; --i)
        last = RowDate(tail[i]);
    if (!first || !last)
        return std::nullopt;
    return std::make_pair(*first, *last);
}

} // namespace

std::optional<std::pair<QDate, QDate>> LogsDateSpan(const QStringList &logs)
{
    std::optional<std::pair<QDate, QDate>> span;
    for (const QString &strLog : logs) {
        const std::optional<std::pair<QDate, QDate>> file = FileDateSpan(strLog);
        if (!file)
            continue;
        if (!span)
            span = file;
        span->first = std::min(span->first, file->first);
        span->second = std::max(span->second, file->second);
    }
    return span;
}
