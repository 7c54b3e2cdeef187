// The meter session against simulated meters on pseudo-terminals: what a
// reading holds, what a failure says, and that two meters read from one
// process each get only their own device number and feeder.
#include "session/meter_session.h"

#include "data/catalogue.h"
#include "data/decoders.h"
#include "link/frame.h"
#include "link/link_messages.h"
#include "link/scripted_operator.h"
#include "session/reading_csv.h"
#include "session/session_text.h"
#include "sim/meter_sim.h"
#include "sim/meter_values.h"

#include <QDateTime>

#include <gtest/gtest.h>

namespace {

using SMessages = QList<SShown>;

RequestHeader HeaderOf(const QByteArray &frame)
{
    return RequestHeader::FromBytes(reinterpret_cast<const quint8 *>(frame.constData()));
}

QList<quint8> CommandsOf(const QList<QByteArray> &frames)
{
    QList<quint8> commands;
    for (const QByteArray &frame : frames)
        commands.append(HeaderOf(frame).Command);
    return commands;
}

// Name and value of every row, one text each.
QStringList Texts(const CListRows &rows)
{
    QStringList texts;
    for (const SListRow &row : rows)
        texts.append(row.strName + u'=' + row.strValue);
    return texts;
}

std::vector<QByteArray> ExactValues(EDataSet set, const QByteArray &data)
{
    std::vector<QByteArray> values;
    EXPECT_TRUE(DataSetOf(set).pExactValues(reinterpret_cast<const std::uint8_t *>(data.constData()),
                                            size_t(data.size()), values));
    return values;
}

QStringList Decoded(EDataSet set, const QByteArray &data)
{
    const SDataSet &info = DataSetOf(set);
    CListRows rows = info.pRows();
    EXPECT_TRUE(info.pDecode(reinterpret_cast<const std::uint8_t *>(data.constData()), size_t(data.size()), rows));
    return Texts(rows);
}

// A simulated meter with known data, the session that reads it and the
// operator that answers for it.
struct SMeter {
    CMeterSim sim;
    CScriptedOperator op;
    CMeterSession session{&op};
    SLinkSettings settings;

    void Start(const QString &strDevice, double t)
    {
        QString strError;
        ASSERT_TRUE(sim.Start(&strError)) << strError.toStdString();
        sim.ChangeBehaviour([t](SMeterBehaviour &b) {
            b.aFixedData[0] = SimSecondData(t);
            b.aFixedData[1] = SimMinuteData(t);
            b.aFixedData[2] = SimDayData(t);
        });
        settings = {sim.SlavePath(), 115200, strDevice};
    }

    void ExpectReading(EDataSet set, int nDataIndex)
    {
        const SReadResult result = session.Read(settings, set);
        ASSERT_TRUE(result.bOk) << FailureText(result).toStdString();
        EXPECT_EQ(result.reading.eSet, set);
        const QByteArray data = sim.Behaviour().aFixedData[nDataIndex];
        EXPECT_EQ(Texts(result.reading.rows), Decoded(set, data));
        EXPECT_EQ(result.reading.values, ExactValues(set, data));
    }

    // Every frame on this meter's wire names its device and feeder and
    // carries a right checksum.
    void ExpectFrames(quint16 nDevice, quint8 nFeeder, const QList<quint8> &commands)
    {
        EXPECT_EQ(CommandsOf(sim.Requests()), commands);
        for (const QByteArray &frame : sim.Requests()) {
            EXPECT_EQ(HeaderOf(frame).DeviceNumber, nDevice);
            EXPECT_EQ(HeaderOf(frame).Feeder, nFeeder);
        }
        EXPECT_EQ(sim.BadChecksums(), 0);
    }
};

} // namespace

