// How texts from kalmora.ini and the version index are read as numbers.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kalmora {

// A decimal number: an optional sign right before the digits, digits with
// at most one "." among or after them, and blanks (spaces or tabs) around
// it: " -1 ", "+180", "007", "1.5", ".5", "5.".
// Not a number: the empty or blank text, words, an exponent ("1e3"),
// hexadecimal, a decimal comma ("1,5"), a blank after the sign, anything
// after the number. Each user of a value treats that as it says (Version
// fails the read, a switch is off, a delay takes its default).
// Decimals count at their value: "1.0" is the switch value 1, "1.5" is no
// switch value and a Version above 1.
// Overflow: a number beyond the range of a double (about 1.8e308) is not a
// number either; no sensible setting comes near it, so it marks the file as
// damaged rather than being clamped to some large value.
std::optional<double> ParseNumber(std::string_view text);

// A switch is on when its value reads as the number 1 ("1", " 1", "1.0").
bool IsOn(std::string_view value);

// BeepOnShutdown alone is on when it reads as -1, the Boolean true.
bool IsTrueBoolean(std::string_view value);

// Whether EmailUseBcc asks for a blind copy: any number but 0 does; so does
// any other text but the empty one, so that a mistyped switch hides the
// recipients rather than showing them.
bool UseBlindCopy(std::string_view email_use_bcc);

// `seconds` divided by 60, rounded to the nearest whole number with an exact
// half going to the even neighbour (90 and 150 give 2).
long long MinutesRoundedHalfEven(double seconds);

// Without leading and trailing spaces and tabs.
std::string_view TrimBlanks(std::string_view s);
// Without leading and trailing spaces only (tabs stay).
std::string TrimSpaces(std::string_view s);
// ASCII letters in lower case; other bytes unchanged.
std::string AsciiLower(std::string_view s);
// Bytes as lower-case hexadecimal, two digits each (a SHA-256 digest as the
// version index writes it).
std::string HexLower(std::string_view bytes);

}  // namespace kalmora
