#include "options/NumberReading.h"

#include <locale.h>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace pixavant {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The longest prefix of `s` that forms a number, or an empty string.
std::string numberPrefix(const std::string& s) {
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        ++i;
    size_t digits = 0;
    while (i < s.size() && isDigit(s[i]))
        ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && isDigit(s[i]))
            ++i, ++digits;
    }
    if (digits == 0)
        return {};
    size_t end = i;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-'))
            ++j;
        size_t expDigits = 0;
        while (j < s.size() && isDigit(s[j]))
            ++j, ++expDigits;
        if (expDigits > 0)
            end = j;
    }
    return s.substr(0, end);
}

// strtod in the "C" locale, whatever locale the application runs in.
double parseCLocale(const std::string& number) {
    static locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(0));
    return strtod_l(number.c_str(), nullptr, cLocale);  // overflow gives +-HUGE_VAL (infinity)
}

}  // namespace

double leadingNumber(const QString& text) {
    std::string compact;
    compact.reserve(size_t(text.size()));
    for (QChar c : text) {
        if (c == u' ' || c == u'\t')
            continue;
        // Anything outside ASCII ends the number anyway; keep a placeholder so it stops there.
        compact.push_back(c.unicode() < 128 ? char(c.unicode()) : '\x7f');
    }
    const std::string number = numberPrefix(compact);
    if (number.empty())
        return 0.0;
    return parseCLocale(number);
}

double roundHalfEven(double value) {
    // The default floating-point rounding mode is round-to-nearest, ties to even.
    return std::nearbyint(value);
}

std::optional<int16_t> readInt16(const QString& text) {
    const double rounded = roundHalfEven(leadingNumber(text));
    if (!(rounded >= std::numeric_limits<int16_t>::min() &&
          rounded <= std::numeric_limits<int16_t>::max())) {
        return std::nullopt;
    }
    return int16_t(rounded);
}

}  // namespace pixavant
