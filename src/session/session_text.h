// The texts of a reading that the window and the command line both show.
#pragma once

#include <QString>

namespace SessionText {

// The window's range check keeps the trailing blank; the link's has none.
inline QString DeviceNumber() { return QStringLiteral("Номер прибора: число от 1 до 65 535. "); }
inline QString ReadFailed() { return QStringLiteral("Сбой в процессе чтения данных"); }

} // namespace SessionText
