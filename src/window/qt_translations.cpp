#include "window/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

QString QtTranslationsFolder()
{
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
}

QTranslator *InstallQtTranslations(QCoreApplication &app, const QString &strFolder)
{
    // Russian whatever the system's language: the program speaks nothing else.
    auto *pTranslator = new QTranslator(&app);
    if (!pTranslator->load(QStringLiteral("qtbase_ru"), strFolder) || !QCoreApplication::installTranslator(pTranslator)) {
        delete pTranslator;
        return nullptr;
    }
    return pTranslator;
}
