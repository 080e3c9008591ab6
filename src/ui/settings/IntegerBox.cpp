#include "ui/settings/IntegerBox.h"

#include <QLineEdit>
#include <QString>
#include <limits>
#include <string>

#include "common/Prompter.h"

namespace {

// Blanks around the number are allowed, as they always were; anything else but one sign and
// the digits is not a number. Values beyond 32 bits are not numbers a box can hold.
std::optional<std::int64_t> parse(const QString& text, bool allowMinus) {
    const QString trimmed = text.trimmed();
    int at = 0;
    bool negative = false;
    if (at < trimmed.size() && (trimmed[at] == '+' || (allowMinus && trimmed[at] == '-'))) {
        negative = trimmed[at] == '-';
        ++at;
    }
    if (at == trimmed.size()) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (; at < trimmed.size(); ++at) {
        const char16_t digit = trimmed[at].unicode();
        if (digit < u'0' || digit > u'9') {
            return std::nullopt;
        }
        value = value * 10 + (digit - u'0');
        if (value > std::numeric_limits<std::uint32_t>::max()) {
            return std::nullopt;
        }
    }
    return negative ? -value : value;
}

std::optional<std::int64_t> refuse(QLineEdit& box, const std::string& message) {
    prompter().messageBox(message);
    box.setFocus();
    box.selectAll();
    return std::nullopt;
}

std::optional<std::int64_t> readBox(QLineEdit& box, std::int64_t minimum, std::int64_t maximum,
                                    bool allowMinus) {
    const std::optional<std::int64_t> value = parse(box.text(), allowMinus);
    if (!value) {
        return refuse(box,
                      allowMinus ? "Please enter an integer." : "Please enter a positive integer.");
    }
    if (*value < minimum || *value > maximum) {
        return refuse(box, "Please enter an integer between " + std::to_string(minimum) + " and " +
                               std::to_string(maximum) + ".");
    }
    return value;
}

}  // namespace

std::optional<std::int64_t> readIntegerBox(QLineEdit& box, std::int64_t minimum,
                                           std::int64_t maximum) {
    return readBox(box, minimum, maximum, true);
}

std::optional<std::int64_t> readUnsignedBox(QLineEdit& box, std::int64_t minimum,
                                            std::int64_t maximum) {
    return readBox(box, minimum, maximum, false);
}
