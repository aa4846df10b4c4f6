// suite_results.cpp - readers of the four programs' reports, the results-folder loader and the
// aggregation of repeated runs.
#include "suite_results.h"

#include <algorithm>  // std::sort, std::find_if
#include <cerrno>     // errno
#include <cmath>      // std::isfinite, std::sqrt
#include <cstdio>     // std::snprintf
#include <cstdlib>    // std::strtod, std::strtol
#include <cstring>    // std::strlen
#include <fstream>    // std::ifstream
#include <sstream>    // std::ostringstream
#include <sys/stat.h> // stat

namespace {

std::vector<std::string> split_lines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

bool starts_with(const std::string &s, const char *prefix)
{
    return s.rfind(prefix, 0) == 0;
}

bool ends_with(const std::string &s, const char *suffix)
{
    const size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

// Parses a whole decimal number (optional sign, digits, optional fraction); false on anything else.
bool parse_number(const std::string &text, double &value)
{
    if (text.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && errno == 0;
}

// A value field "%d", "%lu" or "%f" after a fixed label; the text after the label must be a number.
bool field_after(const std::string &line, const char *label, double &value)
{
    return parse_number(line.substr(std::strlen(label)), value);
}

// Matches a line against a pattern in which '#' stands for a right-aligned integer field (leading
// blanks, optional '-', digits) and every other character for itself. A field that holds a lone "-"
// (a rate the program could not compute) is returned as "absent" through the missing flag.
bool match_line(const std::string &line, const char *pattern, std::vector<long long> &fields,
                bool &missing)
{
    fields.clear();
    missing = false;
    size_t pos = 0;
    for (const char *p = pattern; *p; ++p) {
        if (*p != '#') {
            if (pos >= line.size() || line[pos] != *p)
                return false;
            ++pos;
            continue;
        }
        while (pos < line.size() && line[pos] == ' ')
            ++pos;
        bool negative = false;
        if (pos < line.size() && line[pos] == '-') {
            negative = true;
            ++pos;
        }
        size_t digits = 0;
        long long v = 0;
        while (pos < line.size() && line[pos] >= '0' && line[pos] <= '9') {
            if (digits < 18)
                v = v * 10 + (line[pos] - '0');
            ++digits;
            ++pos;
        }
        if (digits == 0) {
            if (!negative)
                return false;
            missing = true;   // a lone "-"
        }
        if (digits > 18)
            return false;
        fields.push_back(negative ? -v : v);
    }
    return pos == line.size();
}

std::string read_file(const std::string &path, bool &ok)
{
    std::ifstream in(path, std::ios::binary);
    ok = static_cast<bool>(in);
    if (!ok)
        return {};
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool is_directory(const std::string &path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string format_double(double v)
{
    char text[64];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

}  // namespace

// veskrane: the validated report of the integer benchmark.
report_reading read_veskrane(const std::string &out, bool quick)
{
    report_reading r;
    bool have_size = false, have_time = false, have_iterations = false, have_rate = false;
    bool ten_second_error = false, seed_set_known = false;
    double rate = 0.0, value = 0.0;
    std::string parallel_failure, mismatch, malformed;
    enum { none, correct, errors, unknown_seeds } verdict = none;

    for (const std::string &line : split_lines(out)) {
        if (starts_with(line, "ERROR in ") || starts_with(line, "ERROR waiting") || starts_with(line, "errno=")) {
            if (parallel_failure.empty())
                parallel_failure = line;
        } else if (starts_with(line, "[") && line.find("]ERROR! ") != std::string::npos) {
            if (mismatch.empty())
                mismatch = line;
        } else if (ends_with(line, " run parameters for veskrane.")) {
            seed_set_known = true;
        } else if (starts_with(line, "Veskrane Size    : ")) {
            have_size = true;
        } else if (starts_with(line, "Total time (secs): ")) {
            have_time = field_after(line, "Total time (secs): ", value);
            if (!have_time && malformed.empty())
                malformed = line;
        } else if (starts_with(line, "Iterations/Sec   : ")) {
            have_rate = field_after(line, "Iterations/Sec   : ", rate);
            if (!have_rate && malformed.empty())
                malformed = line;
        } else if (starts_with(line, "Iterations       : ")) {
            have_iterations = field_after(line, "Iterations       : ", value);
            if (!have_iterations && malformed.empty())
                malformed = line;
        } else if (line == "ERROR! Must execute for at least 10 secs for a valid result!") {
            ten_second_error = true;
        } else if (starts_with(line, "Correct operation validated.")) {
            verdict = correct;
            r.verdict = line;
        } else if (line == "Errors detected") {
            verdict = errors;
            r.verdict = line;
        } else if (starts_with(line, "Cannot validate operation for these seed values")) {
            verdict = unknown_seeds;
            r.verdict = line;
        }
    }

    if (have_rate)
        r.samples.push_back({"veskrane-iterations-per-sec", "iterations per second", "iter/s", true, rate});

    if (!have_size && verdict == none)
        r.fault = "not a veskrane report (no \"Veskrane Size\" line)";
    else if (!malformed.empty())
        r.fault = "malformed line: " + malformed;
    else if (!have_size || !have_time || !have_iterations)
        r.fault = "truncated report (size, time or iteration line missing)";
    else if (verdict == none)
        r.fault = "truncated report (no verdict line)";
    else if (!parallel_failure.empty())
        r.fault = "a context failed to deliver its results: " + parallel_failure;
    else if (!mismatch.empty())
        r.fault = "signature mismatch: " + mismatch;
    else if (verdict == unknown_seeds)
        r.fault = "seed values not recognised: the result cannot be validated";
    else if (!have_rate)
        r.fault = "no iterations per second (measured time 0)";
    else if (verdict == errors) {
        // A short run is the only error left once no mismatch was printed; quick mode accepts it.
        if (!(quick && ten_second_error && seed_set_known))
            r.fault = ten_second_error ? "Errors detected (run shorter than 10 seconds; run-suite -q accepts that)"
                                       : "Errors detected";
    }
    return r;
}

namespace {

struct memrate_test {
    const char *heading;
    const char *pattern;   // the result line
    const char *id;
    const char *label;
};

// The nine tests in report order; tests 7 to 9 print one line per stride.
const memrate_test memrate_tests[] = {
    {"(1) Memory read/write test through 32-bit pointer access",
     "Read/Write #: # times, # bytes, # msec => # KB/sec", "memrate-t1-copy", "copy, 32-bit words"},
    {"(2) Memory read/write test through 32-bit pointer access",
     "Read/Write #: # times, # bytes, # msec => # KB/sec", "memrate-t2-copy", "copy, 32-bit words, again"},
    {"(3) Memory read/write test through memcpy()",
     "Read/Write #: # times, # bytes, # msec => # KB/sec", "memrate-t3-memcpy", "memcpy, both ways"},
    {"(4) Memory read/write test through memcpy(prefetch version)",
     "Read/Write #: # times, # bytes, # msec => # KB/sec", "memrate-t4-memcpy-oneway", "memcpy, one way"},
    {"(5) Memory read test", "Read  #: # times, # bytes, # msec => # KB/sec", "memrate-t5-read", "read"},
    {"(6) Memory write test", "Write #: # times, # bytes, # msec => # KB/sec", "memrate-t6-write", "write"},
    {"(7) Memory read/write test", "Read/Write  # bytes, skip # bytes # msec => # KB/sec", "memrate-t7-copy",
     "strided copy"},
    {"(8) Memory read test", "Read  # bytes, skip # bytes # msec => # KB/sec", "memrate-t8-read", "strided read"},
    {"(9) Memory write test", "Write  # bytes, skip # bytes # msec => # KB/sec", "memrate-t9-write",
     "strided write"},
};
constexpr int32_t memrate_test_count = 9;
constexpr int32_t stride_steps = 10;

}  // namespace

// memrate: set-up lines, then nine tests each with a heading and one or ten result lines.
report_reading read_memrate(const std::string &out)
{
    report_reading r;
    bool have_setup = false;
    int32_t test = 0;                          // the test whose lines are being read, 1-based
    int32_t lines_of[memrate_test_count] = {};
    std::vector<long long> f;
    bool missing = false;

    for (const std::string &line : split_lines(out)) {
        if (line == "Please enter: [command] [memory size]") {
            r.fault = "memrate printed its usage line: it was not given one block size";
            return r;
        }
        if (line == " Error :: malloc failed") {
            r.fault = "memrate could not allocate its block";
            return r;
        }
        if (starts_with(line, " Allocated ") || line == "Memory read/write test") {
            have_setup = true;
            continue;
        }
        int32_t heading = 0;
        for (int32_t t = 0; t < memrate_test_count; ++t)
            if (line == memrate_tests[t].heading)
                heading = t + 1;
        if (heading != 0) {
            if (heading != test + 1 && r.fault.empty())
                r.fault = "test " + std::to_string(heading) + " out of order";
            test = heading;
            continue;
        }
        if (test == 0 || line.empty())
            continue;
        const memrate_test &mt = memrate_tests[test - 1];
        const bool strided = test >= 7;
        if (!match_line(line, mt.pattern, f, missing)) {
            if (r.fault.empty())
                r.fault = "malformed line in test " + std::to_string(test) + ": " + line;
            continue;
        }
        const int32_t n = lines_of[test - 1]++;
        const long long rate = f.back();
        std::string id = mt.id, label = mt.label;
        if (strided) {
            const long long want_skip = 4LL << n;
            if (n >= stride_steps || f[1] != want_skip) {
                if (r.fault.empty())
                    r.fault = "test " + std::to_string(test) + ": unexpected line: " + line;
                continue;
            }
            id += "-skip" + std::to_string(want_skip);
            label += ", skip " + std::to_string(want_skip) + " bytes";
        } else if (n >= 1) {
            if (r.fault.empty())
                r.fault = "test " + std::to_string(test) + ": more than one result line";
            continue;
        }
        if (missing) {
            if (r.fault.empty())
                r.fault = "test " + std::to_string(test) + ": no rate (0 ms measured: the block is too small to time)";
            continue;
        }
        if (rate <= 0 && r.fault.empty())
            r.fault = "test " + std::to_string(test) + ": implausible rate " + std::to_string(rate) + " KB/sec";
        r.samples.push_back({id, label, "KB/s", true, static_cast<double>(rate)});
    }

    if (!have_setup && test == 0) {
        r.fault = "not a memrate report (no set-up lines, no test)";
        return r;
    }
    if (r.fault.empty()) {
        for (int32_t t = 0; t < memrate_test_count; ++t) {
            const int32_t want = t >= 6 ? stride_steps : 1;
            if (lines_of[t] != want) {
                r.fault = "truncated report: test " + std::to_string(t + 1) + " has " + std::to_string(lines_of[t]) +
                          " of " + std::to_string(want) + " result lines";
                break;
            }
        }
    }
    return r;
}

// tarnvik standard output: the banner and the two accuracy lines.
report_reading read_tarnvik_out(const std::string &program, const std::string &out)
{
    report_reading r;
    const std::vector<std::string> lines = split_lines(out);
    const auto header = std::find_if(lines.begin(), lines.end(), [](const std::string &l) {
        return l == "     norm. resid      resid           machep         x[0]-1        x[n-1]-1";
    });
    const bool banner = !lines.empty() && lines[0] == "Rolled Double Precision Tarnvik";
    if (header == lines.end()) {
        r.fault = banner ? "truncated report (no accuracy lines)" : "not a tarnvik report (no banner, no accuracy lines)";
        return r;
    }
    if (header + 1 == lines.end()) {
        r.fault = "truncated report (no accuracy figures)";
        return r;
    }
    // Five figures: normalised residual, residual, machine epsilon, x[0]-1, x[n-1]-1.
    double v[5];
    const char *p = (header + 1)->c_str();
    for (double &x : v) {
        char *end = nullptr;
        x = std::strtod(p, &end);
        if (end == p) {
            r.fault = "malformed accuracy line: " + *(header + 1);
            return r;
        }
        p = end;
    }
    if (*p != '\0') {
        r.fault = "malformed accuracy line: " + *(header + 1);
        return r;
    }
    r.samples.push_back({program + "-norm-resid", "normalised residual", "", false, v[0]});
    r.samples.push_back({program + "-resid", "largest residual", "", false, v[1]});
    if (!std::isfinite(v[0]) || !std::isfinite(v[1]) || !std::isfinite(v[3]) || !std::isfinite(v[4]))
        r.fault = "accuracy figures not finite: " + *(header + 1);
    else if (v[0] > residual_bound)
        r.fault = "normalised residual " + format_double(v[0]) + " above the bound " + format_double(residual_bound);
    return r;
}

// tarnvik standard error: the timing table and the final rating line.
report_reading read_tarnvik_err(const std::string &program, const std::string &err)
{
    report_reading r;
    std::vector<long long> f;
    bool missing = false;
    bool banner = false;
    for (const std::string &line : split_lines(err)) {
        if (line == "Rolled Double Precision Tarnvik")
            banner = true;
        if (!starts_with(line, "Rolled Double  Precision "))
            continue;
        if (!match_line(line, "Rolled Double  Precision # Kflops ; 10 Reps ", f, missing) || missing) {
            r.fault = "malformed rating line: " + line;
            return r;
        }
        const long long kflops = f[0];
        r.samples.push_back({program + "-kflops", "rating", "Kflops", true, static_cast<double>(kflops)});
        if (kflops <= 0)
            r.fault = "implausible rating " + std::to_string(kflops) + " Kflops";
        else if (kflops >= 2147483647)
            r.fault = "rating saturated: the measured CPU time was 0";
        r.verdict = std::to_string(kflops) + " Kflops";
        return r;
    }
    r.fault = banner ? "truncated report (no rating line)" : "not a tarnvik report (no banner, no rating line)";
    return r;
}

std::string context_value(const suite_results &results, const std::string &key)
{
    for (const auto &kv : results.context)
        if (kv.first == key)
            return kv.second;
    return {};
}

namespace {

// Reads one run's exit status file; returns a fault or an empty string.
std::string read_status(const std::string &path)
{
    bool ok = false;
    const std::string text = read_file(path, ok);
    if (!ok)
        return "missing";
    char *end = nullptr;
    const long status = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || (*end != '\0' && *end != '\n'))
        return "malformed exit status";
    if (status != 0)
        return "the program ended with status " + std::to_string(status) +
               (status == 127 || status == 126 ? " (it could not be started)" : status > 128 ? " (killed by a signal)" : "");
    return {};
}

// Loads one run of one program, noting every fault against the file it comes from.
void load_run(suite_results &results, const std::string &program, int32_t rep, std::string &tarnvik_figures)
{
    const std::string base = results.dir + "/" + program + "-" + std::to_string(rep);
    program_run run{program, rep, true, {}, {}};
    auto fail = [&](const std::string &file, const std::string &message) {
        if (run.valid)
            run.verdict = message;
        run.valid = false;
        results.problems.push_back({file, message});
    };

    bool have_out = false, have_err = false;
    const std::string out = read_file(base + ".stdout", have_out);
    const std::string err = read_file(base + ".stderr", have_err);
    if (!have_out)
        fail(base + ".stdout", "missing");
    if (program.rfind("tarnvik", 0) == 0 && !have_err)
        fail(base + ".stderr", "missing");

    if (have_out && program == "veskrane") {
        const report_reading r = read_veskrane(out, results.quick);
        run.samples = r.samples;
        run.verdict = r.verdict;
        if (!r.fault.empty())
            fail(base + ".stdout", r.fault);
    } else if (have_out && program == "memrate") {
        const report_reading r = read_memrate(out);
        run.samples = r.samples;
        if (!r.fault.empty())
            fail(base + ".stdout", r.fault);
    } else if (have_out && have_err) {
        const report_reading ro = read_tarnvik_out(program, out);
        const report_reading re = read_tarnvik_err(program, err);
        run.samples = re.samples;
        run.samples.insert(run.samples.end(), ro.samples.begin(), ro.samples.end());
        run.verdict = re.verdict;
        if (!ro.fault.empty())
            fail(base + ".stdout", ro.fault);
        if (!re.fault.empty())
            fail(base + ".stderr", re.fault);
        // Both builds compute the same values, so their accuracy lines must agree digit for digit.
        if (ro.fault.empty()) {
            if (tarnvik_figures.empty())
                tarnvik_figures = out;
            else if (tarnvik_figures != out)
                fail(base + ".stdout", "accuracy figures differ from those of the other tarnvik build");
        }
    }
    const std::string status_fault = read_status(base + ".status");
    if (!status_fault.empty())
        fail(base + ".status", status_fault);
    if (run.valid && run.verdict.empty())
        run.verdict = "valid";
    results.runs.push_back(run);
}

}  // namespace

std::string load_results(const std::string &dir, suite_results &results)
{
    results = suite_results{};
    results.dir = dir;
    if (!is_directory(dir))
        return dir + ": no such results folder";
    bool ok = false;
    const std::string context = read_file(dir + "/context", ok);
    if (!ok)
        return dir + ": no results here (no context file)";
    for (const std::string &line : split_lines(context)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0)
            return dir + "/context: not a suite context file (line without key=value)";
        results.context.emplace_back(line.substr(0, eq), line.substr(eq + 1));
    }
    const std::string repeats = context_value(results, "repeats");
    char *end = nullptr;
    const long n = std::strtol(repeats.c_str(), &end, 10);
    if (repeats.empty() || *end != '\0' || n < 1 || n > 10000)
        return dir + "/context: no valid repeats= entry";
    results.repeats = static_cast<int32_t>(n);
    results.quick = context_value(results, "quick") == "1";
    results.cpuinfo = read_file(dir + "/cpuinfo.txt", ok);
    results.build_info = read_file(dir + "/build-info.txt", ok);

    for (int32_t rep = 1; rep <= results.repeats; ++rep) {
        std::string tarnvik_figures;
        for (const char *program : suite_programs)
            load_run(results, program, rep, tarnvik_figures);
    }
    aggregate(results);
    return {};
}

void describe(const std::vector<double> &values, double &median, double &min, double &max, double &cv)
{
    std::vector<double> v = values;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
    min = v.front();
    max = v.back();
    cv = 0.0;
    if (n < 2)
        return;
    double mean = 0.0;
    for (double x : v)
        mean += x;
    mean /= static_cast<double>(n);
    double ss = 0.0;
    for (double x : v)
        ss += (x - mean) * (x - mean);
    const double sd = std::sqrt(ss / static_cast<double>(n - 1));
    cv = mean != 0.0 ? sd / std::fabs(mean) : 0.0;
}

void aggregate(suite_results &results)
{
    results.metrics.clear();
    for (const program_run &run : results.runs) {
        for (const sample &s : run.samples) {
            auto m = std::find_if(results.metrics.begin(), results.metrics.end(),
                                  [&](const metric &x) { return x.id == s.id; });
            if (m == results.metrics.end()) {
                results.metrics.push_back({s.id, s.label, s.unit, run.program, s.higher_is_better, {}, 0, 0, 0, 0});
                m = results.metrics.end() - 1;
            }
            // Non-finite figures are faults of their run already; they stay out of the statistics.
            if (std::isfinite(s.value))
                m->values.push_back(s.value);
        }
    }
    for (metric &m : results.metrics) {
        if (m.values.empty())
            m.median = m.min = m.max = m.cv = std::nan("");
        else
            describe(m.values, m.median, m.min, m.max, m.cv);
    }
}

bool all_valid(const suite_results &results)
{
    return results.problems.empty();
}
