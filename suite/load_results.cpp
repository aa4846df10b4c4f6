// load_results.cpp - the results-folder loader: the context, every run's files, and the folder's
// problems as lines for standard error.
#include <cstdint>      // int32_t, uint64_t
#include <filesystem>   // std::filesystem::is_directory, canonical
#include <map>          // std::map
#include <string>       // std::string
#include <system_error> // std::error_code
#include <utility>      // std::move, std::pair
#include <vector>       // std::vector
#include "suite_results.h"
#include "suite_text.h"

std::string context_value(const suite_results &results, const std::string &key)
{
    for (const auto &kv : results.context)
        if (kv.first == key)
            return kv.second;
    return {};
}

namespace {

// A file of run-suite that holds exactly one line of text.
bool one_line(const std::string &text)
{
    if (text.size() < 2 || text.back() != '\n')
        return false;
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte == 0x7f)
            return false;   // a newline too: more than one line
    }
    return true;
}

// Loads one run of one program, noting every fault against the file it comes from.
void load_run(suite_results &results, const folder_reader &read, const std::string &program, int32_t rep,
              std::string &tarnvik_figures)
{
    const std::string base = program + "-" + std::to_string(rep);
    program_run run{program, rep, true, {}, {}};
    auto fail = [&](const std::string &suffix, const std::string &message) {
        if (run.valid)
            run.verdict = message;
        run.valid = false;
        results.problems.push_back({results.dir + "/" + base + suffix, message, program, suffix, rep});
    };
    auto finish = [&] {
        if (run.valid && run.verdict.empty())
            run.verdict = "valid";
        if (!run.valid)
            run.accepted.clear();
        results.runs.push_back(run);
    };
    // A missing file is a fault of its own kind; a refused one names why.
    auto fetch = [&](const std::string &suffix, bool required, bool &have) {
        file_text f = read(base + suffix);
        have = f.state == file_text::ok;
        if (f.state == file_text::refused)
            fail(suffix, f.fault);
        else if (f.state == file_text::missing && required)
            fail(suffix, "missing");
        return std::move(f.text);
    };
    bool have = false;

    // run-suite found before the run that the program cannot start here: that is the verdict.
    const std::string notrun = fetch(".notrun", false, have);
    if (have) {
        fail(".notrun", one_line(notrun) && notrun.size() <= 1024 ? notrun.substr(0, notrun.size() - 1)
                                                                  : "not a one-line reason: " + excerpt(notrun));
        return finish();
    }
    if (!run.valid)
        return finish();

    // Stopped at its time limit: the report is cut short and the status is that of the stop.
    const std::string timeout = fetch(".timeout", false, have);
    if (!run.valid)
        return finish();
    if (have) {
        uint64_t limit = 0;
        if (one_line(timeout) && parse_unsigned(std::string_view(timeout).substr(0, timeout.size() - 1), limit))
            fail(".timeout", "timed out after " + std::to_string(limit) + " s");
        else
            fail(".timeout", "not a time limit in seconds: " + excerpt(timeout));
        bool have_status = false;
        const std::string status_text = fetch(".status", true, have_status);
        int32_t status = 0;
        if (have_status && !read_status(status_text, status).empty())
            fail(".status", "not an exit status");
        return finish();
    }

    bool have_out = false, have_err = false, have_status = false;
    const std::string out = fetch(".stdout", true, have_out);
    const bool tarnvik = program.starts_with("tarnvik");
    const std::string err = fetch(".stderr", tarnvik, have_err);

    if (have_out && program == "veskrane") {
        const report_reading r = read_veskrane(out, results.quick);
        run.samples = r.samples;
        run.verdict = r.verdict;
        run.accepted = r.accepted;
        if (!r.fault.empty())
            fail(".stdout", r.fault);
    } else if (have_out && program == "memrate") {
        const report_reading r = read_memrate(out);
        run.samples = r.samples;
        if (!r.fault.empty())
            fail(".stdout", r.fault);
    } else if (have_out && have_err) {
        const report_reading ro = read_tarnvik_out(program, out);
        const report_reading re = read_tarnvik_err(program, err);
        run.samples = re.samples;
        run.samples.insert(run.samples.end(), ro.samples.begin(), ro.samples.end());
        run.verdict = re.verdict;
        if (!ro.fault.empty())
            fail(".stdout", ro.fault);
        if (!re.fault.empty())
            fail(".stderr", re.fault);
        // Both builds compute the same values, so their accuracy lines must agree digit for digit.
        if (ro.fault.empty()) {
            if (tarnvik_figures.empty())
                tarnvik_figures = out;
            else if (tarnvik_figures != out)
                fail(".stdout", "accuracy figures differ from those of the other tarnvik build");
        }
    }
    const std::string status_text = fetch(".status", true, have_status);
    if (have_status) {
        int32_t status = 0;
        std::string fault = read_status(status_text, status);
        if (fault.empty() && status != 0)
            fault = explain_status(program, status, err);
        if (!fault.empty()) {
            const bool report_fault = !run.valid;
            fail(".status", fault);
            // A program that did not end well explains its report better than the report does.
            if (report_fault && status != 0)
                run.verdict = fault;
        }
    }
    const std::string sensors = fetch(".sensors", false, have);
    if (have) {
        std::string warning;
        const std::string fault = read_sensors(sensors, warning);
        if (!fault.empty())
            fail(".sensors", fault);
        else if (!warning.empty())
            run.warnings.push_back(warning);
    }
    finish();
}

}  // namespace

