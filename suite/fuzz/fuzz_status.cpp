// fuzz_status.cpp - libFuzzer target: the exit status reader and its explanation, and the sensors
// reader, on any text.
#include <cstddef>   // size_t
#include <cstdint>   // uint8_t, int32_t
#include <string>    // std::string
#include "fuzz_check.h"
#include "suite_results.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    int32_t status = -1;
    const std::string fault = read_status(text, status);
    // Read only from "N\n" with N from 0 to 255, written as the shell writes it.
    if (fault.empty())
        fuzz_check(status >= 0 && status <= 255 && text == std::to_string(status) + "\n");
    else
        fuzz_check(fault == "not an exit status");
    for (const char *program : {"veskrane", "tarnvik-soft"})
        fuzz_check_message(explain_status(program, status < 0 ? 139 : status, text));
    std::string warning;
    fuzz_check_message(read_sensors(text, warning));
    fuzz_check_message(warning);
    return 0;
}