TEST(MeterSession, TwoMetersInterleavedKeepTheirOwnDeviceAndFeeder)
{
    SMeter a;
    SMeter b;
    a.Start(QStringLiteral("12"), 1.0);
    b.Start(QStringLiteral("300"), 2.0);
    a.op.accessAnswers = {{1, "2222"}, {1, "2222"}};
    b.op.accessAnswers = {{1, "2222"}, {1, "2222"}};
    a.session.SetSecondFeeder(false);
    b.session.SetSecondFeeder(true);

    a.ExpectReading(EDataSet::Second, 0);
    b.ExpectReading(EDataSet::Minute, 1);
    a.ExpectReading(EDataSet::Day, 2);
    EXPECT_TRUE(b.session.Check(b.settings).bOk);
    EXPECT_TRUE(a.session.Check(a.settings).bOk);
    b.ExpectReading(EDataSet::Second, 0);
    a.ExpectReading(EDataSet::Minute, 1);

    a.ExpectFrames(12, 0,
                   {CMD_UNLOCK, CMD_READ_SECOND, CMD_READ_DAY, CMD_CHECK, CMD_UNLOCK, CMD_READ_MINUTE});
    b.ExpectFrames(300, 1, {CMD_UNLOCK, CMD_READ_MINUTE, CMD_CHECK, CMD_UNLOCK, CMD_READ_SECOND});
    EXPECT_EQ(a.op.shown, SMessages({{LinkText::PasswordAccepted(2), EMsgIcon::Exclamation}}));
    EXPECT_EQ(b.op.shown, SMessages({{LinkText::PasswordAccepted(2), EMsgIcon::Exclamation}}));
}

TEST(MeterSession, SecondReadingHoldsTheRawValuesAndTheHostTime)
{
    SMeter m;
    m.Start(QStringLiteral("1"), 3.5);
    m.op.accessAnswers = {{1, "2222"}};
    const qint64 nBefore = QDateTime::currentMSecsSinceEpoch();
    const SReadResult result = m.session.Read(m.settings, EDataSet::Second);
    const qint64 nAfter = QDateTime::currentMSecsSinceEpoch();

    ASSERT_TRUE(result.bOk);
    const QByteArray data = m.sim.Behaviour().aFixedData[0];
    std::vector<std::int32_t> raw;
    ASSERT_TRUE(SecondRawValues(reinterpret_cast<const std::uint8_t *>(data.constData()), size_t(data.size()), raw));
    EXPECT_EQ(result.reading.raw, raw);
    EXPECT_EQ(Texts(result.reading.rows), Decoded(EDataSet::Second, data));
    EXPECT_GE(result.nMsecs, nBefore);
    EXPECT_LE(result.nMsecs, nAfter);

    EXPECT_EQ(result.reading.values.size(), raw.size());

    // The other sets carry no raw values.
    EXPECT_TRUE(m.session.Read(m.settings, EDataSet::Day).reading.raw.empty());
}

// The CSV row of a reading: the local time of the read to the second with
// its UTC offset, then the exact values.
TEST(MeterSession, ReadingCsvRowIsTheExactValuesAtTheReadsLocalTime)
{
    SMeter m;
    m.Start(QStringLiteral("1"), 7.0);
    m.op.accessAnswers = {{1, "2222"}};
    const SReadResult result = m.session.Read(m.settings, EDataSet::Day);
    ASSERT_TRUE(result.bOk);

    const QByteArray row = ReadingCsvRow(result);
    ASSERT_TRUE(row.endsWith('\n'));
    QList<QByteArray> fields = row.chopped(1).split(',');
    const QDateTime time = QDateTime::fromString(QString::fromLatin1(fields.takeFirst()), Qt::ISODate);
    EXPECT_EQ(time.toMSecsSinceEpoch(), result.nMsecs / 1000 * 1000);
    EXPECT_EQ(time.offsetFromUtc(), QDateTime::fromMSecsSinceEpoch(result.nMsecs).offsetFromUtc());
    EXPECT_EQ(std::vector<QByteArray>(fields.begin(), fields.end()), result.reading.values);
    EXPECT_EQ(fields.size(), 1074);
}

