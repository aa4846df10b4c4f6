// read_tarnvik.cpp - the readers of tarnvik's two reports: the accuracy lines on standard output
// and the timing table with the rating on standard error.
#include <algorithm>    // std::min
#include <cstdio>       // std::snprintf
#include <string>       // std::string
#include <vector>       // std::vector
#include "suite_results.h"
#include "suite_text.h"

namespace {

constexpr const char banner[] = "Rolled Double Precision Tarnvik";
constexpr const char accuracy_header[] =
    "     norm. resid      resid           machep         x[0]-1        x[n-1]-1";

std::string format_double(double v)
{
    char text[64];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

// The blank-separated words of a line.
std::vector<std::string> words(const std::string &line)
{
    std::vector<std::string> w;
    size_t pos = 0;
    while (pos < line.size()) {
        const size_t start = line.find_first_not_of(' ', pos);
        if (start == std::string::npos)
            break;
        const size_t end = std::min(line.find(' ', start), line.size());
        w.push_back(line.substr(start, end - start));
        pos = end;
    }
    return w;
}

bool not_a_number(const std::string &word)
{
    return word == "nan" || word == "-nan" || word == "inf" || word == "-inf";
}

}  // namespace

report_reading read_tarnvik_out(const std::string &program, const std::string &out)
{
    report_reading r;
    const std::vector<std::string> lines = split_lines(out);
    const bool have_banner = !lines.empty() && lines[0] == banner;
    const bool have_header = lines.size() >= 3 && lines[2] == accuracy_header;
    if (!have_banner) {
        r.fault = "not a tarnvik report (no banner, no accuracy lines)";
        return r;
    }
    if (lines.size() <= 2) {
        r.fault = "truncated report (no accuracy lines)";
        return r;
    }
    if (!lines[1].empty() || !have_header) {
        r.fault = "malformed line: " + excerpt(lines[1].empty() ? lines[2] : lines[1]);
        return r;
    }
    if (lines.size() == 3) {
        r.fault = "truncated report (no accuracy figures)";
        return r;
    }
    if (lines.size() > 4 || out.back() != '\n') {
        r.fault = lines.size() > 4 ? "two reports in one file, or a line after the accuracy figures: " + excerpt(lines[4])
                                   : "truncated report (accuracy figures cut short)";
        return r;
    }
    // Normalised residual, residual, machine epsilon, x[0]-1, x[n-1]-1, as "%8.1f" and four "%16.8e".
    const std::string &line = lines[3];
    const std::vector<std::string> w = words(line);
    if (w.size() != 5) {
        r.fault = "malformed accuracy line: " + excerpt(line);
        return r;
    }
    for (const std::string &word : w)
        if (not_a_number(word)) {
            r.fault = "accuracy figures not finite: " + excerpt(line);
            return r;
        }
    double v[5];
    bool ok = parse_fixed(w[0], 1, v[0]);
    for (size_t i = 1; i < 5; ++i)
        ok = ok && parse_exponent(w[i], 8, v[i]);
    if (ok) {
        char text[160];
        std::snprintf(text, sizeof text, "  %8.1f      %16.8e%16.8e%16.8e%16.8e", v[0], v[1], v[2], v[3], v[4]);
        ok = line == text;
    }
    if (!ok) {
        r.fault = "malformed accuracy line: " + excerpt(line);
        return r;
    }
    r.samples.push_back({program + "-norm-resid", "normalised residual", "", false, v[0]});
    r.samples.push_back({program + "-resid", "largest residual", "", false, v[1]});
    if (v[0] < 0.0 || v[1] < 0.0 || v[2] <= 0.0)
        r.fault = "accuracy figures out of range (residuals below 0 or machine epsilon not above 0): " + excerpt(line);
    else if (v[0] > residual_bound)
        r.fault = "normalised residual " + format_double(v[0]) + " above the bound " + format_double(residual_bound);
    return r;
}

report_reading read_tarnvik_err(const std::string &program, const std::string &err)
{
    report_reading r;
    const std::vector<std::string> lines = split_lines(err);
    const bool have_banner = !lines.empty() && lines[0] == banner;
    // The banner, an empty line, 13 lines of the table and the rating line last.
    constexpr size_t report_lines = 15;
    size_t rating_at = lines.size();
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!lines[i].starts_with("Rolled Double  Precision "))
            continue;
        if (rating_at != lines.size()) {
            r.fault = "two reports in one file (a second rating line)";
            return r;
        }
        rating_at = i;
    }
    if (rating_at == lines.size()) {
        r.fault = have_banner ? "truncated report (no rating line)" : "not a tarnvik report (no banner, no rating line)";
        return r;
    }
    const std::string &line = lines[rating_at];
    const std::string prefix = "Rolled Double  Precision ";
    const size_t end = line.find(" Kflops ; 10 Reps ");
    int32_t kflops = 0;
    bool ok = end != std::string::npos && end + 18 == line.size();
    if (ok) {
        const std::string field = line.substr(prefix.size(), end - prefix.size());
        const size_t digits = field.find_first_not_of(' ');
        ok = digits != std::string::npos && parse_int32(std::string_view(field).substr(digits), kflops);
        if (ok) {
            char text[80];
            std::snprintf(text, sizeof text, "Rolled Double  Precision %5d Kflops ; 10 Reps ", kflops);
            ok = line == text;
        }
    }
    if (!ok) {
        r.fault = "malformed rating line: " + excerpt(line);
        return r;
    }
    if (!have_banner || rating_at + 1 != report_lines || lines.size() != report_lines || err.back() != '\n') {
        r.fault = !have_banner ? "not a tarnvik report (no banner before the rating line)"
                               : "malformed report (" + std::to_string(lines.size()) + " lines, not " +
                                     std::to_string(report_lines) + " ending with the rating line)";
        return r;
    }
    r.samples.push_back({program + "-kflops", "rating", "Kflops", true, static_cast<double>(kflops)});
    if (kflops <= 0)
        r.fault = "implausible rating " + std::to_string(kflops) + " Kflops";
    else if (kflops >= 2147483647)
        r.fault = "rating saturated: the measured CPU time was 0";
    r.verdict = std::to_string(kflops) + " Kflops";
    return r;
}
