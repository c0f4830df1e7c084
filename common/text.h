// Reading numbers out of property text.
//
// Every decimal reader of the actions is built from the two steps below; each
// keeps its own rule on top of them (what may stand before the digits, what
// text without digits means, how a large value ends), since results the
// actions have always given depend on each rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantor {

// The digits ReadDigits found.
struct DigitRun {
    std::uint64_t value = 0;
    std::size_t count = 0; // 0: no digit stood there
};

// Reads every decimal digit from p on and leaves p after the last one. The
// value grows only while it is below cut (at most 2^60): once it has reached
// cut, the remaining digits are read over and change nothing. So the value
// is exact when it stays below cut, and at least cut otherwise.
DigitRun ReadDigits(const char*& p, std::uint64_t cut);

// Skips the white space of the C locale and an optional sign, as the
// runtime's own decimal conversions do; true when the sign was "-".
bool ReadSpaceAndSign(const char*& p);

// Digits and nothing else, at least one.
bool IsDigits(const std::string& text);

// A decimal prefix: leading white space, an optional sign, then digits up to
// the first other character. Text without digits gives 0; a value beyond the
// 32-bit range gives the nearest 32-bit limit. A null text gives 0.
std::int32_t ParseDecimal(const char* text);

} // namespace vantor
