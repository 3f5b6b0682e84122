#pragma once

#include <QString>

#include <optional>

namespace tarnwick::core {

// Decimal integer with optional leading blanks and sign; nothing otherwise
// (also nothing beyond the range of int).
std::optional<int> parseWholeNumber(const QString& text);

} // namespace tarnwick::core
