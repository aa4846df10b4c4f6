// suite_output.cpp - the summary table, JSON, CSV, farm result lines, comparison and stride plot.
#include "suite_output.h"

#include <cerrno>          // errno
#include <cmath>           // std::isfinite, std::fabs
#include <cstring>         // std::strerror
#include <fcntl.h>         // open
#include <nlohmann/json.hpp>
#include <sys/wait.h>      // WIFEXITED
#include <unistd.h>        // close, unlink

namespace {

const metric *find_metric(const suite_results &r, const std::string &id)
{
    for (const metric &m : r.metrics)
        if (m.id == id)
            return &m;
    return nullptr;
}

// Runs of a program, and how many of them were valid.
void count_runs(const suite_results &r, const std::string &program, int &runs, int &valid, std::string &first_fault)
{
    runs = valid = 0;
    first_fault.clear();
    for (const program_run &run : r.runs) {
        if (run.program != program)
            continue;
        ++runs;
        if (run.valid)
            ++valid;
        else if (first_fault.empty())
            first_fault = run.verdict;
    }
}

bool program_valid(const suite_results &r, const std::string &program)
{
    int runs = 0, valid = 0;
    std::string fault;
    count_runs(r, program, runs, valid, fault);
    return runs > 0 && runs == valid;
}

}  // namespace

std::string decimal_text(double value)
{
    if (!std::isfinite(value))
        return "nan";
    char text[400];
    // Nine significant digits in fixed notation, then trailing zeros and a bare point dropped.
    const double magnitude = std::fabs(value);
    int decimals = 0;
    if (magnitude > 0.0) {
        const int exponent = static_cast<int>(std::floor(std::log10(magnitude)));
        decimals = 8 - exponent;
        if (decimals < 0)
            decimals = 0;
        if (decimals > 340)
            decimals = 340;
    }
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string s = text;
    if (s.find('.') != std::string::npos) {
        while (s.back() == '0')
            s.pop_back();
        if (s.back() == '.')
            s.pop_back();
    }
    if (s == "-0")
        s = "0";
    return s;
}

void write_summary(FILE *out, const suite_results &r)
{
    const bool repeated = r.repeats > 1;
    std::fprintf(out, "Suite results: %s\n", r.dir.c_str());
    std::fprintf(out, "%d run%s of each program%s\n\n", r.repeats, repeated ? "s" : "",
                 r.quick ? " (quick: short veskrane runs accepted)" : "");
    if (repeated)
        std::fprintf(out, "%-13s %-24s %14s %14s %14s %7s\n", "program", "figure", "median", "min", "max", "cv %");
    else
        std::fprintf(out, "%-13s %-24s %14s\n", "program", "figure", "value");

    struct row { const char *program, *id, *label; };
    const row rows[] = {
        {"veskrane", "veskrane-iterations-per-sec", "iterations/s"},
        {"memrate", "memrate-t1-copy", "copy KB/s"},
        {"memrate", "memrate-t3-memcpy", "memcpy KB/s"},
        {"memrate", "memrate-t5-read", "read KB/s"},
        {"memrate", "memrate-t6-write", "write KB/s"},
        {"tarnvik-soft", "tarnvik-soft-kflops", "Kflops"},
        {"tarnvik-soft", "tarnvik-soft-norm-resid", "normalised residual"},
        {"tarnvik-vfp", "tarnvik-vfp-kflops", "Kflops"},
        {"tarnvik-vfp", "tarnvik-vfp-norm-resid", "normalised residual"},
    };
    for (const row &w : rows) {
        const metric *m = find_metric(r, w.id);
        if (m == nullptr || m->values.empty()) {
            std::fprintf(out, "%-13s %-24s %14s\n", w.program, w.label, "-");
            continue;
        }
        if (repeated)
            std::fprintf(out, "%-13s %-24s %14s %14s %14s %7.2f\n", w.program, w.label, decimal_text(m->median).c_str(),
                         decimal_text(m->min).c_str(), decimal_text(m->max).c_str(), m->cv * 100.0);
        else
            std::fprintf(out, "%-13s %-24s %14s\n", w.program, w.label, decimal_text(m->median).c_str());
    }

    std::fprintf(out, "\n");
    for (const char *program : suite_programs) {
        int runs = 0, valid = 0;
        std::string fault;
        count_runs(r, program, runs, valid, fault);
        // What quick mode accepted, and the first warning, beside the program's verdict.
        int accepted = 0, warned = 0;
        std::string acceptance, warning;
        for (const program_run &run : r.runs) {
            if (run.program != program)
                continue;
            if (run.valid && !run.accepted.empty() && accepted++ == 0)
                acceptance = run.accepted;
            if (!run.warnings.empty() && warned++ == 0)
                warning = "run " + std::to_string(run.rep) + ": " + run.warnings.front();
        }
        if (accepted > 0)
            acceptance = "; " + (accepted == valid ? "" : std::to_string(accepted) + " of them ") + acceptance;
        if (warned > 1)
            warning += " (and " + std::to_string(warned - 1) + " more run" + (warned > 2 ? "s" : "") + ")";
        if (!warning.empty())
            warning = "; warning, " + warning;
        if (runs == valid)
            std::fprintf(out, "%-13s valid (%d of %d runs%s)%s\n", program, valid, runs, acceptance.c_str(),
                         warning.c_str());
        else
            std::fprintf(out, "%-13s INVALID (%d of %d runs valid): %s%s\n", program, valid, runs, fault.c_str(),
                         warning.c_str());
    }
    std::fprintf(out, "\nVerdict: %s\n", all_valid(r) ? "PASS" : "FAIL");
}

