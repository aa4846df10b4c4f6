// suite_text.h - text helpers shared by the report readers: lines, strict number forms, excerpts
// of bad lines and the guarded reading of a results file.
#pragma once
#include <cstdint>      // int32_t, int64_t, uint64_t
#include <string>       // std::string
#include <string_view>  // std::string_view
#include <vector>       // std::vector

// The largest file suite-report reads: no program of the suite prints a hundredth of it, and a
// processor list of a many-core machine stays far below it.
constexpr int64_t report_size_limit = 4 * 1024 * 1024;

// The longest part of a bad line quoted in a message.
constexpr size_t excerpt_chars = 80;

// The lines of a text, without their newlines; a last line without a newline counts too.
std::vector<std::string> split_lines(const std::string &text);

// A bad line as a message quotes it: at most excerpt_chars characters then "...", control
// characters shown as '?', so that a message stays one short line.
std::string excerpt(std::string_view line);

// Strict number forms, exactly as printf prints them; false on anything else.
// "%u"/"%lu": digits, no sign, no leading zero (the value 0 is "0").
bool parse_unsigned(std::string_view text, uint64_t &value);
// "%d": an optional '-', then digits as for parse_unsigned; no "-0"; within int32_t.
bool parse_int32(std::string_view text, int32_t &value);
// "%.Nf": an optional '-', digits as for parse_unsigned, '.', exactly decimals digits; finite.
bool parse_fixed(std::string_view text, int32_t decimals, double &value);
// "%.Ne": an optional '-', one digit, '.', exactly decimals digits, 'e', a sign, two or three
// digits; finite.
bool parse_exponent(std::string_view text, int32_t decimals, double &value);

// What reading one file of a results folder gave.
struct file_text {
    enum kind { ok, missing, refused } state = missing;
    std::string text;     // the whole content when ok
    std::string fault;    // why it was refused
};

// Reads a file of a results folder. Only regular files are opened (a FIFO or a device is refused
// before it is opened, so nothing blocks), and a file larger than report_size_limit is refused
// unread.
file_text read_results_file(const std::string &path);
