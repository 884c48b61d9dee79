// Number helpers. The program's own texts and files always use "." as the
// decimal point, whatever the user's locale; helpers for typed input accept ","
// where the caller asks for it.
#pragma once

#include <cstdint>
#include <string>

// Saturating, NaN-safe conversion of a double to a byte: NaN gives 0, values
// are rounded to nearest and clamped to 0..255.
uint8_t SaturateToByte(double value);
// The same for int: NaN and out-of-range values saturate instead of being UB.
int32_t SaturateToInt(double value);

// Integer text: leading spaces and TABs skipped, optional sign, "$" hexadecimal,
// "%" binary, else decimal; stops at the first other character; no digits give 0.
int64_t ParseIntText(const std::string& text);
// Decimal text with "." as the point ("+Infinity", "-Infinity", "NaN" in any
// case are recognised); parses the longest valid prefix, 0 when none.
// With commaIsPoint every "," counts as ".".
double ParseFloatText(const std::string& text, bool commaIsPoint = false);
// Fixed-point text with the given number of decimals, "." as the point.
std::string FormatFixed(double value, int decimals);
