// The window's command queue on its own: one command at a time, what waits
// and what falls due during a command, and nothing after the window closed.
#include "window/command_queue.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTest>

#include <functional>
#include <memory>

class CommandQueueTest : public QObject {
    Q_OBJECT
private slots:
    void Cases_data();
    void Cases();
};

namespace {

// A queue whose hooks and commands write what happens into one log.
struct SQueueLog {
    QStringList log;
    std::unique_ptr<CCommandQueue> pQueue;

    SQueueLog()
    {
        pQueue = std::make_unique<CCommandQueue>(CCommandQueue::SHooks{
            .fnBegin = [this] { log << u"begin"_qs; },
            .fnEnd = [this] { log << u"end"_qs; },
            .fnIdle = [this] { log << u"idle"_qs; },
            .fnTick = [this] { log << u"tick"_qs; },
            .fnExit = [this] {
                log << u"exit"_qs;
                pQueue->Close();
            }});
    }
    std::function<void()> Note(const QString &strWhat)
    {
        return [this, strWhat] { log << strWhat; };
    }
};

using Act = std::function<void(SQueueLog &)>;

} // namespace

Q_DECLARE_METATYPE(Act)

void CommandQueueTest::Cases_data()
{
    QTest::addColumn<Act>("act");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("run at once when idle") << Act([](SQueueLog &q) {
        q.pQueue->Run(q.Note(u"A"_qs));
        q.log << u"after"_qs;
    }) << QStringList{u"begin"_qs, u"A"_qs, u"end"_qs, u"idle"_qs, u"after"_qs};

    QTest::newRow("run when idle runs at once when idle") << Act([](SQueueLog &q) {
        q.pQueue->RunWhenIdle(q.Note(u"A"_qs));
        q.log << u"after"_qs;
    }) << QStringList{u"begin"_qs, u"A"_qs, u"end"_qs, u"idle"_qs, u"after"_qs};

    QTest::newRow("a command while one runs is dropped") << Act([](SQueueLog &q) {
        q.pQueue->Run([&q] {
            q.log << u"A"_qs;
            q.pQueue->Run(q.Note(u"B"_qs));
        });
    }) << QStringList{u"begin"_qs, u"A"_qs, u"end"_qs, u"idle"_qs};

    QTest::newRow("deferred behind a running one, in order") << Act([](SQueueLog &q) {
        q.pQueue->Run([&q] {
            q.log << u"A"_qs;
            q.pQueue->RunWhenIdle(q.Note(u"B"_qs));
            q.pQueue->RunWhenIdle(q.Note(u"C"_qs));
        });
        q.log << u"A done"_qs;
    }) << QStringList{u"begin"_qs, u"A"_qs, u"end"_qs, u"idle"_qs, u"A done"_qs, u"begin"_qs, u"B"_qs,
                      u"end"_qs,   u"idle"_qs, u"begin"_qs, u"C"_qs, u"end"_qs, u"idle"_qs};

    QTest::newRow("tick due during a command runs after it") << Act([](SQueueLog &q) {
        q.pQueue->Run([&q] {
            q.log << u"A"_qs;
            q.pQueue->TickDue();
        });
        q.log << u"A done"_qs;
    }) << QStringList{u"begin"_qs, u"A"_qs, u"end"_qs, u"idle"_qs, u"A done"_qs, u"tick"_qs};

    QTest::newRow("a dropped tick does not run") << Act([](SQueueLog &q) {
        q.pQueue->Run([&q] {
            q.pQueue->TickDue();
            q.pQueue->DropTick();
        });
    }) << QStringList{u"begin"_qs, u"end"_qs, u"idle"_qs};

    QTest::newRow("exit due closes after the command and drops the rest") << Act([](SQueueLog &q) {
        q.pQueue->Run([&q] {
            q.log << u"A"_qs;
            q.pQueue->RunWhenIdle(q.Note(u"B"_qs));
            q.pQueue->TickDue();
            q.pQueue->ExitDue();
        });
        q.log << u"A done"_qs;
    }) << QStringList{u"begin"_qs, u"A"_qs, u"end"_qs, u"idle"_qs, u"exit"_qs, u"A done"_qs};

    QTest::newRow("closed during a command: nothing due runs") << Act([](SQueueLog &q) {
        q.pQueue->Run([&q] {
            q.pQueue->RunWhenIdle(q.Note(u"B"_qs));
            q.pQueue->TickDue();
            q.pQueue->Close();
        });
    }) << QStringList{u"begin"_qs, u"end"_qs, u"idle"_qs};

    QTest::newRow("nothing runs after close") << Act([](SQueueLog &q) {
        q.pQueue->Close();
        q.pQueue->Run(q.Note(u"A"_qs));
        q.pQueue->RunWhenIdle(q.Note(u"B"_qs));
    }) << QStringList{};
}

void CommandQueueTest::Cases()
{
    QFETCH(Act, act);
    QFETCH(QStringList, expected);
    SQueueLog queue;
    act(queue);
    // What fell due runs from the event loop, never inside the command.
    QTest::qWait(20);
    QCOMPARE(queue.log, expected);
    QVERIFY(!queue.pQueue->IsBusy());
}

QTEST_GUILESS_MAIN(CommandQueueTest)
#include "command_queue_test.moc"
