#pragma once

#include <QString>
#include <QWidget>
#include <initializer_list>
#include <utility>

// The process-wide "ShowTooltips" setting: every window sets its tooltips only while it is on.
bool showTooltips();
void setShowTooltips(bool on);

// Gives each widget its tooltip while showTooltips() is on, and clears them while it is off.
void applyTooltips(std::initializer_list<std::pair<QWidget*, QString>> tips);
