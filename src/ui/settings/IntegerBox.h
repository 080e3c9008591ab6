#pragma once

#include <cstdint>
#include <optional>

class QLineEdit;

// The number boxes of the options dialogs. A box holds text; on OK its value is read and checked
// against its range with the standard messages ("Please enter an integer.", "Please enter a
// positive integer.", "Please enter an integer between %1 and %2."). On a refusal the message
// has been shown, the box is active with its text selected, and the result is empty.
std::optional<std::int64_t> readIntegerBox(QLineEdit& box, std::int64_t minimum,
                                           std::int64_t maximum);
// The same for a box that takes no sign.
std::optional<std::int64_t> readUnsignedBox(QLineEdit& box, std::int64_t minimum,
                                            std::int64_t maximum);
