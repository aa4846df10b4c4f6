// suite_tests.cpp - suite-report's readers, loader, statistics and writers, on reports captured from
// the real programs, on damaged copies of them and on a repeated run.
#include <gtest/gtest.h>

#include <cmath>          // std::isnan
#include <cstdio>         // FILE
#include <cerrno>         // errno, ENOSPC
#include <cstdlib>        // mkdtemp
#include <sys/stat.h>     // mkfifo
#include <filesystem>     // copying fixture folders
#include <fstream>        // reading and writing fixture files
#include <functional>     // std::function
#include <nlohmann/json.hpp>
#include <regex>          // the farm's result-line grammar
#include <set>            // unique ids
#include <sstream>        // std::ostringstream
#include <string>

#include "capture.h"       // printed: what a writer writes to a FILE *
#include "suite_output.h"
#include "suite_results.h"

namespace fs = std::filesystem;

namespace {

const std::string fixtures = SUITE_FIXTURES;

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void spill(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// A captured report: run-n1 is a default run, run-n3 a quick run repeated three times.
std::string report(const std::string &name)
{
    return slurp(fixtures + "/" + name);
}

// The first n lines of a text.
std::string head(const std::string &text, int n)
{
    size_t pos = 0;
    for (int i = 0; i < n && pos != std::string::npos; ++i) {
        pos = text.find('\n', pos);
        if (pos != std::string::npos)
            ++pos;
    }
    return pos == std::string::npos ? text : text.substr(0, pos);
}

// A text up to the end of the first line that holds marker.
std::string upto(const std::string &text, const std::string &marker)
{
    const size_t at = text.find(marker);
    EXPECT_NE(std::string::npos, at) << marker;
    return at == std::string::npos ? text : text.substr(0, text.find('\n', at) + 1);
}

// A text whose first line starting with prefix is replaced by line (removed when line is empty).
std::string replace_line(const std::string &text, const std::string &prefix, const std::string &line)
{
    const size_t at = text.find("\n" + prefix);
    EXPECT_NE(std::string::npos, at) << prefix;
    if (at == std::string::npos)
        return text;
    const size_t end = text.find('\n', at + 1);
    return text.substr(0, at + 1) + (line.empty() ? "" : line + "\n") + text.substr(end + 1);
}

std::string replace(std::string text, const std::string &from, const std::string &to)
{
    const size_t pos = text.find(from);
    EXPECT_NE(std::string::npos, pos) << from;
    if (pos != std::string::npos)
        text.replace(pos, from.size(), to);
    return text;
}

// A scratch folder, removed with everything in it at the end of the test.
struct scratch {
    std::string path;
    scratch()
    {
        std::string pattern = (fs::temp_directory_path() / "suite-test-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~scratch() { fs::remove_all(path); }
};

// A copy of a fixture results folder in a scratch folder.
std::string copy_run(const scratch &s, const std::string &run)
{
    const std::string to = s.path + "/" + run;
    fs::copy(fixtures + "/" + run, to, fs::copy_options::recursive);
    return to;
}

// A fault as expected: none when want is empty, otherwise one that starts with want.
bool fault_is(const std::string &fault, const char *want)
{
    return *want == '\0' ? fault.empty() : fault.rfind(want, 0) == 0;
}

const sample *find(const std::vector<sample> &samples, const std::string &id)
{
    for (const sample &s : samples)
        if (s.id == id)
            return &s;
    return nullptr;
}

}  // namespace

TEST(Readers, RealReportsAreValid)
{
    const report_reading v = read_veskrane(report("run-n1/veskrane-1.stdout"), false);
    EXPECT_EQ("", v.fault);
    ASSERT_NE(nullptr, find(v.samples, "veskrane-iterations-per-sec"));
    EXPECT_GT(find(v.samples, "veskrane-iterations-per-sec")->value, 0.0);

    const report_reading m = read_memrate(report("run-n1/memrate-1.stdout"));
    EXPECT_EQ("", m.fault);
    EXPECT_EQ(6u + 3u * 10u, m.samples.size());
    std::set<std::string> ids;
    for (const sample &s : m.samples) {
        EXPECT_GT(s.value, 0.0) << s.id;
        EXPECT_EQ("KB/s", s.unit);
        ids.insert(s.id);
    }
    EXPECT_EQ(m.samples.size(), ids.size());
    EXPECT_NE(nullptr, find(m.samples, "memrate-t7-copy-skip4"));
    EXPECT_NE(nullptr, find(m.samples, "memrate-t9-write-skip2048"));

    for (const std::string program : {"tarnvik-soft", "tarnvik-vfp"}) {
        SCOPED_TRACE(program);
        const report_reading o = read_tarnvik_out(program, report("run-n1/" + program + "-1.stdout"));
        const report_reading e = read_tarnvik_err(program, report("run-n1/" + program + "-1.stderr"));
        EXPECT_EQ("", o.fault);
        EXPECT_EQ("", e.fault);
        ASSERT_NE(nullptr, find(o.samples, program + "-norm-resid"));
        EXPECT_DOUBLE_EQ(1.7, find(o.samples, program + "-norm-resid")->value);
        ASSERT_NE(nullptr, find(e.samples, program + "-kflops"));
        EXPECT_GT(find(e.samples, program + "-kflops")->value, 0.0);
    }
}

// The verdict of veskrane's report, as the harness takes it.
TEST(Readers, VeskraneVerdicts)
{
    const std::string full = report("run-n1/veskrane-1.stdout");
    const std::string quick = report("run-n3/veskrane-1.stdout");
    const std::string verdict = "Correct operation validated. See readme.txt for run and reporting rules.";
    struct {
        const char *label;
        std::string text;
        bool quick_mode;
        const char *fault;   // expected start of the fault; "" for valid
    } const cases[] = {
        {"full run", full, false, ""},
        {"short run, normal mode", quick, false, "Errors detected (run shorter than 10 seconds"},
        {"short run, quick mode", quick, true, ""},
        {"short run with a mismatch, quick mode",
         replace(quick, "[2]crcmatrix     : 0x1fd7", "[2]ERROR! matrix crc 0x1234 - should be 0x1fd7\n[2]crcmatrix     : 0x1234"),
         true, "signature mismatch: [2]ERROR! matrix crc"},
        {"unknown seeds", replace(full, verdict,
                                  "Cannot validate operation for these seed values, please compare with results on a "
                                  "known platform."),
         false, "seed values not recognised"},
        {"child failure with a correct verdict", "ERROR in child shmat!\n" + full, false,
         "a context failed to deliver its results: ERROR in child shmat!"},
        {"wait failure", replace(full, verdict, "ERROR waiting for child.\nerrno=No such child 42\n" + verdict), false,
         "a context failed to deliver its results: ERROR waiting for child."},
        {"truncated before the verdict", head(full, 12), false, "truncated report (no verdict line)"},
        {"truncated after two lines", head(full, 2), false, "truncated report (size, time"},
        {"empty", "", false, "not a veskrane report"},
        {"memrate's report", report("run-n1/memrate-1.stdout"), false, "not a veskrane report"},
        {"no measured time, quick mode",
         replace_line(replace_line(quick, "Total time (secs): ", "Total time (secs): 0.000000"), "Iterations/Sec   : ", ""),
         true, "no iterations per second (measured time 0)"},
        {"garbled rate", replace_line(full, "Iterations/Sec   : ", "Iterations/Sec   : x"), false, "malformed line: "},
        // Numbers only in the forms veskrane prints: "%f" with six decimals, "%lu" digits.
        {"rate nan", replace_line(full, "Iterations/Sec   : ", "Iterations/Sec   : nan"), false, "malformed line: "},
        {"rate inf", replace_line(full, "Iterations/Sec   : ", "Iterations/Sec   : inf"), false, "malformed line: "},
        {"rate -5", replace_line(full, "Iterations/Sec   : ", "Iterations/Sec   : -5.000000"), false, "malformed line: "},
        {"rate +1e3", replace_line(full, "Iterations/Sec   : ", "Iterations/Sec   : +1e3"), false, "malformed line: "},
        {"rate 0x10", replace_line(full, "Iterations/Sec   : ", "Iterations/Sec   : 0x10"), false, "malformed line: "},
        {"rate with a blank before it", replace_line(full, "Iterations/Sec   : ", "Iterations/Sec   :  6474.682520"),
         false, "malformed line: "},
        {"rate with five decimals", replace_line(full, "Iterations/Sec   : ", "Iterations/Sec   : 6474.68252"), false,
         "malformed line: "},
        {"rate 0", replace_line(full, "Iterations/Sec   : ", "Iterations/Sec   : 0.000000"), false,
         "implausible rate: iterations per second not above 0"},
        {"time without its decimals", replace_line(full, "Total time (secs): ", "Total time (secs): 67"), false,
         "malformed line: "},
        {"iterations with a sign", replace_line(full, "Iterations       : ", "Iterations       : +800"), false,
         "malformed line: "},
        {"iterations with a leading zero", replace_line(full, "Iterations       : ", "Iterations       : 0800"), false,
         "malformed line: "},
        {"a long bad line is quoted short",
         replace_line(full, "Total ticks      : ", "Total ticks      : " + std::string(5000, '9') + "x"), false,
         "malformed line: Total ticks      : 9999"},
        {"no ticks line", replace_line(full, "Total ticks      : ", ""), false, "truncated report (size, time"},
        {"two reports in one file", full + full, false, "two reports in one file"},
        {"two reports, quick mode", quick + quick, true, "two reports in one file"},
        {"segments held by another run",
         "veskrane: another veskrane run holds the result segments (keys 4321 to 4324); not run: run one veskrane at a "
         "time\n",
         true, "another veskrane run held the result segments: not run"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        const std::string fault = read_veskrane(c.text, c.quick_mode).fault;
        EXPECT_TRUE(fault_is(fault, c.fault)) << fault;
        EXPECT_LT(fault.size(), 200u);
    }
    // Quick mode says what it accepted.
    EXPECT_EQ("quick mode: run shorter than 10 seconds, signatures correct", read_veskrane(quick, true).accepted);
    EXPECT_EQ("", read_veskrane(full, true).accepted);
}

TEST(Readers, MemrateFaults)
{
    const std::string good = report("run-n1/memrate-1.stdout");
    const std::string before1 = upto(good, "(1) Memory read/write test");
    const std::string line1 = upto(good, "Read/Write   0:").substr(before1.size());   // test 1's result line
    struct {
        const char *label;
        std::string text;
        const char *fault;
    } const cases[] = {
        {"usage line", "Please enter: [command] [memory size]\n", "memrate printed its usage line"},
        {"allocation failure", " Error :: malloc failed\n", "memrate could not allocate its block"},
        {"truncated inside test 7", upto(good, "skip   64 bytes"), "truncated report: test 7 has 5 of 10"},
        {"truncated after the set-up", upto(good, "Memory read/write test"), "truncated report: test 1 has 0 of 1"},
        {"rate not computed", replace(good, line1, "Read/Write   0: 10 times,  1048576 bytes,    0 msec =>      - KB/sec\n"),
         "test 1: no rate (0 ms measured"},
        {"wrapped rate", replace(good, line1, "Read/Write   0: 10 times,  1048576 bytes,   12 msec => -4194304 KB/sec\n"),
         "test 1: implausible rate -4194304"},
        {"garbled line", replace(good, line1, "Read/Write   0: ten times\n"), "malformed line in test 1"},
        {"tarnvik's report", report("run-n1/tarnvik-soft-1.stdout"), "not a memrate report"},
        {"empty", "", "not a memrate report"},
        // Exactly the widths and forms of the program's formats.
        {"rate with a sign", replace(good, line1, "Read/Write   0: 10 times,  1048576 bytes,   12 msec =>  +4194 KB/sec\n"),
         "malformed line in test 1"},
        {"rate 0", replace(good, line1, "Read/Write   0: 10 times,  1048576 bytes,   12 msec =>      0 KB/sec\n"),
         "test 1: implausible rate 0"},
        {"field out of its width",
         replace(good, line1, "Read/Write   0: 10 times, 1048576 bytes,   12 msec => 874000 KB/sec\n"),
         "malformed line in test 1"},
        {"leading zero", replace(good, line1, "Read/Write   0: 10 times,  1048576 bytes,   12 msec => 087400 KB/sec\n"),
         "malformed line in test 1"},
        {"rate beyond 32 bits",
         replace(good, line1, "Read/Write   0: 10 times,  1048576 bytes,   12 msec => 99999999999 KB/sec\n"),
         "malformed line in test 1"},
        {"70 lines in one stride test",
         replace(good, "(8) Memory read test",
                 [] {
                     std::string lines;
                     for (int i = 0; i < 70; ++i)
                         lines += "Read/Write   1048576 bytes, skip    4 bytes    9 msec => 1137777 KB/sec\n";
                     return lines + "\n(8) Memory read test";
                 }()),
         "test 7: unexpected line"},
        {"two reports in one file", good + good, "two reports in one file"},
        {"unknown line before the tests", "Memory read/write test\nhello\n", "malformed set-up line: hello"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        const std::string fault = read_memrate(c.text).fault;
        EXPECT_TRUE(fault_is(fault, c.fault)) << fault;
    }
}

TEST(Readers, TarnvikFaults)
{
    const std::string out = report("run-n1/tarnvik-vfp-1.stdout");
    const std::string err = report("run-n1/tarnvik-vfp-1.stderr");
    const std::string rating = err.substr(err.rfind("Rolled Double  Precision"));
    const std::string figures = out.substr(out.rfind("       1.7 "));
    struct {
        const char *label;
        std::string out, err;
        const char *out_fault, *err_fault;
    } const cases[] = {
        {"residual above the bound", replace(out, "       1.7 ", "    1234.5 "), err, "normalised residual 1234.5 above", ""},
        {"residual not finite", replace(out, figures, "       nan              nan             nan  nan  nan\n"), err,
         "accuracy figures not finite", ""},
        {"no accuracy figures", head(out, 3), err, "truncated report (no accuracy figures)", ""},
        {"banner only", head(out, 2), err, "truncated report (no accuracy lines)", ""},
        {"saturated rating", out, replace(err, rating, "Rolled Double  Precision 2147483647 Kflops ; 10 Reps \n"), "",
         "rating saturated"},
        {"negative rating", out, replace(err, rating, "Rolled Double  Precision   -12 Kflops ; 10 Reps \n"), "",
         "implausible rating -12 Kflops"},
        {"no rating line", out, head(err, 10), "", "truncated report (no rating line)"},
        {"memrate's report", report("run-n1/memrate-1.stdout"), report("run-n1/memrate-1.stdout"), "not a tarnvik report",
         "not a tarnvik report"},
        {"machine epsilon nan", replace(out, " 2.22044605e-16", "             nan"), err, "accuracy figures not finite", ""},
        {"machine epsilon 0", replace(out, " 2.22044605e-16", " 0.00000000e+00"), err, "accuracy figures out of range", ""},
        {"negative residual", replace(out, "       1.7 ", "      -1.7 "), err, "accuracy figures out of range", ""},
        {"residual with a sign", replace(out, "       1.7 ", "      +1.7 "), err, "malformed accuracy line", ""},
        {"residual with two decimals", replace(out, "       1.7 ", "      1.70 "), err, "malformed accuracy line", ""},
        {"figure out of its width", replace(out, "  7.41628980e-14", " 7.41628980e-14 "), err, "malformed accuracy line",
         ""},
        {"figure without its exponent sign", replace(out, "7.41628980e-14", "7.41628980e014"), err,
         "malformed accuracy line", ""},
        {"two reports in one file", out + out, err + err, "two reports in one file", "two reports in one file"},
        {"rating with a sign", out, replace(err, rating, "Rolled Double  Precision +145004 Kflops ; 10 Reps \n"), "",
         "malformed rating line"},
        {"rating 0", out, replace(err, rating, "Rolled Double  Precision     0 Kflops ; 10 Reps \n"), "",
         "implausible rating 0 Kflops"},
        {"line after the rating", out, err + "Segmentation fault\n", "", "malformed report (16 lines"},
        {"rating without the banner", out, rating, "", "not a tarnvik report (no banner before"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        const std::string fo = read_tarnvik_out("tarnvik-vfp", c.out).fault;
        const std::string fe = read_tarnvik_err("tarnvik-vfp", c.err).fault;
        EXPECT_TRUE(fault_is(fo, c.out_fault)) << fo;
        EXPECT_TRUE(fault_is(fe, c.err_fault)) << fe;
    }
}

TEST(Text, NumberForms)
{
    // Each text against the forms that accept it: unsigned, int32, "%.6f", "%.8e".
    struct {
        const char *text;
        bool as_unsigned, as_int32, as_fixed6, as_exponent8;
    } const cases[] = {
        {"0", true, true, false, false},
        {"6474", true, true, false, false},
        {"-12", false, true, false, false},
        {"-0", false, false, false, false},
        {"007", false, false, false, false},
        {" 1", false, false, false, false},
        {"+1", false, false, false, false},
        {"0x10", false, false, false, false},
        {"2147483648", true, false, false, false},
        {"-2147483648", false, true, false, false},
        {"99999999999999999999", false, false, false, false},
        {"67.957000", false, false, true, false},
        {"-0.500000", false, false, true, false},
        {"67.95700", false, false, false, false},
        {"1.", false, false, false, false},
        {".500000", false, false, false, false},
        {"inf", false, false, false, false},
        {"nan", false, false, false, false},
        {"1e3", false, false, false, false},
        {"7.41628980e-14", false, false, false, true},
        {"-1.49880108e+100", false, false, false, true},
        {"7.41628980e-1", false, false, false, false},
        {"7.41628980E-14", false, false, false, false},
        {"74.1628980e-14", false, false, false, false},
        {"1.00000000e+999", false, false, false, false},   // not finite
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        uint64_t u = 0;
        int32_t i = 0;
        double d = 0.0;
        EXPECT_EQ(c.as_unsigned, parse_unsigned(c.text, u));
        EXPECT_EQ(c.as_int32, parse_int32(c.text, i));
        EXPECT_EQ(c.as_fixed6, parse_fixed(c.text, 6, d));
        EXPECT_EQ(c.as_exponent8, parse_exponent(c.text, 8, d));
    }
    int32_t i = 0;
    ASSERT_TRUE(parse_int32("-2147483648", i));
    EXPECT_EQ(INT32_MIN, i);
}

TEST(Text, Excerpt)
{
    EXPECT_EQ("short line", excerpt("short line"));
    EXPECT_EQ(std::string(80, 'x') + "...", excerpt(std::string(1000000, 'x')));
    EXPECT_EQ("bell? escape?[2J", excerpt("bell\a escape\x1b[2J"));
}

TEST(RunFiles, StatusForms)
{
    struct { const char *text; int32_t status; } const cases[] = {
        {"0\n", 0}, {"139\n", 139}, {"255\n", 255},
        {"256\n", -1}, {"99999999999999999999\n", -1}, {"0\nSegmentation fault\n", -1}, {"0", -1},
        {"", -1}, {"\n", -1}, {" 0\n", -1}, {"00\n", -1}, {"-1\n", -1}, {"+1\n", -1}, {"0\n\n", -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        int32_t status = -1;
        const std::string fault = read_status(c.text, status);
        EXPECT_EQ(c.status < 0 ? "not an exit status" : "", fault);
        if (c.status >= 0) {
            EXPECT_EQ(c.status, status);
        }
    }
}

TEST(RunFiles, StatusExplained)
{
    const std::string loader = "qemu-arm: Could not open '/lib/ld-linux.so.3': No such file or directory\n";
    struct {
        const char *program;
        int32_t status;
        std::string err;
        const char *want;
    } const cases[] = {
        {"veskrane", 1, "", "the program ended with status 1"},
        {"veskrane", 126, "", "the program ended with status 126: could not execute"},
        {"memrate", 127, "sh: 1: memrate: not found\n",
         "the program ended with status 127: not found; its standard error says: sh: 1: memrate: not found"},
        {"veskrane", 132, "", "the program ended with status 132: illegal instruction: this build needs an ARMv7-A "
                              "processor with VFPv3 and NEON"},
        {"memrate", 132, "", "the program ended with status 132: illegal instruction: this build needs an ARMv7-A "
                             "processor with VFPv3 and NEON"},
        {"tarnvik-vfp", 132, "", "the program ended with status 132: illegal instruction: this build needs an ARMv7-A "
                                 "processor with VFPv3"},
        {"tarnvik-soft", 132, "", "the program ended with status 132: illegal instruction: this build needs an "
                                  "ARMv7-A processor"},
        {"veskrane", 139, "", "the program ended with status 139: killed by signal 11 (SEGV)"},
        {"veskrane", 137, "", "the program ended with status 137: killed by signal 9 (KILL)"},
        {"veskrane", 141, "", "the program ended with status 141: killed by signal 13 (PIPE)"},
        {"veskrane", 129, "", "the program ended with status 129: killed by signal 1 (HUP)"},
        {"veskrane", 192, "", "the program ended with status 192: killed by signal 64 (real-time)"},
        {"veskrane", 128, "", "the program ended with status 128"},
        {"veskrane", 193, "", "the program ended with status 193"},
        {"tarnvik-soft", 255, "Rolled Double Precision Tarnvik\n" + loader,
         "the program ended with status 255; its standard error says: qemu-arm: Could not open '/lib/ld-linux.so.3': No "
         "such file or directory"},
        {"tarnvik-vfp", 127,
         "tarnvik-vfp: error while loading shared libraries: libm.so.6: cannot open shared object file: No such file or "
         "directory\n",
         "the program ended with status 127: not found; its standard error says: tarnvik-vfp: error while loading shared "
         "libraries: libm.so.6: cannot open shared..."},
        {"veskrane", 126, "sh: 1: ./veskrane: Exec format error\n",
         "the program ended with status 126: could not execute; its standard error says: sh: 1: ./veskrane: Exec "
         "format error"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.want);
        EXPECT_EQ(c.want, explain_status(c.program, c.status, c.err));
    }
}

TEST(RunFiles, Sensors)
{
    struct {
        const char *label, *text, *fault, *warning;
    } const cases[] = {
        {"steady", "before_cpu0_khz=1000000\nafter_cpu0_khz=1000000\nbefore_thermal_zone0_mC=-4500\n"
                   "after_thermal_zone0_mC=51000\n", "", ""},
        {"empty", "", "", ""},
        {"frequency dropped on the second CPU",
         "before_cpu0_khz=1000000\nbefore_cpu1_khz=1000000\nafter_cpu0_khz=1000000\nafter_cpu1_khz=800000\n", "",
         "possibly throttled: cpu1 1000000 -> 800000 kHz during the run"},
        {"frequency rose", "before_cpu0_khz=400000\nafter_cpu0_khz=1000000\n", "", ""},
        {"after without before", "after_cpu2_khz=5\n", "", ""},
        {"negative frequency", "before_cpu0_khz=-1\n", "not a frequency in kHz: before_cpu0_khz=-1", ""},
        {"temperature not a number", "after_thermal_zone1_mC=hot\n", "not a temperature in millidegrees", ""},
        {"unknown key", "before_gpu0_khz=1\n", "not a sensor reading: before_gpu0_khz=1", ""},
        {"no index", "before_cpu_khz=1\n", "not a sensor reading", ""},
        {"given twice", "before_cpu0_khz=1\nbefore_cpu0_khz=2\n", "a reading given twice", ""},
        {"cut short", "before_cpu0_khz=1000000\nafter_cpu0_khz=10", "truncated sensor readings", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        std::string warning;
        const std::string fault = read_sensors(c.text, warning);
        EXPECT_TRUE(fault_is(fault, c.fault)) << fault;
        EXPECT_EQ(c.warning, warning);
    }
}

TEST(Statistics, Describe)
{
    struct {
        std::vector<double> values;
        double median, min, max, cv;
    } const cases[] = {
        {{5.0}, 5.0, 5.0, 5.0, 0.0},
        {{3.0, 1.0, 2.0}, 2.0, 1.0, 3.0, 0.5},
        {{4.0, 1.0, 3.0, 2.0}, 2.5, 1.0, 4.0, std::sqrt(5.0 / 3.0) / 2.5},
        {{7.0, 7.0}, 7.0, 7.0, 7.0, 0.0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.values.size());
        double median, min, max, cv;
        describe(c.values, median, min, max, cv);
        EXPECT_DOUBLE_EQ(c.median, median);
        EXPECT_DOUBLE_EQ(c.min, min);
        EXPECT_DOUBLE_EQ(c.max, max);
        EXPECT_NEAR(c.cv, cv, 1e-12);
    }
}

TEST(Output, DecimalText)
{
    struct { double value; const char *want; } const cases[] = {
        {0.0, "0"}, {1.7, "1.7"}, {731428.0, "731428"}, {540.540541, "540.540541"},
        {7.41628980e-14, "0.000000000000074162898"}, {-1.5e-14, "-0.000000000000015"},
        {2147483647.0, "2147483647"}, {123456789012.0, "123456789012"}, {std::nan(""), "nan"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.want);
        EXPECT_EQ(c.want, decimal_text(c.value));
    }
}

TEST(Folder, RealRunsLoadWithoutProblems)
{
    for (const char *run : {"run-n1", "run-n3"}) {
        SCOPED_TRACE(run);
        suite_results r;
        ASSERT_EQ("", load_results(fixtures + "/" + run, r));
        for (const problem &p : r.problems)
            ADD_FAILURE() << p.file << ": " << p.message;
        EXPECT_EQ(4 * r.repeats, static_cast<int32_t>(r.runs.size()));
        EXPECT_FALSE(context_value(r, "date").empty());
        EXPECT_FALSE(context_value(r, "uname").empty());
        for (const metric &m : r.metrics)
            EXPECT_EQ(static_cast<size_t>(r.repeats), m.values.size()) << m.id;
    }
}

// Damaged copies of a real folder: each fault is named against its file and counted as invalid.
TEST(Folder, DamagedCopies)
{
    struct {
        const char *label;
        const char *file;                          // relative to the folder
        void (*damage)(const std::string &path);   // applied to that file
        const char *message;
    } const cases[] = {
        {"missing output", "memrate-2.stdout", [](const std::string &p) { fs::remove(p); }, "missing"},
        {"truncated output", "memrate-2.stdout", [](const std::string &p) { spill(p, head(slurp(p), 20)); },
         "truncated report: test "},
        {"foreign output", "tarnvik-soft-1.stderr", [](const std::string &p) { spill(p, "Segmentation fault\n"); },
         "not a tarnvik report"},
        {"failed program", "veskrane-3.status", [](const std::string &p) { spill(p, "139\n"); },
         "the program ended with status 139: killed by signal 11 (SEGV)"},
        {"rate nan", "veskrane-2.stdout",
         [](const std::string &p) { spill(p, replace_line(slurp(p), "Iterations/Sec   : ", "Iterations/Sec   : nan")); },
         "malformed line: Iterations/Sec   : nan"},
        {"machine epsilon nan", "tarnvik-soft-1.stdout",
         [](const std::string &p) { spill(p, replace(slurp(p), " 2.22044605e-16", "             nan")); },
         "accuracy figures not finite"},
        {"status with a second line", "memrate-1.status",
         [](const std::string &p) { spill(p, "0\nSegmentation fault\n"); }, "not an exit status"},
        {"status out of range", "memrate-1.status", [](const std::string &p) { spill(p, "99999999999999999999\n"); },
         "not an exit status"},
        {"two veskrane reports in one file", "veskrane-1.stdout",
         [](const std::string &p) { spill(p, slurp(p) + slurp(p)); }, "two reports in one file"},
        {"a FIFO as a report", "memrate-3.stdout",
         [](const std::string &p) {
             fs::remove(p);
             ASSERT_EQ(0, mkfifo(p.c_str(), 0644));
         },
         "not a regular file: not read"},
        {"a device as a report", "veskrane-3.stdout",
         [](const std::string &p) {
             fs::remove(p);
             fs::create_symlink("/dev/zero", p);
         },
         "not a regular file: not read"},
        {"a report above the size limit", "tarnvik-vfp-2.stderr",
         [](const std::string &p) { fs::resize_file(p, static_cast<uintmax_t>(report_size_limit) + 1); },
         "larger than 4 MiB, more than any program of the suite prints: not read"},
        {"a folder as a report", "memrate-2.stdout",
         [](const std::string &p) {
             fs::remove(p);
             fs::create_directory(p);
         },
         "not a regular file: not read"},
        {"segments held by another run", "veskrane-2.stdout",
         [](const std::string &p) {
             spill(p, "veskrane: another veskrane run holds the result segments (keys 4321 to 4324); not run: run one "
                      "veskrane at a time\n");
         },
         "another veskrane run held the result segments: not run"},
        {"sensors not in their form", "memrate-1.sensors", [](const std::string &p) { spill(p, "cpu0=fast\n"); },
         "not a sensor reading: cpu0=fast"},
        {"accuracy differs between builds", "tarnvik-vfp-1.stdout",
         [](const std::string &p) { spill(p, replace(slurp(p), "e-14", "e-13")); },
         "accuracy figures differ from those of the other tarnvik build"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        scratch s;
        const std::string dir = copy_run(s, "run-n3");
        c.damage(dir + "/" + c.file);
        suite_results r;
        ASSERT_EQ("", load_results(dir, r));
        ASSERT_EQ(1u, r.problems.size());
        EXPECT_EQ(dir + "/" + c.file, r.problems[0].file);
        EXPECT_EQ(0u, r.problems[0].message.rfind(c.message, 0)) << r.problems[0].message;
        EXPECT_FALSE(all_valid(r));
    }
}

// The files run-suite leaves beside the reports: the run's verdict, and every problem it gives.
TEST(Folder, RunFiles)
{
    const std::string notrun = "cannot start: the program interpreter /lib/ld-linux.so.3 is missing; an armel C library "
                               "is needed (Debian-family systems: dpkg --add-architecture armel && apt-get install "
                               "libc6:armel)";
    const std::string loader = "qemu-arm: Could not open '/lib/ld-linux.so.3': No such file or directory";
    struct {
        const char *label;
        std::function<void(const std::string &dir)> damage;
        const char *program;
        int32_t rep;
        std::string verdict;                 // the run's verdict
        std::vector<std::string> problems;   // file: message, the folder's path left out
    } const cases[] = {
        {"not run",
         [&](const std::string &d) {
             for (const char *suffix : {".stdout", ".stderr", ".status"})
                 fs::remove(d + "/tarnvik-soft-1" + suffix);
             spill(d + "/tarnvik-soft-1.notrun", notrun + "\n");
         },
         "tarnvik-soft", 1, notrun, {"tarnvik-soft-1.notrun: " + notrun}},
        {"not run, two lines", [](const std::string &d) { spill(d + "/memrate-1.notrun", "cannot start\nsecond line\n"); },
         "memrate", 1, "not a one-line reason: cannot start?second line?",
         {"memrate-1.notrun: not a one-line reason: cannot start?second line?"}},
        {"timed out",
         [](const std::string &d) {
             spill(d + "/veskrane-2.stdout", "2K performance run parameters for veskrane.\n");
             spill(d + "/veskrane-2.status", "143\n");
             spill(d + "/veskrane-2.timeout", "600\n");
         },
         "veskrane", 2, "timed out after 600 s", {"veskrane-2.timeout: timed out after 600 s"}},
        {"timed out, status damaged",
         [](const std::string &d) {
             spill(d + "/veskrane-2.status", "1x\n");
             spill(d + "/veskrane-2.timeout", "600\n");
         },
         "veskrane", 2, "timed out after 600 s",
         {"veskrane-2.timeout: timed out after 600 s", "veskrane-2.status: not an exit status"}},
        {"time limit not a number", [](const std::string &d) { spill(d + "/memrate-3.timeout", "ten minutes\n"); },
         "memrate", 3, "not a time limit in seconds: ten minutes?",
         {"memrate-3.timeout: not a time limit in seconds: ten minutes?"}},
        {"loader missing: the status and the loader's line are the verdict",
         [&](const std::string &d) {
             spill(d + "/tarnvik-vfp-2.stdout", "");
             spill(d + "/tarnvik-vfp-2.stderr", loader + "\n");
             spill(d + "/tarnvik-vfp-2.status", "255\n");
         },
         "tarnvik-vfp", 2, "the program ended with status 255; its standard error says: " + loader,
         {"tarnvik-vfp-2.stdout: not a tarnvik report (no banner, no accuracy lines)",
          "tarnvik-vfp-2.stderr: not a tarnvik report (no banner, no rating line)",
          "tarnvik-vfp-2.status: the program ended with status 255; its standard error says: " + loader}},
        {"illegal instruction",
         [](const std::string &d) {
             spill(d + "/veskrane-1.stdout", "");
             spill(d + "/veskrane-1.status", "132\n");
         },
         "veskrane", 1,
         "the program ended with status 132: illegal instruction: this build needs an ARMv7-A processor with VFPv3 and NEON",
         {"veskrane-1.stdout: not a veskrane report (no \"Veskrane Size\" line)",
          "veskrane-1.status: the program ended with status 132: illegal instruction: this build needs an ARMv7-A "
          "processor with VFPv3 and NEON"}},
        {"throttled, still valid",
         [](const std::string &d) { spill(d + "/memrate-2.sensors", "before_cpu0_khz=1000000\nafter_cpu0_khz=600000\n"); },
         "memrate", 2, "valid", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        scratch s;
        const std::string dir = copy_run(s, "run-n3");
        c.damage(dir);
        suite_results r;
        ASSERT_EQ("", load_results(dir, r));
        std::vector<std::string> problems;
        for (const problem &p : r.problems)
            problems.push_back(p.file.substr(dir.size() + 1) + ": " + p.message);
        EXPECT_EQ(c.problems, problems);
        EXPECT_EQ(c.problems.empty(), all_valid(r));
        ASSERT_EQ(12u, r.runs.size());
        for (const program_run &run : r.runs) {
            if (run.program != c.program || run.rep != c.rep)
                continue;
            EXPECT_EQ(c.verdict, run.verdict);
            EXPECT_EQ(c.problems.empty(), run.valid);
        }
    }
}

// A context naming far more runs than the folder holds: one line per kind of fault, with a count.
TEST(Folder, ManyMissingRunsGiveOneLineEach)
{
    scratch s;
    const std::string dir = copy_run(s, "run-n1");
    spill(dir + "/context", replace(slurp(dir + "/context"), "repeats=1\n", "repeats=10000\n"));
    fs::remove(dir + "/memrate-1.status");
    spill(dir + "/memrate-3.status", "0\n");   // a stray file: run 3 then misses only its report
    suite_results r;
    ASSERT_EQ("", load_results(dir, r));
    const std::vector<std::string> want = {
        dir + "/memrate-R.status: missing (9999 runs, R = 1, 2, 4, 5, 6 and 9994 more)",
        dir + "/veskrane-R.stdout: missing (9999 runs, R = 2 to 10000)",
        dir + "/veskrane-R.status: missing (9999 runs, R = 2 to 10000)",
        dir + "/memrate-R.stdout: missing (9999 runs, R = 2 to 10000)",
        dir + "/tarnvik-soft-R.stdout: missing (9999 runs, R = 2 to 10000)",
        dir + "/tarnvik-soft-R.stderr: missing (9999 runs, R = 2 to 10000)",
        dir + "/tarnvik-soft-R.status: missing (9999 runs, R = 2 to 10000)",
        dir + "/tarnvik-vfp-R.stdout: missing (9999 runs, R = 2 to 10000)",
        dir + "/tarnvik-vfp-R.stderr: missing (9999 runs, R = 2 to 10000)",
        dir + "/tarnvik-vfp-R.status: missing (9999 runs, R = 2 to 10000)",
    };
    EXPECT_EQ(want, problem_lines(r));
}

TEST(Folder, Unusable)
{
    scratch s;
    fs::create_directory(s.path + "/empty");
    fs::create_directory(s.path + "/foreign");
    spill(s.path + "/foreign/context", "this is not a context\n");
    fs::create_directory(s.path + "/norepeats");
    spill(s.path + "/norepeats/context", "date=today\nrepeats=0\n");
    struct { std::string dir, message; } const cases[] = {
        {s.path + "/absent", s.path + "/absent: no such results folder"},
        {s.path + "/empty", s.path + "/empty: no results here (no context file)"},
        {s.path + "/foreign", s.path + "/foreign/context: not a suite context file (line without key=value)"},
        {s.path + "/norepeats", s.path + "/norepeats/context: no valid repeats= entry"},
    };
    for (const auto &c : cases) {
        suite_results r;
        EXPECT_EQ(c.message, load_results(c.dir, r));
    }
}

// The JSON read back with the JSON library, field by field against the loaded folder.
TEST(Output, JsonReadsBack)
{
    for (const char *run : {"run-n1", "run-n3"}) {
        SCOPED_TRACE(run);
        suite_results r;
        ASSERT_EQ("", load_results(fixtures + "/" + run, r));
        const nlohmann::json doc =
            nlohmann::json::parse(printed([&](FILE *out) { write_json(out, r, "9.8.7"); }), nullptr, false);
        ASSERT_FALSE(doc.is_discarded());
        EXPECT_EQ("boardbench-results", doc["schema"]);
        EXPECT_EQ(json_schema_version, doc["schema_version"]);
        EXPECT_EQ("9.8.7", doc["suite_report_version"]);
        EXPECT_EQ(context_value(r, "date"), doc["context"]["date"]);
        EXPECT_EQ(context_value(r, "uname"), doc["context"]["uname"]);
        EXPECT_EQ(r.cpuinfo, doc["context"]["cpuinfo"]);
        EXPECT_EQ(r.repeats, doc["repeats"]);
        EXPECT_EQ(true, doc["valid"]);
        ASSERT_EQ(4u, doc["programs"].size());
        EXPECT_EQ("tarnvik-vfp", doc["programs"][3]["name"]);
        EXPECT_EQ(r.repeats, doc["programs"][3]["valid_runs"]);
        ASSERT_EQ(r.metrics.size(), doc["metrics"].size());
        for (size_t i = 0; i < r.metrics.size(); ++i) {
            const metric &m = r.metrics[i];
            const nlohmann::json &e = doc["metrics"][i];
            SCOPED_TRACE(m.id);
            EXPECT_EQ(m.id, e["name"]);
            EXPECT_EQ(m.unit, e["unit"]);
            EXPECT_EQ(m.higher_is_better, e["higher_is_better"]);
            EXPECT_DOUBLE_EQ(m.median, e["value"].get<double>());
            EXPECT_EQ(r.repeats > 1, e.contains("median"));
            if (r.repeats > 1) {
                EXPECT_EQ(m.values, e["values"].get<std::vector<double>>());
                EXPECT_DOUBLE_EQ(m.min, e["min"].get<double>());
                EXPECT_DOUBLE_EQ(m.max, e["max"].get<double>());
                EXPECT_DOUBLE_EQ(m.cv, e["cv"].get<double>());
            }
        }
    }
}

// A non-finite figure and bytes that are not UTF-8 still give a document the library reads.
TEST(Output, JsonOfDamagedRun)
{
    scratch s;
    const std::string dir = copy_run(s, "run-n1");
    const std::string out = dir + "/tarnvik-soft-1.stdout";
    spill(out, replace(slurp(out), "       1.7 ", "       nan "));
    spill(dir + "/cpuinfo.txt", "model name\t: \xff\xfe\n");
    suite_results r;
    ASSERT_EQ("", load_results(dir, r));
    const nlohmann::json doc = nlohmann::json::parse(printed([&](FILE *o) { write_json(o, r, "1"); }), nullptr, false);
    ASSERT_FALSE(doc.is_discarded());
    EXPECT_EQ(false, doc["valid"]);
    EXPECT_EQ(out, doc["problems"][0]["file"]);
    for (const nlohmann::json &e : doc["metrics"]) {
        if (e["name"] == "tarnvik-soft-norm-resid") {
            EXPECT_TRUE(e["value"].is_null());
        }
    }
}

// Farm result lines: one-token ids and units, decimal measurements, unique ids, the same ids on
// every run of the same programs.
TEST(Output, LavaLines)
{
    const std::regex grammar(R"(([A-Za-z0-9_.-]+) (pass|fail)( -?[0-9]+(\.[0-9]+)?( [^ ]+)?)?)");
    std::vector<std::set<std::string>> id_sets;
    for (const char *run : {"run-n1", "run-n3"}) {
        SCOPED_TRACE(run);
        suite_results r;
        ASSERT_EQ("", load_results(fixtures + "/" + run, r));
        std::istringstream lines(printed([&](FILE *out) { write_lava(out, r); }));
        std::set<std::string> ids;
        std::string line;
        size_t count = 0;
        while (std::getline(lines, line)) {
            std::smatch m;
            ASSERT_TRUE(std::regex_match(line, m, grammar)) << line;
            EXPECT_EQ("pass", m[2]) << line;
            ids.insert(m[1]);
            ++count;
        }
        EXPECT_EQ(count, ids.size()) << "ids repeat";
        EXPECT_EQ(4u + r.metrics.size(), count);
        id_sets.push_back(ids);
    }
    EXPECT_EQ(id_sets[0], id_sets[1]);
}

TEST(Output, LavaFailsTheInvalidProgram)
{
    scratch s;
    const std::string dir = copy_run(s, "run-n1");
    spill(dir + "/memrate-1.stdout", head(slurp(dir + "/memrate-1.stdout"), 30));
    suite_results r;
    ASSERT_EQ("", load_results(dir, r));
    const std::string lines = printed([&](FILE *out) { write_lava(out, r); });
    EXPECT_NE(std::string::npos, lines.find("memrate-valid fail\n"));
    EXPECT_NE(std::string::npos, lines.find("veskrane-valid pass\n"));
    EXPECT_NE(std::string::npos, lines.find("memrate-t1-copy fail "));
}

TEST(Output, Csv)
{
    suite_results r;
    ASSERT_EQ("", load_results(fixtures + "/run-n3", r));
    std::istringstream lines(printed([&](FILE *out) { write_csv(out, r); }));
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ("name,program,unit,higher_is_better,value,runs,median,min,max,cv", line);
    size_t rows = 0;
    while (std::getline(lines, line)) {
        EXPECT_EQ(9, std::count(line.begin(), line.end(), ',')) << line;
        EXPECT_EQ(0u, line.find(r.metrics[rows].id + "," + r.metrics[rows].program + ","));
        ++rows;
    }
    EXPECT_EQ(r.metrics.size(), rows);
}

TEST(Output, Summary)
{
    suite_results r;
    ASSERT_EQ("", load_results(fixtures + "/run-n3", r));
    const std::string text = printed([&](FILE *out) { write_summary(out, r); });
    for (const char *want : {"3 runs of each program", "median", "cv %", "iterations/s", "copy KB/s", "memcpy KB/s",
                             "read KB/s", "write KB/s", "Kflops", "normalised residual", "valid (3 of 3 runs)",
                             "Verdict: PASS"})
        EXPECT_NE(std::string::npos, text.find(want)) << want;
}

// The comparison: ratio per figure, direction by higher-is-better, and a note where the spread of
// repeated runs covers the difference.
TEST(Output, Compare)
{
    auto folder = [](const char *dir, std::vector<double> rate, std::vector<double> resid) {
        suite_results r;
        r.dir = dir;
        r.repeats = static_cast<int32_t>(rate.size());
        for (size_t i = 0; i < rate.size(); ++i) {
            r.runs.push_back({"veskrane", 1, true, "", {{"veskrane-iterations-per-sec", "", "iter/s", true, rate[i]}}});
            r.runs.push_back({"tarnvik-vfp", 1, true, "", {{"tarnvik-vfp-norm-resid", "", "", false, resid[i]}}});
        }
        aggregate(r);
        return r;
    };
    struct {
        const char *label;
        suite_results a, b;
        const char *rate_note, *resid_note;
    } const cases[] = {
        {"clear gain", folder("A", {100}, {2}), folder("B", {150}, {1}), "1.500  B better", "0.500  B better"},
        {"clear loss", folder("A", {100}, {1}), folder("B", {50}, {2}), "0.500  B worse", "2.000  B worse"},
        {"within spread", folder("A", {90, 100, 110}, {2, 2, 2}), folder("B", {95, 105, 106}, {2, 2, 2}),
         "1.050  within the spread of repeated runs", "1.000  same"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        const std::string text = printed([&](FILE *out) { write_compare(out, c.a, c.b); });
        EXPECT_NE(std::string::npos, text.find(c.rate_note)) << text;
        EXPECT_NE(std::string::npos, text.find(c.resid_note)) << text;
    }
    suite_results only_b = folder("B", {1}, {1});
    only_b.runs.push_back({"memrate", 1, true, "", {{"memrate-t5-read", "", "KB/s", true, 5}}});
    aggregate(only_b);
    EXPECT_NE(std::string::npos,
              printed([&](FILE *out) { write_compare(out, folder("A", {1}, {1}), only_b); }).find("only in B"));
}

// Quick mode names what it accepted, and a dropped frequency is a warning beside a valid result.
TEST(Output, AcceptanceAndWarnings)
{
    scratch s;
    const std::string dir = copy_run(s, "run-n3");
    spill(dir + "/memrate-2.sensors", "before_cpu0_khz=1000000\nafter_cpu0_khz=600000\n");
    suite_results r;
    ASSERT_EQ("", load_results(dir, r));
    ASSERT_TRUE(all_valid(r));
    const std::string text = printed([&](FILE *out) { write_summary(out, r); });
    EXPECT_NE(std::string::npos,
              text.find("veskrane      valid (3 of 3 runs; quick mode: run shorter than 10 seconds, signatures correct)\n"))
        << text;
    EXPECT_NE(std::string::npos, text.find("memrate       valid (3 of 3 runs); warning, run 2: possibly throttled: cpu0 "
                                           "1000000 -> 600000 kHz during the run\n"))
        << text;
    const nlohmann::json doc = nlohmann::json::parse(printed([&](FILE *out) { write_json(out, r, "1"); }));
    const nlohmann::json &vesk = doc["programs"][0]["run_details"][0];
    EXPECT_EQ(true, vesk["valid"]);
    EXPECT_EQ("Errors detected", vesk["verdict"]);
    EXPECT_EQ("quick mode: run shorter than 10 seconds, signatures correct", vesk["accepted"]);
    EXPECT_EQ(nlohmann::json::array({"possibly throttled: cpu0 1000000 -> 600000 kHz during the run"}),
              doc["programs"][1]["run_details"][1]["warnings"]);
    EXPECT_FALSE(doc["programs"][1]["run_details"][0].contains("accepted"));
}

// The JSON of one folder is the same whichever folder suite-report was started in.
TEST(Output, JsonIndependentOfTheStartFolder)
{
    scratch s;
    const std::string dir = copy_run(s, "run-n1");
    spill(dir + "/memrate-1.status", "1\n");
    const fs::path start = fs::current_path();
    auto json_from = [&](const fs::path &cwd, const std::string &name) {
        fs::current_path(cwd);
        suite_results r;
        EXPECT_EQ("", load_results(name, r));
        const std::string text = printed([&](FILE *out) { write_json(out, r, "1"); });
        fs::current_path(start);
        return text;
    };
    const std::string absolute = json_from(start, dir);
    EXPECT_EQ(absolute, json_from(s.path, "run-n1"));
    EXPECT_EQ(absolute, json_from(s.path + "/run-n1", "."));
    const nlohmann::json doc = nlohmann::json::parse(absolute);
    EXPECT_EQ(fs::canonical(dir).string(), doc["results_folder"]);
    EXPECT_EQ(fs::canonical(dir).string() + "/memrate-1.status", doc["problems"][0]["file"]);
}

namespace {

// Stand-ins for write(2): one that fails after a first short write, one that writes a byte at a time.
ssize_t full_after_some(int, const void *, size_t size)
{
    static bool first = true;
    if (first) {
        first = false;
        return static_cast<ssize_t>(size / 2);
    }
    errno = ENOSPC;
    return -1;
}

std::string trickled;
ssize_t one_byte_at_a_time(int, const void *data, size_t)
{
    trickled += *static_cast<const char *>(data);
    return 1;
}

}  // namespace

TEST(Output, WritesAreChecked)
{
    EXPECT_EQ("cannot write standard output: No space left on device",
              write_all(1, std::string(1000, 'x'), "standard output", full_after_some));
    EXPECT_EQ("", write_all(1, "a short text\n", "standard output", one_byte_at_a_time));
    EXPECT_EQ("a short text\n", trickled);
}

TEST(Plot, Script)
{
    suite_results r;
    ASSERT_EQ("", load_results(fixtures + "/run-n3", r));
    const std::string script = stride_plot_script(r, "out.svg");
    EXPECT_EQ(0u, script.find("set terminal svg"));
    EXPECT_NE(std::string::npos, script.find("set output 'out.svg'"));
    EXPECT_NE(std::string::npos, script.find("set logscale x 2"));
    for (const char *sweep : {"$copy << EOD\n4 ", "$read << EOD\n4 ", "$write << EOD\n4 ", "\n2048 "})
        EXPECT_NE(std::string::npos, script.find(sweep)) << sweep;
    EXPECT_EQ(0u, stride_plot_script(r, "out.png").find("set terminal png"));
    EXPECT_EQ("", stride_plot_script(suite_results{}, "out.svg"));
}

TEST(Plot, DrawsThroughGnuplotWithoutReplacing)
{
    if (std::system("command -v gnuplot >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "gnuplot is not installed";
    suite_results r;
    ASSERT_EQ("", load_results(fixtures + "/run-n3", r));
    scratch s;
    const std::string svg = s.path + "/strides.svg";
    ASSERT_EQ("", plot_strides(r, svg));
    EXPECT_NE(std::string::npos, slurp(svg).find("<svg"));
    EXPECT_EQ(svg + ": exists already; not replaced", plot_strides(r, svg));
    EXPECT_EQ(s.path + "/strides.pdf: the plot file must end in .svg or .png", plot_strides(r, s.path + "/strides.pdf"));
}
