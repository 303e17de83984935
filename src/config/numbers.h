// How texts from kalmora.ini and the version index are read as numbers.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kalmora {

// A decimal number with an optional sign, optional fraction and surrounding
// blanks (spaces or tabs): " -1 ", "+180", "1.5". Anything else, the empty
// text included, is not a number.
std::optional<double> ParseNumber(std::string_view text);

// A switch is on when its value reads as the number 1 ("1", " 1", "1.0").
bool IsOn(std::string_view value);

// BeepOnShutdown alone is on when it reads as -1, the Boolean true.
bool IsTrueBoolean(std::string_view value);

// `value` divided by 60, rounded to the nearest whole number with an exact
// half going to the even neighbour (90 and 150 give 2).
long long MinutesRoundedHalfEven(double seconds);

std::string_view TrimBlanks(std::string_view s);

}  // namespace kalmora
