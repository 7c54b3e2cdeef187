// A meter that restarts while the program runs has its access level locked
// again: the session opens the same level with the password it keeps and
// reads on, without asking anyone. Played by varik-meter itself, stopped and
// started again on the same device name, as a meter switched off and on.
#include "session/meter_session.h"

#include "link/scripted_operator.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// varik-meter with one meter, device 1, behind a name that stays when it
// is started again.
class CMeterProgram {
public:
    CMeterProgram(const QString &strLink, const QStringList &args) : m_strLink(strLink), m_args(args) {}
    ~CMeterProgram() { Stop(); }

    bool Start()
    {
        m_process.start(QStringLiteral(VARIK_METER_PATH),
                        QStringList{QStringLiteral("--devices"), QStringLiteral("1"), QStringLiteral("--link"),
                                    m_strLink}
                            + m_args);
        // The device's name is its first line: it is ready then.
        return m_process.waitForReadyRead(10000) && m_process.canReadLine();
    }
    void Stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        m_process.waitForFinished(10000);
    }

private:
    QString m_strLink;
    QStringList m_args;
    QProcess m_process;
};

TEST(Relock, ARestartedMeterGetsTheLevelThatWasOpenWithTheKeptPassword)
{
    const struct {
        const char *pName;
        QStringList meterArgs;
        SAccessAnswer access;
    } cases[] = {
        {"first level with a password", {QStringLiteral("--fault"), QStringLiteral("1=password1:abc")}, {0, "abc"}},
        {"second level", {}, {1, "2222"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        QTemporaryDir dir;
        const QString strLink = dir.filePath(QStringLiteral("ttyVARIK"));
        CMeterProgram meter(strLink, c.meterArgs);
        ASSERT_TRUE(meter.Start());
        CScriptedOperator op;
        op.accessAnswers = {c.access};
        CMeterSession session(&op);
        const SLinkSettings settings{strLink, 115200, QStringLiteral("1")};

        const SReadResult first = session.Read(settings, EDataSet::Second);
        ASSERT_TRUE(first.bOk) << FailureText(first).toStdString();
        meter.Stop();
        ASSERT_TRUE(meter.Start()); // locked again, as a meter after a power cut

        const SReadResult again = session.Read(settings, EDataSet::Second);
        EXPECT_TRUE(again.bOk) << FailureText(again).toStdString();
        EXPECT_EQ(again.link.eKind, ELinkFailure::None);
        EXPECT_EQ(session.Link().AccessLevel(), c.access.nLevel + 1);
        EXPECT_EQ(op.nAccessAsked, 1) << "the kept password is sent, nobody is asked";
        EXPECT_EQ(op.shown, QList<SShown>());
    }
}

} // namespace
