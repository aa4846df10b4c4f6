// suite_text.cpp - lines, strict number forms, excerpts and the guarded reading of results files.
#include "suite_text.h"

#include <cerrno>       // errno
#include <charconv>     // std::from_chars
#include <cmath>        // std::isfinite
#include <cstdio>       // std::snprintf
#include <cstring>      // std::strerror
#include <fcntl.h>      // open, O_NONBLOCK
#include <sys/stat.h>   // stat, fstat
#include <unistd.h>     // read, close
#include <utility>      // std::move

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

std::string excerpt(std::string_view line)
{
    const bool cut = line.size() > excerpt_chars;
    std::string text(cut ? line.substr(0, excerpt_chars) : line);
    for (char &c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            c = '?';
    }
    return cut ? text + "..." : text;
}

namespace {

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// The length of a run of digits at the start of text that has no superfluous leading zero; 0 when
// there is none.
size_t digit_run(std::string_view text)
{
    size_t n = 0;
    while (n < text.size() && is_digit(text[n]))
        ++n;
    if (n > 1 && text[0] == '0')
        return 0;
    return n;
}

bool all_digits(std::string_view text, size_t count)
{
    if (text.size() != count)
        return false;
    for (char c : text)
        if (!is_digit(c))
            return false;
    return true;
}

bool to_double(std::string_view text, double &value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

}  // namespace

bool parse_unsigned(std::string_view text, uint64_t &value)
{
    const size_t n = digit_run(text);
    if (n == 0 || n != text.size())
        return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

bool parse_int32(std::string_view text, int32_t &value)
{
    const bool negative = !text.empty() && text[0] == '-';
    const std::string_view digits = negative ? text.substr(1) : text;
    uint64_t magnitude = 0;
    if (!parse_unsigned(digits, magnitude) || (negative && magnitude == 0))
        return false;
    if (magnitude > (negative ? 2147483648u : 2147483647u))
        return false;
    value = negative ? static_cast<int32_t>(-static_cast<int64_t>(magnitude)) : static_cast<int32_t>(magnitude);
    return true;
}

bool parse_fixed(std::string_view text, int32_t decimals, double &value)
{
    std::string_view rest = text;
    if (!rest.empty() && rest[0] == '-')
        rest.remove_prefix(1);
    const size_t n = digit_run(rest);
    if (n == 0 || n >= rest.size() || rest[n] != '.' ||
        !all_digits(rest.substr(n + 1), static_cast<size_t>(decimals)))
        return false;
    return to_double(text, value);
}

bool parse_exponent(std::string_view text, int32_t decimals, double &value)
{
    std::string_view rest = text;
    if (!rest.empty() && rest[0] == '-')
        rest.remove_prefix(1);
    const size_t mantissa = 2 + static_cast<size_t>(decimals);   // "d." and the decimals
    if (rest.size() < mantissa + 4 || !is_digit(rest[0]) || rest[1] != '.' ||
        !all_digits(rest.substr(2, static_cast<size_t>(decimals)), static_cast<size_t>(decimals)))
        return false;
    const std::string_view exponent = rest.substr(mantissa);
    if (exponent[0] != 'e' || (exponent[1] != '+' && exponent[1] != '-'))
        return false;
    const std::string_view digits = exponent.substr(2);
    if (!all_digits(digits, digits.size()) || digits.size() < 2 || digits.size() > 3)
        return false;
    return to_double(text, value);
}

file_text read_results_file(const std::string &path)
{
    file_text f;
    // Looked at before opening: opening a FIFO would block, opening a device may act on it.
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT)
            return f;
        f.state = file_text::refused;
        f.fault = std::string("cannot be read: ") + std::strerror(errno);
        return f;
    }
    f.state = file_text::refused;
    if (!S_ISREG(st.st_mode)) {
        f.fault = "not a regular file: not read";
        return f;
    }
    char too_big[96];
    std::snprintf(too_big, sizeof too_big, "larger than %d MiB, more than any program of the suite prints: not read",
                  static_cast<int>(report_size_limit / (1024 * 1024)));
    if (st.st_size > report_size_limit) {
        f.fault = too_big;
        return f;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        f.fault = std::string("cannot be read: ") + std::strerror(errno);
        return f;
    }
    // The file may have been replaced or may grow between the look and the read: checked again on
    // what was opened, and read no further than one byte past the limit.
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        f.fault = "not a regular file: not read";
        return f;
    }
    std::string text;
    char buf[65536];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            f.fault = std::string("cannot be read: ") + std::strerror(errno);
            close(fd);
            return f;
        }
        if (n == 0)
            break;
        text.append(buf, static_cast<size_t>(n));
        if (static_cast<int64_t>(text.size()) > report_size_limit) {
            close(fd);
            f.fault = too_big;
            return f;
        }
    }
    close(fd);
    f.state = file_text::ok;
    f.text = std::move(text);
    return f;
}
