// suite_output.h - what suite-report writes from a results folder: summary, JSON, CSV, farm result
// lines, a comparison of two folders and the stride plot.
#pragma once
#include <cstdio>     // FILE
#include <string>     // std::string
#include <unistd.h>   // write, ssize_t
#include "suite_results.h"

// Version of the JSON layout; raised whenever a field changes meaning or disappears.
constexpr int json_schema_version = 1;

// A plain decimal text of a value (no exponent), at most nine significant digits.
std::string decimal_text(double value);

void write_summary(FILE *out, const suite_results &results);
void write_json(FILE *out, const suite_results &results, const char *suite_version);
void write_csv(FILE *out, const suite_results &results);
void write_lava(FILE *out, const suite_results &results);
void write_compare(FILE *out, const suite_results &a, const suite_results &b);

// Writes a whole text to a file descriptor, going on after short writes. Returns an empty string,
// or "cannot write WHAT: reason" when a write fails. write_some stands for write(2); the tests
// hand in one that fails.
using write_function = ssize_t (*)(int fd, const void *data, size_t size);
std::string write_all(int fd, const std::string &text, const char *what, write_function write_some = ::write);

// The gnuplot script that draws memrate's three stride sweeps into output (".svg" or ".png");
// empty when the folder holds no sweep.
std::string stride_plot_script(const suite_results &results, const std::string &output);

// Draws the sweeps through gnuplot into a new file. Returns an empty string on success or a one-line
// message; an existing file is never replaced.
std::string plot_strides(const suite_results &results, const std::string &output);
