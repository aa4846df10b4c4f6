// fuzz_tarnvik_err.cpp - libFuzzer target: the reader of tarnvik's timing report on any text.
#include <cstddef>   // size_t
#include <cstdint>   // uint8_t
#include <string>    // std::string
#include "fuzz_check.h"
#include "suite_results.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const report_reading r = read_tarnvik_err("tarnvik-soft", std::string(reinterpret_cast<const char *>(data), size));
    // A valid reading has one rating, above 0 and below the saturated value.
    if (r.fault.empty())
        fuzz_check(r.samples.size() == 1 && r.samples[0].value > 0.0 && r.samples[0].value < 2147483647.0);
    fuzz_check_message(r.fault);
    return 0;
}
