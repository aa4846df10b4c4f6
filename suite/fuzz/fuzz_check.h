// fuzz_check.h - what every fuzz target checks besides the sanitizers: the properties of a verdict.
#pragma once
#include <cmath>     // std::isfinite
#include <string>    // std::string

// A broken property is a finding: stop at once, so that libFuzzer keeps the input.
inline void fuzz_check(bool holds)
{
    if (!holds)
        __builtin_trap();
}

inline bool positive_finite(double v)
{
    return std::isfinite(v) && v > 0.0;
}

// A message is one short line: no newline, and never the whole of a long input.
inline void fuzz_check_message(const std::string &message)
{
    fuzz_check(message.find('\n') == std::string::npos && message.size() < 2048);
}
