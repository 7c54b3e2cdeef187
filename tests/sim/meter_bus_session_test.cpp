// The meter session, over the real serial link, against a bus of simulated
// meters on one pseudo-terminal: one session reads each device in turn and
// meets each one's own values, access and faults.
#include "session/meter_session.h"

#include "link/frame.h"
#include "link/link_messages.h"
#include "link/scripted_operator.h"
#include "sim/meter_sim.h"

#include <gtest/gtest.h>

namespace {

RequestHeader HeaderOf(const QByteArray &frame)
{
    return RequestHeader::FromBytes(reinterpret_cast<const quint8 *>(frame.constData()));
}

// Device number and command of every frame the bus heard.
QList<QPair<quint16, quint8>> Traffic(const QList<QByteArray> &frames)
{
    QList<QPair<quint16, quint8>> traffic;
    for (const QByteArray &frame : frames)
        traffic.append({HeaderOf(frame).DeviceNumber, HeaderOf(frame).Command});
    return traffic;
}

QStringList Values(const CListRows &rows)
{
    QStringList values;
    for (const SListRow &row : rows)
        values.append(row.strValue);
    return values;
}

class MeterBusSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_sim.SetDevices({1, 2, 7});
        m_sim.ChangeBehaviour([](SMeterBehaviour &b) { b.dFixedMoment = 42.0; });
        QString strError;
        ASSERT_TRUE(m_sim.Start(&strError)) << strError.toStdString();
        m_op.accessAnswers = {{1, "2222"}}; // a kept password: an empty one is asked for again
    }

    SReadResult Read(const char *pDevice)
    {
        m_sim.ClearRequests();
        return m_session.Read({m_sim.SlavePath(), 115200, QString::fromLatin1(pDevice)}, EDataSet::Second);
    }

    CMeterSim m_sim;
    CScriptedOperator m_op;
    CMeterSession m_session{&m_op};
};

TEST_F(MeterBusSessionTest, EachDeviceIsUnlockedOnItsOwnAndSendsItsOwnValues)
{
    const SReadResult first = Read("1");
    ASSERT_TRUE(first.bOk) << FailureText(first).toStdString();
    EXPECT_EQ(Traffic(m_sim.Requests()), (QList<QPair<quint16, quint8>>{{1, CMD_UNLOCK}, {1, CMD_READ_SECOND}}));

    // The link counts itself unlocked, but device 2 is not: it says locked,
    // and the link unlocks it with the password it keeps and asks again.
    const SReadResult second = Read("2");
    ASSERT_TRUE(second.bOk) << FailureText(second).toStdString();
    EXPECT_EQ(Traffic(m_sim.Requests()),
              (QList<QPair<quint16, quint8>>{{2, CMD_READ_SECOND}, {2, CMD_UNLOCK}, {2, CMD_READ_SECOND}}));
    EXPECT_EQ(m_sim.DeviceUnlockedLevel(1), 2);
    EXPECT_EQ(m_sim.DeviceUnlockedLevel(2), 2);
    EXPECT_EQ(m_sim.DeviceUnlockedLevel(7), 0);

    EXPECT_NE(Values(first.reading.rows), Values(second.reading.rows));
    EXPECT_EQ(m_op.nAccessAsked, 1);
}

TEST_F(MeterBusSessionTest, ASilentOrUnlistedDeviceIsNoAnswerWhileTheOthersRead)
{
    m_sim.ChangeDeviceBehaviour(7, [](SMeterBehaviour &b) { b.bSilent = true; });
    ASSERT_TRUE(Read("1").bOk);
    for (const char *pDevice : {"7", "3"}) {
        SCOPED_TRACE(pDevice);
        const SReadResult result = Read(pDevice);
        EXPECT_FALSE(result.bOk);
        EXPECT_EQ(result.eFailure, ESessionFailure::LinkFailed);
        EXPECT_EQ(FailureText(result), LinkText::NoAnswer());
        EXPECT_TRUE(Read("2").bOk);
    }
}

TEST_F(MeterBusSessionTest, ABusyDeviceIsBusyAlone)
{
    m_sim.ChangeDeviceBehaviour(2, [](SMeterBehaviour &b) { b.nForcedStatus = STATUS_BUSY; });
    EXPECT_TRUE(Read("1").bOk);
    const SReadResult busy = Read("2");
    EXPECT_FALSE(busy.bOk);
    EXPECT_EQ(FailureText(busy), LinkText::Busy());
    EXPECT_TRUE(Read("7").bOk);
}

} // namespace
