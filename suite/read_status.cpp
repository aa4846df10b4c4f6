// read_status.cpp - the readers of the files run-suite leaves beside a report: the exit status,
// explained as a shell would, and the sensor readings before and after the run.
#include <cstdint>      // int32_t, int64_t, uint64_t
#include <map>          // std::map
#include <string>       // std::string
#include <utility>      // std::pair
#include <vector>       // std::vector
#include "suite_results.h"
#include "suite_text.h"

std::string read_status(const std::string &text, int32_t &status)
{
    uint64_t value = 0;
    if (text.size() < 2 || text.back() != '\n' || text.size() > 4 ||
        !parse_unsigned(std::string_view(text).substr(0, text.size() - 1), value) || value > 255)
        return "not an exit status";
    status = static_cast<int32_t>(value);
    return {};
}

namespace {

// Signal names of Linux, by number; 32 to 64 are the real-time signals.
const char *const signal_names[] = {
    "",     "HUP",  "INT",    "QUIT", "ILL",  "TRAP", "ABRT", "BUS",  "FPE",    "KILL", "USR1",
    "SEGV", "USR2", "PIPE",   "ALRM", "TERM", "STKFLT", "CHLD", "CONT", "STOP", "TSTP", "TTIN",
    "TTOU", "URG",  "XCPU",   "XFSZ", "VTALRM", "PROF", "WINCH", "IO",  "PWR",  "SYS",
};
constexpr int32_t last_signal = 64;

// What the processor must offer for each build.
std::string processor_needed(const std::string &program)
{
    if (program == "tarnvik-soft")
        return "an ARMv7-A processor";
    if (program == "tarnvik-vfp")
        return "an ARMv7-A processor with VFPv3";
    return "an ARMv7-A processor with VFPv3 and NEON";
}

// Texts by which a loader, an emulator or a shell says that a program could not be started.
const char *const start_errors[] = {
    "Could not open '", "error while loading shared libraries", "not found", "Exec format error",
    "Permission denied", "cannot execute", "No such file or directory",
};

}  // namespace

std::string explain_status(const std::string &program, int32_t status, const std::string &err)
{
    std::string text = "the program ended with status " + std::to_string(status);
    if (status == 126)
        text += ": could not execute";
    else if (status == 127)
        text += ": not found";
    else if (status == 128 + 4)
        text += ": illegal instruction: this build needs " + processor_needed(program);
    else if (status > 128 && status - 128 <= last_signal) {
        const int32_t n = status - 128;
        const std::string name = n < 32 ? signal_names[n] : "real-time";
        text += ": killed by signal " + std::to_string(n) + " (" + name + ")";
    }
    for (const std::string &line : split_lines(err)) {
        for (const char *e : start_errors)
            if (line.find(e) != std::string::npos)
                return text + "; its standard error says: " + excerpt(line);
    }
    return text;
}

namespace {

// "before_cpu3_khz": when (before or after), kind ("cpu" or "thermal_zone") and index.
struct sensor_key {
    bool before;
    std::string kind;
    uint64_t index;
};

bool parse_key(const std::string &key, sensor_key &k)
{
    std::string_view rest = key;
    if (rest.starts_with("before_")) {
        k.before = true;
        rest.remove_prefix(7);
    } else if (rest.starts_with("after_")) {
        k.before = false;
        rest.remove_prefix(6);
    } else {
        return false;
    }
    std::string_view unit;
    if (rest.starts_with("cpu") && rest.ends_with("_khz")) {
        k.kind = "cpu";
        unit = "_khz";
    } else if (rest.starts_with("thermal_zone") && rest.ends_with("_mC")) {
        k.kind = "thermal_zone";
        unit = "_mC";
    } else {
        return false;
    }
    if (rest.size() < k.kind.size() + unit.size())
        return false;
    const std::string_view index = rest.substr(k.kind.size(), rest.size() - k.kind.size() - unit.size());
    return index.size() <= 6 && parse_unsigned(index, k.index);
}

}  // namespace

std::string read_sensors(const std::string &text, std::string &warning)
{
    warning.clear();
    if (!text.empty() && text.back() != '\n')
        return "truncated sensor readings (no newline at the end)";
    std::map<std::string, bool> seen;
    std::map<uint64_t, int64_t> cpu_before;
    std::vector<std::pair<uint64_t, int64_t>> cpu_after;   // in file order
    for (const std::string &line : split_lines(text)) {
        const size_t eq = line.find('=');
        sensor_key k{};
        if (eq == std::string::npos || !parse_key(line.substr(0, eq), k))
            return "not a sensor reading: " + excerpt(line);
        const std::string_view value = std::string_view(line).substr(eq + 1);
        int64_t v = 0;
        if (k.kind == "cpu") {
            uint64_t khz = 0;
            if (!parse_unsigned(value, khz) || khz > 1000000000u)
                return "not a frequency in kHz: " + excerpt(line);
            v = static_cast<int64_t>(khz);
        } else {
            int32_t mc = 0;
            if (!parse_int32(value, mc))
                return "not a temperature in millidegrees: " + excerpt(line);
            v = mc;
        }
        bool &given = seen[line.substr(0, eq)];
        if (given)
            return "a reading given twice: " + excerpt(line);
        given = true;
        if (k.kind == "cpu" && k.before)
            cpu_before[k.index] = v;
        else if (k.kind == "cpu")
            cpu_after.emplace_back(k.index, v);
    }
    for (const auto &[cpu, after] : cpu_after) {
        const auto before = cpu_before.find(cpu);
        if (before != cpu_before.end() && after < before->second) {
            warning = "possibly throttled: cpu" + std::to_string(cpu) + " " + std::to_string(before->second) + " -> " +
                      std::to_string(after) + " kHz during the run";
            break;
        }
    }
    return {};
}
