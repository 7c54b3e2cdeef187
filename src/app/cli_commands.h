// The commands of varik-cli. Each returns the process exit code: 0 done,
// 1 failed (the reason is on standard error).
#pragma once

#include "data/data_set.h"

#include <QString>

class CCliOperator;
class CMeterSession;

struct SCliLinkOptions {
    QString strPort;
    int nBaudRate = 9600;
    QString strDevice; // as typed; read like atoi
    int nFeeder = 1;   // 1 or 2
};

// "Проверка связи": the connection check, then the unlock.
int RunCheck(CMeterSession &session, CCliOperator &op, const SCliLinkOptions &opts);

// One read; the list goes to strOutput (written only on success) or to
// standard output, in Windows-1251 or, with bUtf8, in UTF-8.
int RunRead(CMeterSession &session, CCliOperator &op, const SCliLinkOptions &opts, EDataSet set,
            const QString &strOutput, bool bUtf8);

// Reads of one data set every nIntervalSec seconds; nCount reads, or until
// SIGINT/SIGTERM when 0. Each successful read is appended as a row to the
// CSV log strCsv (created when missing) and, for the per-second set alone,
// each read as one record to the existing file strFile; either name may be
// empty, not both.
int RunRecord(CMeterSession &session, CCliOperator &op, const SCliLinkOptions &opts, EDataSet set,
              const QString &strFile, const QString &strCsv, int nIntervalSec, int nCount);
