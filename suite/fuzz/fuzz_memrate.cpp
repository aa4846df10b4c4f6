// fuzz_memrate.cpp - libFuzzer target: memrate's report reader on any text.
#include <cstddef>   // size_t
#include <cstdint>   // uint8_t
#include <string>    // std::string
#include "fuzz_check.h"
#include "suite_results.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const report_reading r = read_memrate(std::string(reinterpret_cast<const char *>(data), size));
    // A valid reading has all 36 rates, each positive.
    if (r.fault.empty()) {
        fuzz_check(r.samples.size() == 36);
        for (const sample &s : r.samples)
            fuzz_check(positive_finite(s.value));
    }
    fuzz_check_message(r.fault);
    return 0;
}