namespace {

nlohmann::json number_or_null(double v)
{
    return std::isfinite(v) ? nlohmann::json(v) : nlohmann::json(nullptr);
}

}  // namespace

void write_json(FILE *out, const suite_results &r, const char *suite_version)
{
    using nlohmann::json;
    json doc;
    doc["schema"] = "boardbench-results";
    doc["schema_version"] = json_schema_version;
    doc["suite_report_version"] = suite_version;
    doc["results_folder"] = r.folder;
    json context = json::object();
    for (const auto &kv : r.context)
        context[kv.first] = kv.second;
    context["cpuinfo"] = r.cpuinfo;
    context["build_info"] = r.build_info;
    doc["context"] = context;
    doc["repeats"] = r.repeats;
    doc["quick"] = r.quick;
    doc["valid"] = all_valid(r);

    json programs = json::array();
    for (const char *program : suite_programs) {
        int runs = 0, valid = 0;
        std::string fault;
        count_runs(r, program, runs, valid, fault);
        json verdicts = json::array(), details = json::array();
        for (const program_run &run : r.runs) {
            if (run.program != program)
                continue;
            verdicts.push_back(run.verdict);
            json d = {{"run", run.rep}, {"valid", run.valid}, {"verdict", run.verdict}};
            if (!run.accepted.empty())
                d["accepted"] = run.accepted;
            d["warnings"] = run.warnings;
            details.push_back(d);
        }
        programs.push_back({{"name", program}, {"runs", runs}, {"valid_runs", valid}, {"valid", runs > 0 && runs == valid},
                            {"verdicts", verdicts}, {"run_details", details}});
    }
    doc["programs"] = programs;

    json problems = json::array();
    for (const problem &p : r.problems)
    {
        // Named within the canonical folder, so that the document is the same from wherever it was made.
        const std::string prefix = r.dir + "/";
        const std::string file = p.file.starts_with(prefix) ? r.folder + "/" + p.file.substr(prefix.size()) : p.file;
        problems.push_back({{"file", file}, {"message", p.message}});
    }
    doc["problems"] = problems;

    json metrics = json::array();
    for (const metric &m : r.metrics) {
        json e = {{"name", m.id}, {"description", m.label}, {"program", m.program}, {"unit", m.unit},
                  {"higher_is_better", m.higher_is_better}, {"value", number_or_null(m.median)},
                  {"runs", m.values.size()}};
        if (r.repeats > 1) {
            json values = json::array();
            for (double v : m.values)
                values.push_back(v);
            e["values"] = values;
            e["median"] = number_or_null(m.median);
            e["min"] = number_or_null(m.min);
            e["max"] = number_or_null(m.max);
            e["cv"] = number_or_null(m.cv);
        }
        metrics.push_back(e);
    }
    doc["metrics"] = metrics;
    // Context texts come from the board and may hold bytes that are not UTF-8: replace them, never fail.
    const std::string text = doc.dump(2, ' ', false, json::error_handler_t::replace);
    std::fprintf(out, "%s\n", text.c_str());
}

