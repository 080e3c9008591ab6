#include "ui/Tooltips.h"

#include <atomic>

namespace {
std::atomic<bool> tooltipsOn{true};
}

bool showTooltips() {
    return tooltipsOn.load();
}

void setShowTooltips(bool on) {
    tooltipsOn.store(on);
}

void applyTooltips(std::initializer_list<std::pair<QWidget*, QString>> tips) {
    const bool on = showTooltips();
    for (const auto& [widget, text] : tips) {
        if (widget != nullptr) {
            widget->setToolTip(on ? text : QString());
        }
    }
}
