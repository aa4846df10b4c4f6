// fuzz_tarnvik_out.cpp - libFuzzer target: the reader of tarnvik's accuracy report on any text.
#include <cstddef>   // size_t
#include <cstdint>   // uint8_t
#include <string>    // std::string
#include "fuzz_check.h"
#include "suite_results.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const report_reading r = read_tarnvik_out("tarnvik-vfp", std::string(reinterpret_cast<const char *>(data), size));
    // A valid reading has both residuals, finite, the normalised one within the bound.
    if (r.fault.empty()) {
        fuzz_check(r.samples.size() == 2);
        fuzz_check(r.samples[0].value >= 0.0 && r.samples[0].value <= residual_bound);
        fuzz_check(r.samples[1].value >= 0.0 && r.samples[1].value < 1e308);
    }
    fuzz_check_message(r.fault);
    return 0;
}
