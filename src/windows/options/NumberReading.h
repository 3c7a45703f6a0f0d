#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace pixavant {

// The number a text field holds: its leading number (digits with an optional sign, decimal point
// and exponent), spaces and tabs anywhere in the text ignored. A text that does not start with a
// number reads as 0. Not rounded; a number too large for a double reads as an infinity.
double leadingNumber(const QString& text);

// Rounds to the nearest integer, a value exactly halfway going to the even neighbour.
double roundHalfEven(double value);

// The leading number rounded half to even, or nothing when that lies outside -32768..32767.
std::optional<int16_t> readInt16(const QString& text);

}  // namespace pixavant
