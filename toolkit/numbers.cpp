#include "toolkit/numbers.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

uint8_t SaturateToByte(double value) {
    if (!(value > 0.0)) return 0;  // also NaN
    if (value >= 255.0) return 255;
    return uint8_t(value + 0.5);
}

int32_t SaturateToInt(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (value <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return int32_t(value);
}

int64_t ParseIntText(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i < text.size() && text[i] == '%') {
        base = 2;
        ++i;
    }
    uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else break;
        if (digit >= base) break;
        value = value * uint64_t(base) + uint64_t(digit);  // wraps like a 64-bit register
    }
    return negative ? int64_t(0 - value) : int64_t(value);
}

double ParseFloatText(const std::string& input, bool commaIsPoint) {
    std::string text = input;
    if (commaIsPoint)
        for (char& c : text)
            if (c == ',') c = '.';
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    auto startsWithNoCase = [&](size_t at, const char* word) {
        for (size_t k = 0; word[k]; ++k) {
            if (at + k >= text.size()) return false;
            char c = text[at + k];
            if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
            if (c != word[k]) return false;
        }
        return true;
    };
    size_t j = i;
    bool negative = false;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) negative = text[j++] == '-';
    if (startsWithNoCase(j, "infinity")) return negative ? -INFINITY : INFINITY;
    if (startsWithNoCase(j, "nan")) return NAN;
    // Longest prefix of the form digits [. digits] [e [sign] digits].
    size_t k = j;
    while (k < text.size() && text[k] >= '0' && text[k] <= '9') ++k;
    if (k < text.size() && text[k] == '.') {
        ++k;
        while (k < text.size() && text[k] >= '0' && text[k] <= '9') ++k;
    }
    if (k == j || (k == j + 1 && text[j] == '.')) return 0.0;
    if (k < text.size() && (text[k] == 'e' || text[k] == 'E')) {
        size_t e = k + 1;
        if (e < text.size() && (text[e] == '+' || text[e] == '-')) ++e;
        if (e < text.size() && text[e] >= '0' && text[e] <= '9') {
            while (e < text.size() && text[e] >= '0' && text[e] <= '9') ++e;
            k = e;
        }
    }
    double value = 0.0;
    if (std::from_chars(text.data() + j, text.data() + k, value).ec == std::errc::result_out_of_range) {
        // from_chars leaves the value untouched then; strtod gives the
        // infinity of an overflow and the zero of an underflow.
        value = std::strtod(text.substr(j, k - j).c_str(), nullptr);
    }
    return negative ? -value : value;
}

std::string FormatFixed(double value, int decimals) {
    char buffer[400];  // room for the largest double written out in full
    std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (r.ec != std::errc()) return "0";
    return std::string(buffer, r.ptr);
}
