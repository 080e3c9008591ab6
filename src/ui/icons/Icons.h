#pragma once

#include <QIcon>

// The program's icons, from the SVG files of icons.qrc. The resources sit in a static library,
// where nothing would pull them into the program, so every user goes through here.
QIcon applicationIcon();
