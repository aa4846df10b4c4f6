// fuzz_folder.cpp - libFuzzer target: the results-folder loader on a folder made of the input.
// The input is a series of files, each its name on the first line and then its content, the files
// separated by NUL bytes; a file that is not named is missing.
#include <cstddef>   // size_t
#include <cstdint>   // uint8_t
#include <map>       // std::map
#include <string>    // std::string
#include "fuzz_check.h"
#include "suite_results.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string input(reinterpret_cast<const char *>(data), size);
    std::map<std::string, std::string> files;
    size_t pos = 0;
    while (pos < input.size()) {
        size_t end = input.find('\0', pos);
        if (end == std::string::npos)
            end = input.size();
        const std::string record = input.substr(pos, end - pos);
        const size_t nl = record.find('\n');
        if (nl != std::string::npos)
            files.emplace(record.substr(0, nl), record.substr(nl + 1));
        pos = end + 1;
    }
    suite_results r;
    const std::string error = load_folder("r", [&](const std::string &name) {
        file_text f;
        const auto at = files.find(name);
        if (at != files.end()) {
            f.state = file_text::ok;
            f.text = at->second;
        }
        return f;
    }, r);
    fuzz_check_message(error);
    if (!error.empty())
        return 0;
    // Every run is there once, each invalid run has its problem, and a folder with no problem has
    // only valid runs.
    fuzz_check(r.runs.size() == static_cast<size_t>(r.repeats) * 4);
    bool any_invalid = false;
    for (const program_run &run : r.runs) {
        fuzz_check_message(run.verdict);
        any_invalid = any_invalid || !run.valid;
    }
    fuzz_check(any_invalid == !r.problems.empty() && all_valid(r) == r.problems.empty());
    for (const std::string &line : problem_lines(r))
        fuzz_check(line.find('\n') == std::string::npos);
    return 0;
}