std::string load_folder(const std::string &dir, const folder_reader &read, suite_results &results)
{
    results = suite_results{};
    results.dir = dir;
    results.folder = dir;
    const file_text context = read("context");
    if (context.state == file_text::missing)
        return dir + ": no results here (no context file)";
    if (context.state == file_text::refused)
        return dir + "/context: " + context.fault;
    if (!context.text.empty() && context.text.back() != '\n')
        return dir + "/context: not a suite context file (cut short: no newline at the end)";
    for (const std::string &line : split_lines(context.text)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0)
            return dir + "/context: not a suite context file (line without key=value)";
        const std::string key = line.substr(0, eq);
        for (const auto &kv : results.context)
            if (kv.first == key)
                return dir + "/context: not a suite context file (" + excerpt(key) + " given twice)";
        results.context.emplace_back(key, line.substr(eq + 1));
    }
    uint64_t n = 0;
    if (!parse_unsigned(context_value(results, "repeats"), n) || n < 1 || n > static_cast<uint64_t>(max_repeats))
        return dir + "/context: no valid repeats= entry";
    results.repeats = static_cast<int32_t>(n);
    results.quick = context_value(results, "quick") == "1";
    const std::pair<const char *, std::string *> extras[] = {{"cpuinfo.txt", &results.cpuinfo},
                                                             {"build-info.txt", &results.build_info}};
    for (const auto &[name, text] : extras) {
        const file_text f = read(name);
        if (f.state == file_text::refused)
            results.problems.push_back({dir + "/" + name, f.fault, {}, {}, 0});
        *text = f.text;
    }

    for (int32_t rep = 1; rep <= results.repeats; ++rep) {
        std::string tarnvik_figures;
        for (const char *program : suite_programs)
            load_run(results, read, program, rep, tarnvik_figures);
    }
    aggregate(results);
    return {};
}

std::string load_results(const std::string &dir, suite_results &results)
{
    results = suite_results{};
    results.dir = dir;
    std::error_code error;
    if (!std::filesystem::is_directory(dir, error))
        return dir + ": no such results folder";
    const std::string message =
        load_folder(dir, [&](const std::string &name) { return read_results_file(dir + "/" + name); }, results);
    // What is published names the folder the same way from wherever suite-report was started.
    const std::filesystem::path canonical = std::filesystem::canonical(dir, error);
    results.folder = error ? dir : canonical.string();
    return message;
}

std::vector<std::string> problem_lines(const suite_results &results)
{
    struct group {
        const problem *first;
        std::vector<int32_t> reps;
    };
    std::vector<group> groups;
    std::map<std::string, size_t> index;   // program, kind of file and message -> group
    for (const problem &p : results.problems) {
        if (p.rep <= 0) {
            groups.push_back({&p, {p.rep}});
            continue;
        }
        const std::string key = p.program + '\0' + p.suffix + '\0' + p.message;
        const auto [at, fresh] = index.try_emplace(key, groups.size());
        if (fresh)
            groups.push_back({&p, {p.rep}});
        else
            groups[at->second].reps.push_back(p.rep);
    }
    std::vector<std::string> lines;
    for (const group &g : groups) {
        const problem &p = *g.first;
        if (g.reps.size() == 1) {
            lines.push_back(p.file + ": " + p.message);
            continue;
        }
        // One line for a fault that several runs share, with the runs it concerns.
        std::string runs;
        const size_t n = g.reps.size();
        if (static_cast<size_t>(g.reps.back() - g.reps.front()) + 1 == n) {
            runs = std::to_string(g.reps.front()) + " to " + std::to_string(g.reps.back());
        } else {
            for (size_t i = 0; i < n && i < 5; ++i)
                runs += (i ? ", " : "") + std::to_string(g.reps[i]);
            if (n > 5)
                runs += " and " + std::to_string(n - 5) + " more";
        }
        lines.push_back(results.dir + "/" + p.program + "-R" + p.suffix + ": " + p.message + " (" +
                        std::to_string(n) + " runs, R = " + runs + ")");
    }
    return lines;
}
