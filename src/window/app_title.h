// The application's title: the executable's file name without its
// extension. It is the caption of every message box and names the settings
// file, so renaming the program renames both.
#pragma once

#include <QCoreApplication>
#include <QFileInfo>

inline QString ApplicationTitle()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}