void write_csv(FILE *out, const suite_results &r)
{
    std::fprintf(out, "name,program,unit,higher_is_better,value,runs,median,min,max,cv\n");
    for (const metric &m : r.metrics) {
        const bool have = !m.values.empty();
        std::fprintf(out, "%s,%s,%s,%d,%s,%zu,%s,%s,%s,%s\n", m.id.c_str(), m.program.c_str(), m.unit.c_str(),
                     m.higher_is_better ? 1 : 0, have ? decimal_text(m.median).c_str() : "", m.values.size(),
                     have ? decimal_text(m.median).c_str() : "", have ? decimal_text(m.min).c_str() : "",
                     have ? decimal_text(m.max).c_str() : "", have ? decimal_text(m.cv).c_str() : "");
    }
}

void write_lava(FILE *out, const suite_results &r)
{
    // One verdict per program, then every figure: the median of its runs, passing when every run of
    // its program was valid.
    for (const char *program : suite_programs)
        std::fprintf(out, "%s-valid %s\n", program, program_valid(r, program) ? "pass" : "fail");
    for (const metric &m : r.metrics) {
        const bool pass = program_valid(r, m.program) && !m.values.empty();
        std::fprintf(out, "%s %s", m.id.c_str(), pass ? "pass" : "fail");
        if (!m.values.empty()) {
            std::fprintf(out, " %s", decimal_text(m.median).c_str());
            if (!m.unit.empty())
                std::fprintf(out, " %s", m.unit.c_str());
        }
        std::fprintf(out, "\n");
    }
}

void write_compare(FILE *out, const suite_results &a, const suite_results &b)
{
    std::fprintf(out, "A: %s (%d run%s)\nB: %s (%d run%s)\n\n", a.dir.c_str(), a.repeats, a.repeats > 1 ? "s" : "",
                 b.dir.c_str(), b.repeats, b.repeats > 1 ? "s" : "");
    std::fprintf(out, "%-32s %14s %14s %8s  %s\n", "figure", "A", "B", "B/A", "note");
    auto line = [&](const metric *ma, const metric *mb) {
        const metric &m = ma ? *ma : *mb;
        const bool have_a = ma && !ma->values.empty(), have_b = mb && !mb->values.empty();
        const std::string va = have_a ? decimal_text(ma->median) : "-";
        const std::string vb = have_b ? decimal_text(mb->median) : "-";
        std::string ratio = "-", note;
        if (!ma)
            note = "only in B";
        else if (!mb)
            note = "only in A";
        else if (!have_a || !have_b)
            note = "no value";
        else if (ma->median == 0.0)
            note = "A is 0";
        else {
            char text[32];
            const double q = mb->median / ma->median;
            std::snprintf(text, sizeof text, "%.3f", q);
            ratio = text;
            // A difference smaller than the spread of the repeated runs says nothing about the boards.
            const double spread = std::max(ma->max - ma->min, mb->max - mb->min);
            const double diff = std::fabs(mb->median - ma->median);
            if (diff == 0.0)
                note = "same";
            else if ((ma->values.size() > 1 || mb->values.size() > 1) && diff <= spread)
                note = "within the spread of repeated runs";
            else
                note = ((mb->median > ma->median) == m.higher_is_better) ? "B better" : "B worse";
        }
        std::fprintf(out, "%-32s %14s %14s %8s  %s\n", m.id.c_str(), va.c_str(), vb.c_str(), ratio.c_str(), note.c_str());
    };
    for (const metric &ma : a.metrics)
        line(&ma, find_metric(b, ma.id));
    for (const metric &mb : b.metrics)
        if (!find_metric(a, mb.id))
            line(nullptr, &mb);
}

