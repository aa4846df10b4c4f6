// fuzz_veskrane.cpp - libFuzzer target: veskrane's report reader on any text, in both modes.
#include <cstddef>   // size_t
#include <cstdint>   // uint8_t
#include <string>    // std::string
#include "fuzz_check.h"
#include "suite_results.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    for (const bool quick : {false, true}) {
        const report_reading r = read_veskrane(text, quick);
        // A valid reading carries one positive, finite rate; only quick mode accepts anything.
        if (r.fault.empty())
            fuzz_check(r.samples.size() == 1 && positive_finite(r.samples[0].value));
        fuzz_check(r.accepted.empty() || (quick && r.fault.empty()));
        fuzz_check_message(r.fault);
    }
    return 0;
}
