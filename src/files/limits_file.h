// The operator's limits file: limits.txt in the user's configuration folder
// (~/.config/varik/ for the program varik). A missing file is written with
// the defaults so that there is one to edit; a file that cannot be read in
// part gives the defaults for that part and a message per problem.
#pragma once

#include "data/supply_limits.h"
#include "data/supply_limits_file.h"

#include <QString>

// <AppConfigLocation>/limits.txt
QString DefaultLimitsPath();
// The window's file, whichever program asks: the window is the program
// varik, and its configuration folder is named after it.
QString WindowLimitsPath();

// Never fails: problems name the file and the line, and whatever could not
// be read keeps its default. Of a file over a megabyte, the whole lines
// within the first megabyte are read and the rest is one problem. A failure to write the defaults of a missing
// file is no problem worth telling: the defaults are in force anyway.
SLimitsRead LoadLimitsFile(const QString &strPath);