std::string stride_plot_script(const suite_results &r, const std::string &output)
{
    struct sweep { const char *prefix, *title; };
    const sweep sweeps[] = {{"memrate-t7-copy-skip", "copy"}, {"memrate-t8-read-skip", "read"},
                            {"memrate-t9-write-skip", "write"}};
    std::string data, plots;
    for (const sweep &s : sweeps) {
        std::string block;
        for (const metric &m : r.metrics) {
            if (m.id.rfind(s.prefix, 0) != 0 || m.values.empty())
                continue;
            block += m.id.substr(std::strlen(s.prefix)) + " " + decimal_text(m.median) + "\n";
        }
        if (block.empty())
            continue;
        data += std::string("$") + s.title + " << EOD\n" + block + "EOD\n";
        plots += std::string(plots.empty() ? "plot " : ", ") + "$" + s.title + " using 1:2 with linespoints title '" +
                 s.title + "'";
    }
    if (plots.empty())
        return {};
    const bool png = output.size() >= 4 && output.compare(output.size() - 4, 4, ".png") == 0;
    std::string script = png ? "set terminal png size 800,500\n" : "set terminal svg size 800,500\n";
    script += "set output '" + output + "'\n";
    script += "set title 'memrate strided sweeps'\nset logscale x 2\nset xlabel 'skip (bytes)'\n";
    script += "set ylabel 'rate (KB/s)'\nset format y '%.0f'\nset yrange [0:*]\nset key top right\nset grid\n";
    return script + data + plots + "\n";
}

namespace {

// True when a drawn file ends as a whole SVG or PNG file does.
bool plot_file_complete(const std::string &path, bool png)
{
    const file_text f = read_results_file(path);
    if (f.state != file_text::ok)
        return false;
    const std::string &t = f.text;
    if (png)
        return t.ends_with(std::string("IEND\xae\x42\x60\x82", 8));
    const size_t end = t.rfind("</svg>");
    return end != std::string::npos && t.find_first_not_of(" \n", end + 6) == std::string::npos;
}

}  // namespace

std::string write_all(int fd, const std::string &text, const char *what, write_function write_some)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write_some(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::string("cannot write ") + what + ": " + (n < 0 ? std::strerror(errno) : "nothing written");
        done += static_cast<size_t>(n);   // a short write goes on with the rest
    }
    return {};
}

std::string plot_strides(const suite_results &r, const std::string &output)
{
    const bool svg = output.size() >= 4 && output.compare(output.size() - 4, 4, ".svg") == 0;
    const bool png = output.size() >= 4 && output.compare(output.size() - 4, 4, ".png") == 0;
    if (!svg && !png)
        return output + ": the plot file must end in .svg or .png";
    if (output.find_first_of("'\n") != std::string::npos)
        return output + ": quotes and newlines are not allowed in the plot file name";
    const std::string script = stride_plot_script(r, output);
    if (script.empty())
        return r.dir + ": no memrate stride sweep to plot";
    if (std::system("command -v gnuplot >/dev/null 2>&1") != 0)
        return "gnuplot not found: install it to plot the stride sweeps";
    // Claim the name first, so that an existing file is never replaced.
    const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0)
        return output + ": " + (errno == EEXIST ? "exists already; not replaced" : std::strerror(errno));
    close(fd);
    FILE *gp = popen("gnuplot", "w");
    if (gp == nullptr) {
        unlink(output.c_str());
        return "gnuplot could not be started";
    }
    const bool sent = std::fputs(script.c_str(), gp) >= 0 && std::fflush(gp) == 0;
    const int send_errno = errno;
    const int status = pclose(gp);
    if (!sent) {
        unlink(output.c_str());
        return std::string("cannot write the plot script to gnuplot: ") + std::strerror(send_errno);
    }
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        unlink(output.c_str());
        return output + ": gnuplot failed to draw the plot";
    }
    // gnuplot does not always say when its own write failed: the file must end as a whole one does.
    if (!plot_file_complete(output, png)) {
        unlink(output.c_str());
        return "cannot write " + output + ": the plot file was left incomplete (is the disk full?)";
    }
    return {};
}
