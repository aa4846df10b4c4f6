// read_memrate.cpp - the reader of memrate's report: set-up lines, then nine tests each with a
// heading and one or ten result lines.
#include <cstdint>      // int32_t
#include <cstdio>       // std::snprintf
#include <string>       // std::string
#include <vector>       // std::vector
#include "suite_results.h"
#include "suite_text.h"

namespace {

struct memrate_test {
    const char *heading;
    const char *pattern;   // the result line; '#' stands for one integer field
    const char *format;    // the same line as the program prints it, up to the rate
    const char *id;
    const char *label;
};

// The nine tests in report order; tests 7 to 9 print one line per stride.
const memrate_test memrate_tests[] = {
    {"(1) Memory read/write test through 32-bit pointer access", "Read/Write #: # times, # bytes, # msec => # KB/sec",
     "Read/Write %3d: %d times, %8d bytes, %4d msec => ", "memrate-t1-copy", "copy, 32-bit words"},
    {"(2) Memory read/write test through 32-bit pointer access", "Read/Write #: # times, # bytes, # msec => # KB/sec",
     "Read/Write %3d: %d times, %8d bytes, %4d msec => ", "memrate-t2-copy", "copy, 32-bit words, again"},
    {"(3) Memory read/write test through memcpy()", "Read/Write #: # times, # bytes, # msec => # KB/sec",
     "Read/Write %3d: %d times, %8d bytes, %4d msec => ", "memrate-t3-memcpy", "memcpy, both ways"},
    {"(4) Memory read/write test through memcpy(prefetch version)",
     "Read/Write #: # times, # bytes, # msec => # KB/sec", "Read/Write %3d: %d times, %8d bytes, %4d msec => ",
     "memrate-t4-memcpy-oneway", "memcpy, one way"},
    {"(5) Memory read test", "Read  #: # times, # bytes, # msec => # KB/sec",
     "Read  %3d: %d times, %8d bytes, %4d msec => ", "memrate-t5-read", "read"},
    {"(6) Memory write test", "Write #: # times, # bytes, # msec => # KB/sec",
     "Write %3d: %d times, %8d bytes, %4d msec => ", "memrate-t6-write", "write"},
    {"(7) Memory read/write test", "Read/Write  # bytes, skip # bytes # msec => # KB/sec",
     "Read/Write  %8d bytes, skip %4d bytes %4d msec => ", "memrate-t7-copy", "strided copy"},
    {"(8) Memory read test", "Read  # bytes, skip # bytes # msec => # KB/sec",
     "Read  %8d bytes, skip %4d bytes %4d msec => ", "memrate-t8-read", "strided read"},
    {"(9) Memory write test", "Write  # bytes, skip # bytes # msec => # KB/sec",
     "Write  %8d bytes, skip %4d bytes %4d msec => ", "memrate-t9-write", "strided write"},
};
constexpr int32_t memrate_test_count = 9;
constexpr int32_t stride_steps = 10;

// The set-up lines before test 1, by their fixed start.
const char *const setup_lines[] = {" Allocated ", " Aligned at 0x", "mem mode 0: source cachable, dest cachable",
                                   " Read from : 0x", " Write to  : 0x", " Size : ", "Memory read/write test"};

// Matches a line against a pattern in which '#' stands for a right-aligned integer field (blanks,
// then a number as "%d" prints it) and every other character for itself. The last field may be a
// lone "-": the rate of an untimed run, reported through missing. The line must then be exactly
// what the program's format makes of the fields read, widths included.
bool match_line(const std::string &line, const memrate_test &t, std::vector<int32_t> &fields, bool &missing)
{
    fields.clear();
    missing = false;
    size_t pos = 0;
    for (const char *p = t.pattern; *p; ++p) {
        if (*p != '#') {
            if (pos >= line.size() || line[pos] != *p)
                return false;
            ++pos;
            continue;
        }
        while (pos < line.size() && line[pos] == ' ')
            ++pos;
        const size_t start = pos;
        if (pos < line.size() && line[pos] == '-')
            ++pos;
        while (pos < line.size() && line[pos] >= '0' && line[pos] <= '9')
            ++pos;
        int32_t v = 0;
        if (pos - start == 1 && line[start] == '-' && p[1] == ' ' && p[2] == 'K') {
            missing = true;
        } else if (!parse_int32(std::string_view(line).substr(start, pos - start), v)) {
            return false;
        }
        fields.push_back(v);
    }
    if (pos != line.size())
        return false;
    char text[160];
    if (fields.size() == 5)
        std::snprintf(text, sizeof text, t.format, fields[0], fields[1], fields[2], fields[3]);
    else
        std::snprintf(text, sizeof text, t.format, fields[0], fields[1], fields[2]);
    std::string rebuilt = text;
    if (missing)
        std::snprintf(text, sizeof text, "%6s KB/sec", "-");
    else
        std::snprintf(text, sizeof text, "%6d KB/sec", fields.back());
    return rebuilt + text == line;
}

}  // namespace

report_reading read_memrate(const std::string &out)
{
    report_reading r;
    bool have_setup = false;
    int32_t test = 0;                          // the test whose lines are being read, 1-based
    int32_t lines_of[memrate_test_count] = {};
    std::vector<int32_t> f;
    bool missing = false;
    auto fault = [&](const std::string &message) {
        if (r.fault.empty())
            r.fault = message;
    };

    for (const std::string &line : split_lines(out)) {
        if (line == "Please enter: [command] [memory size]") {
            r.fault = "memrate printed its usage line: it was not given one block size";
            return r;
        }
        if (line == " Error :: malloc failed") {
            r.fault = "memrate could not allocate its block";
            return r;
        }
        if (line.empty())
            continue;
        bool setup = false;
        for (const char *s : setup_lines)
            setup = setup || line.starts_with(s);
        if (setup) {
            if (test != 0)
                fault("two reports in one file (set-up line after test " + std::to_string(test) + ")");
            have_setup = true;
            continue;
        }
        int32_t heading = 0;
        for (int32_t t = 0; t < memrate_test_count; ++t)
            if (line == memrate_tests[t].heading)
                heading = t + 1;
        if (heading != 0) {
            if (heading != test + 1)
                fault("test " + std::to_string(heading) + " out of order");
            test = heading;
            continue;
        }
        if (test == 0) {
            fault("malformed set-up line: " + excerpt(line));
            continue;
        }
        const memrate_test &mt = memrate_tests[test - 1];
        const bool strided = test >= 7;
        if (!match_line(line, mt, f, missing)) {
            fault("malformed line in test " + std::to_string(test) + ": " + excerpt(line));
            continue;
        }
        const int32_t n = lines_of[test - 1];
        if (n < stride_steps)
            ++lines_of[test - 1];
        const int32_t rate = f.back();
        std::string id = mt.id, label = mt.label;
        if (strided) {
            // Skips of 4 to 2048 bytes, one line each; the shift is taken only within that range.
            if (n >= stride_steps || f[1] != (4 << n)) {
                fault("test " + std::to_string(test) + ": unexpected line: " + excerpt(line));
                continue;
            }
            const std::string skip = std::to_string(4 << n);
            id += "-skip" + skip;
            label += ", skip " + skip + " bytes";
        } else if (n >= 1) {
            fault("test " + std::to_string(test) + ": more than one result line");
            continue;
        }
        if (missing) {
            fault("test " + std::to_string(test) + ": no rate (0 ms measured: the block is too small to time)");
            continue;
        }
        if (rate <= 0)
            fault("test " + std::to_string(test) + ": implausible rate " + std::to_string(rate) + " KB/sec");
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
