// Qt's own texts in Russian: the file dialogs, the standard buttons and the
// context menus of edit fields. Qt ships them as qtbase_ru.qm (on Debian in
// qt6-translations-l10n). The program's own texts are Russian already and are
// not looked up in any translation, so the about box and every message stay
// exactly as they are.
#pragma once

#include <QString>

class QCoreApplication;
class QTranslator;

// Where Qt keeps its translations on this system.
QString QtTranslationsFolder();

// Installs Qt's Russian texts from the folder. Returns the translator, owned
// by app, or null when the folder holds none: Qt's texts then stay English
// and the program runs as before.
QTranslator *InstallQtTranslations(QCoreApplication &app, const QString &strFolder = QtTranslationsFolder());
