// read_veskrane.cpp - the reader of veskrane's validated report.
#include <cstdint>      // int32_t, uint64_t
#include <string>       // std::string
#include "suite_results.h"
#include "suite_text.h"

namespace {

// How the value after a label is written.
enum class form { unsigned_integer, fixed6, text };

// The labelled lines of the report, each printed once per run: a second one means two reports in
// one file. The first five carry the figures read.
enum field { size, ticks, time, rate, iterations, field_count = 10 };
struct labelled_line {
    const char *label;
    form value;
};
constexpr labelled_line report_lines[field_count] = {
    {"Veskrane Size    : ", form::unsigned_integer},
    {"Total ticks      : ", form::unsigned_integer},
    {"Total time (secs): ", form::fixed6},
    {"Iterations/Sec   : ", form::fixed6},
    {"Iterations       : ", form::unsigned_integer},
    {"Compiler version : ", form::text},
    {"Compiler flags   : ", form::text},
    {"Parallel ", form::text},
    {"Memory location  : ", form::text},
    {"seedcrc          : ", form::text},
};

// The one line veskrane prints instead of running when another run holds its result segments.
constexpr const char segments_held[] =
    "veskrane: another veskrane run holds the result segments (keys 4321 to 4324); not run: run one veskrane at a time";

constexpr const char quick_acceptance[] = "quick mode: run shorter than 10 seconds, signatures correct";

bool value_ok(form f, const std::string &text, double &value)
{
    if (f == form::unsigned_integer) {
        uint64_t v = 0;
        if (!parse_unsigned(text, v))
            return false;
        value = static_cast<double>(v);
        return true;
    }
    if (f == form::fixed6)
        return parse_fixed(text, 6, value) && value >= 0.0;
    return true;
}

}  // namespace

report_reading read_veskrane(const std::string &out, bool quick)
{
    report_reading r;
    bool have[field_count] = {};
    double values[field_count] = {};
    bool ten_second_error = false, seed_set_known = false, held = false;
    std::string parallel_failure, mismatch, malformed, repeated;
    enum { none, correct, errors, unknown_seeds } verdict = none;
    auto once = [&](bool &seen, const std::string &line) {
        if (seen && repeated.empty())
            repeated = line;
        seen = true;
    };

    for (const std::string &line : split_lines(out)) {
        if (line == segments_held) {
            held = true;
        } else if (line.starts_with("ERROR in ") || line.starts_with("ERROR waiting") || line.starts_with("errno=")) {
            if (parallel_failure.empty())
                parallel_failure = line;
        } else if (line.starts_with("[") && line.find("]ERROR! ") != std::string::npos) {
            if (mismatch.empty())
                mismatch = line;
        } else if (line.ends_with(" run parameters for veskrane.")) {
            once(seed_set_known, line);
        } else if (line == "ERROR! Must execute for at least 10 secs for a valid result!") {
            once(ten_second_error, line);
        } else if (line.starts_with("Correct operation validated.") || line == "Errors detected" ||
                   line.starts_with("Cannot validate operation for these seed values")) {
            if (verdict != none && repeated.empty())
                repeated = line;
            verdict = line[0] == 'C' ? (line[1] == 'o' ? correct : unknown_seeds) : errors;
            r.verdict = line;
        } else {
            for (int32_t f = 0; f < field_count; ++f) {
                const labelled_line &l = report_lines[f];
                if (!line.starts_with(l.label))
                    continue;
                once(have[f], line);
                if (!value_ok(l.value, line.substr(std::char_traits<char>::length(l.label)), values[f]) &&
                    malformed.empty())
                    malformed = line;
                break;
            }
        }
    }

    if (held) {
        r.fault = "another veskrane run held the result segments: not run";
        return r;
    }
    const bool have_rate = have[rate] && malformed.empty() && values[rate] > 0.0;
    if (have_rate)
        r.samples.push_back(
            {"veskrane-iterations-per-sec", "iterations per second", "iter/s", true, values[rate]});

    if (!have[size] && verdict == none)
        r.fault = "not a veskrane report (no \"Veskrane Size\" line)";
    else if (!repeated.empty())
        r.fault = "two reports in one file (a second line " + excerpt(repeated) + ")";
    else if (!malformed.empty())
        r.fault = "malformed line: " + excerpt(malformed);
    else if (!have[size] || !have[ticks] || !have[time] || !have[iterations])
        r.fault = "truncated report (size, time or iteration line missing)";
    else if (verdict == none)
        r.fault = "truncated report (no verdict line)";
    else if (!parallel_failure.empty())
        r.fault = "a context failed to deliver its results: " + excerpt(parallel_failure);
    else if (!mismatch.empty())
        r.fault = "signature mismatch: " + excerpt(mismatch);
    else if (verdict == unknown_seeds)
        r.fault = "seed values not recognised: the result cannot be validated";
    else if (have[rate] && values[rate] <= 0.0)
        r.fault = "implausible rate: iterations per second not above 0";
    else if (!have[rate] && values[time] > 0.0)
        r.fault = "truncated report (no iterations per second line)";
    else if (!have_rate)
        r.fault = "no iterations per second (measured time 0)";
    else if (verdict == errors) {
        // A short run is the only error left once no mismatch was printed; quick mode accepts it.
        if (quick && ten_second_error && seed_set_known)
            r.accepted = quick_acceptance;
        else
            r.fault = ten_second_error ? "Errors detected (run shorter than 10 seconds; run-suite -q accepts that)"
                                       : "Errors detected";
    }
    return r;
}
