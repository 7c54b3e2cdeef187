// One line's worker against a bus of simulated meters on a pseudo-terminal:
// the state each meter is left in follows the kind of its failure, its
// message is the operator's text of that failure, and a reading whose row
// could not be written to its log says so in the state until it can again.
#include "service/line_worker.h"

#include "link/link_messages.h"
#include "link/frame.h"
#include "sim/meter_sim.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <mutex>

namespace {

bool WaitUntil(const std::function<bool()> &fnDone, int nMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!fnDone()) {
        if (timer.elapsed() > nMs)
            return false;
        QThread::msleep(50);
    }
    return true;
}

// Keeps the journal's lines instead of writing them out.
class CKeptJournal : public CJournal {
public:
    QStringList Lines() const
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }

protected:
    void WriteLine(const QByteArray &line) override
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.append(QString::fromUtf8(line).trimmed());
    }

private:
    mutable std::mutex m_mutex;
    QStringList m_lines;
};

// Every state told and every reading handed on, by meter.
class CStateSink : public IReadingSink {
public:
    void OnReading(const SMeterConfig &meter, EDataSet, const SReadResult &) override
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        ++m_readings[meter.strName];
    }
    void OnState(const SMeterConfig &meter, const SMeterStatus &status) override
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_states[meter.strName].append(status);
    }

    QList<SMeterStatus> States(const QString &strMeter) const
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        const auto found = m_states.find(strMeter);
        return found == m_states.end() ? QList<SMeterStatus>() : found->second;
    }
    QString LastState(const QString &strMeter) const
    {
        const QList<SMeterStatus> states = States(strMeter);
        return states.isEmpty() ? QString() : QString::fromLatin1(StateName(states.last().eState));
    }
    int Readings(const QString &strMeter) const
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        const auto found = m_readings.find(strMeter);
        return found == m_readings.end() ? 0 : found->second;
    }

private:
    mutable std::mutex m_mutex;
    std::map<QString, QList<SMeterStatus>> m_states;
    std::map<QString, int> m_readings;
};

SMeterConfig Meter(const QString &strName, int nDevice, int nLevel = 2, const QString &strPassword = u"2222"_qs)
{
    SMeterConfig meter;
    meter.strName = strName;
    meter.nDevice = nDevice;
    meter.nLevel = nLevel;
    meter.strPassword = strPassword;
    meter.nSecondInterval = 1;
    meter.nMinuteInterval = 0;
    meter.nDayMinute = -1;
    return meter;
}

constexpr int WAIT_MS = 30000;

} // namespace

TEST(LineWorker, EachFailureLeavesTheStateOfItsKindWithItsText)
{
    CMeterSim sim;
    sim.SetDevices({1, 2, 3, 4, 5});
    QString strError;
    ASSERT_TRUE(sim.Start(&strError)) << strError.toStdString();
    sim.ChangeDeviceBehaviour(2, [](SMeterBehaviour &b) { b.bSilent = true; });
    sim.ChangeDeviceBehaviour(3, [](SMeterBehaviour &b) { b.nForcedStatus = STATUS_BUSY; });
    sim.ChangeDeviceBehaviour(4, [](SMeterBehaviour &b) { b.aPasswords[0] = "abc"; });
    sim.ChangeDeviceBehaviour(5, [](SMeterBehaviour &b) { b.nForcedStatus = 1; });

    QTemporaryDir dir;
    CKeptJournal journal;
    CStateSink sink;
    CLineWorker worker(sim.SlavePath(), 115200, journal, &sink);
    worker.SetMeters({Meter(u"good"_qs, 1), Meter(u"quiet"_qs, 2), Meter(u"occupied"_qs, 3),
                      Meter(u"locked"_qs, 4, 1, u"abd"_qs), Meter(u"garbled"_qs, 5)},
                     {dir.path(), 1});
    const QString strMissing = dir.filePath(u"no-such-port"_qs);
    CLineWorker missing(strMissing, 115200, journal, &sink);
    missing.SetMeters({Meter(u"unplugged"_qs, 1)}, {dir.path(), 1});
    worker.Start();
    missing.Start();

    const struct {
        const char *pMeter;
        const char *pState;
        QString strMessage;
    } cases[] = {
        {"good", "ok", QString()},
        {"quiet", "silent", LinkText::Channel()}, // the unlock goes first and is not answered
        {"occupied", "busy", LinkText::Busy()},
        // The service answers No to the question; its message is the failure alone.
        {"locked", "refused", u"Не удалось снять пароль. Пароль не верен."_qs},
        {"garbled", "error", LinkText::LineError()},
        {"unplugged", "no-port", LinkText::Port(strMissing)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pMeter);
        const QString strMeter = QString::fromLatin1(c.pMeter);
        ASSERT_TRUE(WaitUntil([&] { return !sink.States(strMeter).isEmpty(); }, WAIT_MS))
            << journal.Lines().join(u'\n').toStdString();
        const SMeterStatus status = sink.States(strMeter).first();
        EXPECT_STREQ(StateName(status.eState), c.pState);
        EXPECT_EQ(status.strMessage, c.strMessage);
    }
    const QStringList refused = journal.Lines().filter(u"locked: refused: "_qs);
    ASSERT_EQ(refused.size(), 1);
    EXPECT_FALSE(refused.first().contains(u"Хотите"_qs)) << refused.first().toStdString();
}

