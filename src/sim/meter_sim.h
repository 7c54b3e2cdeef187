// A meter on a pseudo-terminal. It answers the protocol's commands on its own
// thread, so a test, the window's demo mode and varik-meter can talk to it
// through the slave device exactly as to a meter on a serial cable. Given a
// list of device numbers it is instead a bus of meters, each with its own
// values, access and faults, as several meters on one RS-485 pair.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

// How a simulated meter behaves; may be changed while it runs.
struct SMeterBehaviour {
    QByteArray aPasswords[2] = {QByteArray(), QByteArray("2222")}; // level 1, level 2
    bool bRequireUnlock = true; // data reads answer STATUS_LOCKED until unlocked
    bool bTailByte = false;     // one extra byte after the checksum of replies without payload
    bool bPaced = false;        // send replies at the line's baud rate (10 bits a byte)
    int nSlowReplyMs = 0;       // > 0: replies without data go out one byte every this many ms
    bool bSilent = false;       // take requests, answer nothing
    bool bWrongEcho = false;    // the connection-check echo comes back with one byte changed
    int nForcedStatus = -1;     // >= 0: every data read is answered with this status and no data
    int nLockedReplies = 0;     // the next N data reads are answered STATUS_LOCKED (counts down)
    int nReplyBytes = -1;       // >= 0: every reply stops after this many bytes (short header or data)
    int nHangupAfter = -1;      // >= 0: the line is closed after this many bytes of the next reply;
                                // the simulator then stops (Start opens a new line) and this resets to -1
    QByteArray aFixedData[3];   // when not empty: the second, minute and day data sent instead of
                                // the generated values, so a reply's bytes are known in advance
    double dFixedMoment = -1.0; // >= 0: values are generated for this moment (seconds after Start)
                                // whenever they are read, so a test can work them out itself
};

class CMeterSim {
public:
    CMeterSim();
    ~CMeterSim();
    CMeterSim(const CMeterSim &) = delete;
    CMeterSim &operator=(const CMeterSim &) = delete;

    // Opens the pseudo-terminal and starts answering. False with a reason on failure.
    bool Start(QString *pError = nullptr);
    // Stops answering and closes the pseudo-terminal.
    void Stop();
    bool IsRunning() const;

    // The device a client opens, such as /dev/pts/3.
    QString SlavePath() const;

    // The meters on the line. Empty (the default): one meter that answers
    // whatever device number a request names. Otherwise one meter for each
    // number listed, each starting locked with a copy of Behaviour() and
    // answering with values of its own for each feeder; a request naming any
    // other number gets no answer at all, as on a bus.
    void SetDevices(const QList<quint16> &devices);
    QList<quint16> Devices() const;

    // The behaviour every meter on the line starts from. Setting or changing
    // it applies to each listed meter too, over its own faults.
    SMeterBehaviour Behaviour() const;
    void SetBehaviour(const SMeterBehaviour &behaviour);
    // Changes some switches in one step, so that nothing the meter counts
    // down meanwhile (nLockedReplies) is lost.
    void ChangeBehaviour(const std::function<void(SMeterBehaviour &)> &fnChange);
    // The same for the one listed meter nDevice; false when it is not listed.
    bool ChangeDeviceBehaviour(quint16 nDevice, const std::function<void(SMeterBehaviour &)> &fnChange);
    // What the meter answering nDevice has now (its countdowns as they stand);
    // the behaviour every meter starts from when none answers nDevice.
    SMeterBehaviour DeviceBehaviour(quint16 nDevice) const;

    // Every complete request seen, in order (header, payload, checksum),
    // those with a wrong checksum included.
    QList<QByteArray> Requests() const;
    void ClearRequests();
    // Requests whose checksum did not match; the meter did not answer them.
    int BadChecksums() const;
    // Access level the meter has open: 0 none, 1 or 2; with listed devices
    // the highest any of them has open. Setting it opens it on every meter.
    int UnlockedLevel() const;
    void SetUnlockedLevel(int nLevel);
    // Access level open on the meter answering nDevice; -1 when none answers it.
    int DeviceUnlockedLevel(quint16 nDevice) const;

    // When set, every frame in and out is written to standard error as hex.
    void SetLogFrames(bool bLog);

private:
    struct SImpl;
    std::unique_ptr<SImpl> m_p;
};