TEST(MeterSession, BadDeviceNumberSendsNothing)
{
    SMeter m;
    m.Start(QString(), 0);
    for (const char *pDevice : {"0", "65536", "", "abc", "-3"}) {
        m.op.shown.clear();
        m.settings.strDevice = QString::fromLatin1(pDevice);
        const SReadResult result = m.session.Read(m.settings, EDataSet::Minute);
        EXPECT_FALSE(result.bOk) << pDevice;
        EXPECT_EQ(result.eFailure, ESessionFailure::BadSettings) << pDevice;
        EXPECT_EQ(FailureText(result), SessionText::DeviceNumber());
        EXPECT_EQ(m.op.shown, SMessages({{SessionText::DeviceNumber(), EMsgIcon::Exclamation}}));
        EXPECT_EQ(m.session.Check(m.settings).eFailure, ESessionFailure::BadSettings);
    }
    EXPECT_TRUE(m.sim.Requests().isEmpty());
    EXPECT_EQ(m.op.nAccessAsked, 0);
}

// Each failure comes back with its kinds and text. The link's own messages
// are shown as before; a short or undecodable reply is left for the caller
// to show or not.
TEST(MeterSession, FailuresSayWhatWentWrong)
{
    const struct {
        const char *pName;
        std::function<void(SMeterBehaviour &)> fnBehaviour;
        bool bAnswerDialog;
        bool bCancelWait;
        ESessionFailure eFailure;
        ELinkFailure eLink; // None when the link did not fail
        QString strMessage;
        bool bShown;
    } cases[] = {
        {"busy", [](SMeterBehaviour &b) { b.nForcedStatus = STATUS_BUSY; }, true, false,
         ESessionFailure::LinkFailed, ELinkFailure::Busy, LinkText::Busy(), true},
        {"silent", [](SMeterBehaviour &b) { b.bSilent = true; }, true, false, ESessionFailure::LinkFailed,
         ELinkFailure::Channel, LinkText::Channel(), true},
        {"short data", [](SMeterBehaviour &b) { b.nReplyBytes = HEADER_SIZE + 100; }, true, false,
         ESessionFailure::ShortReply, ELinkFailure::None, SessionText::ReadFailed(), false},
        {"dialog declined", [](SMeterBehaviour &) {}, false, false, ESessionFailure::LinkFailed,
         ELinkFailure::Declined, QString(), false},
        {"wait cancelled", [](SMeterBehaviour &b) { b.bSilent = true; }, true, true, ESessionFailure::Cancelled,
         ELinkFailure::None, QString(), false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        SMeter m;
        m.Start(QStringLiteral("7"), 0);
        m.sim.ChangeBehaviour(c.fnBehaviour);
        if (c.bAnswerDialog)
            m.op.accessAnswers = {{1, "2222"}};
        if (c.bCancelWait)
            m.op.keepWaiting = [](qint64) { return false; };
        const SReadResult result = m.session.Read(m.settings, EDataSet::Second);
        EXPECT_FALSE(result.bOk);
        EXPECT_EQ(result.eFailure, c.eFailure);
        EXPECT_EQ(result.link.eKind, c.eLink);
        EXPECT_EQ(FailureText(result), c.strMessage);
        EXPECT_TRUE(result.reading.rows.empty());
        if (c.bShown)
            EXPECT_EQ(m.op.shown.value(m.op.shown.size() - 1).strText, c.strMessage);
        else
            EXPECT_EQ(m.op.shown, SMessages());
    }
}

TEST(MeterSession, FailedCheckGivesTheLinksMessage)
{
    SMeter m;
    m.Start(QStringLiteral("7"), 0);
    m.sim.ChangeBehaviour([](SMeterBehaviour &b) { b.bWrongEcho = true; });
    const SSessionOutcome outcome = m.session.Check(m.settings);
    EXPECT_FALSE(outcome.bOk);
    EXPECT_EQ(outcome.eFailure, ESessionFailure::LinkFailed);
    EXPECT_EQ(FailureText(outcome), LinkText::LineError());
    EXPECT_EQ(m.op.shown, SMessages({{LinkText::LineError(), EMsgIcon::Stop}}));
    EXPECT_EQ(CommandsOf(m.sim.Requests()), QList<quint8>({CMD_CHECK}));
}