TEST(LineWorker, AReadingWhoseRowIsNotWrittenLeavesTheStateCsvErrorUntilItIsAgain)
{
    CMeterSim sim;
    QString strError;
    ASSERT_TRUE(sim.Start(&strError)) << strError.toStdString();
    QTemporaryDir dir;
    // A folder where the day's file would be: no one, root included, may
    // write a file there.
    const QString strFolder = dir.filePath(u"m/second"_qs);
    const QString strFile = strFolder + u'/' + QDate::currentDate().toString(Qt::ISODate) + u".csv"_qs;
    ASSERT_TRUE(QDir().mkpath(strFile));

    CKeptJournal journal;
    CStateSink sink;
    CLineWorker worker(sim.SlavePath(), 115200, journal, &sink);
    worker.SetMeters({Meter(u"m"_qs, 1)}, {dir.path(), 1});
    worker.Start();

    ASSERT_TRUE(WaitUntil([&] { return sink.LastState(u"m"_qs) == u"csv-error"_qs; }, WAIT_MS))
        << journal.Lines().join(u'\n').toStdString();
    const SMeterStatus failing = sink.States(u"m"_qs).last();
    EXPECT_TRUE(failing.strMessage.startsWith(u"cannot write "_qs + strFile + u": "_qs))
        << failing.strMessage.toStdString();
    EXPECT_GT(failing.strMessage.size(), (u"cannot write "_qs + strFile + u": "_qs).size()) << "and why";
    EXPECT_EQ(sink.States(u"m"_qs).first().eState, EMeterState::CsvError) << "never ok while the row is not written";
    // Published all the same, and said once.
    const int nReadings = sink.Readings(u"m"_qs);
    ASSERT_TRUE(WaitUntil([&] { return sink.Readings(u"m"_qs) >= nReadings + 2; }, WAIT_MS));
    EXPECT_EQ(sink.States(u"m"_qs).size(), 1);
    EXPECT_EQ(journal.Lines().filter(u"cannot write"_qs).size(), 1);

    ASSERT_TRUE(QDir(strFile).removeRecursively());
    ASSERT_TRUE(WaitUntil([&] { return sink.LastState(u"m"_qs) == u"ok"_qs; }, WAIT_MS))
        << journal.Lines().join(u'\n').toStdString();
    const SMeterStatus ok = sink.States(u"m"_qs).last();
    EXPECT_EQ(ok.strMessage, failing.strMessage) << "the last failure's message is kept";
    EXPECT_EQ(ok.nFailures, 0) << "a log that fails is no failed read";
    EXPECT_TRUE(QFileInfo(strFile).isFile());
    EXPECT_TRUE(journal.Lines().filter(u"answers again"_qs).isEmpty());
}
