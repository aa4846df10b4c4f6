// suite_results.h - a results folder of run-suite: its records, the readers of the four programs'
// reports and of the run files beside them, the folder loader and the aggregation of repeated runs.
#pragma once
#include <cstdint>      // int32_t
#include <functional>   // std::function
#include <string>       // std::string
#include <utility>      // std::pair
#include <vector>       // std::vector
#include "suite_text.h" // file_text

// The normalised residual a sound double-precision build may print; the problem prints 1.7 on
// every correct build, a broken floating-point unit gives orders of magnitude more.
constexpr double residual_bound = 10.0;

// The programs of a suite run, in run order.
constexpr const char *suite_programs[] = {"veskrane", "memrate", "tarnvik-soft", "tarnvik-vfp"};

// The most repetitions a context file may name.
constexpr int32_t max_repeats = 10000;

// One measured figure of one run.
struct sample {
    std::string id;          // stable single-token name, the same on every machine and build
    std::string label;       // short human description
    std::string unit;        // single token, empty for a pure number
    bool higher_is_better;
    double value;
};

// What one reader made of one report: its figures, and the first fault (empty when valid).
struct report_reading {
    std::vector<sample> samples;
    std::string fault;
    std::string verdict;     // the program's own verdict text where it has one
    std::string accepted;    // why a result with a reported error still counts, where one does
};

// A fault of the folder, named by the file it concerns.
struct problem {
    std::string file;        // the path, as the folder was named
    std::string message;
    std::string program;     // the program of the run, empty for a file of the folder itself
    std::string suffix;      // the kind of run file: ".stdout", ".status", ...
    int32_t rep = 0;         // the repetition of the run, 0 for a file of the folder itself
};

// One run of one program.
struct program_run {
    std::string program;
    int32_t rep;             // 1-based repetition
    bool valid;
    std::string verdict;
    std::vector<sample> samples;
    std::string accepted = {};               // see report_reading
    std::vector<std::string> warnings = {};  // e.g. a frequency that dropped during the run
};

// One figure over all repetitions.
struct metric {
    std::string id, label, unit, program;
    bool higher_is_better;
    std::vector<double> values;   // one per run that produced the figure
    double median, min, max, cv;  // cv: sample standard deviation / mean; 0 for one value
};

// A whole results folder.
struct suite_results {
    std::string dir;         // as given, for messages
    std::string folder;      // the absolute, canonical path, for what is published
    std::vector<std::pair<std::string, std::string>> context;   // the context file, in order
    std::string cpuinfo;
    std::string build_info;
    int32_t repeats = 0;
    bool quick = false;
    std::vector<program_run> runs;
    std::vector<problem> problems;
    std::vector<metric> metrics;
};

// Readers of one report each; pure functions of the text.
report_reading read_veskrane(const std::string &out, bool quick);
report_reading read_memrate(const std::string &out);
report_reading read_tarnvik_out(const std::string &program, const std::string &out);
report_reading read_tarnvik_err(const std::string &program, const std::string &err);

// The exit status file: one line of decimal digits, 0 to 255. Returns an empty string and sets
// status, or the fault.
std::string read_status(const std::string &text, int32_t &status);

// A non-zero exit status explained as a shell would, with the first loader or exec error line of
// the program's standard error where there is one.
std::string explain_status(const std::string &program, int32_t status, const std::string &err);

// The sensors file of a run (frequencies and temperatures before and after it). Returns an empty
// string, with warning set to the throttling warning or empty, or the fault.
std::string read_sensors(const std::string &text, std::string &warning);

// Reads one file of a folder by its name within the folder.
using folder_reader = std::function<file_text(const std::string &name)>;

// Loads a results folder. Returns an empty string on success (faults of the reports are then in
// results.problems), or a one-line message when the folder cannot be used at all.
std::string load_results(const std::string &dir, suite_results &results);

// The same with the files supplied by read (the fuzz targets hand them over from memory).
std::string load_folder(const std::string &dir, const folder_reader &read, suite_results &results);

// The folder's problems as lines for standard error: one per fault, and one with a count for a
// fault that several runs share.
std::vector<std::string> problem_lines(const suite_results &results);

// Fills results.metrics from results.runs.
void aggregate(suite_results &results);

// Median, minimum, maximum and coefficient of variation of a non-empty list.
void describe(const std::vector<double> &values, double &median, double &min, double &max, double &cv);

// The context value of a key, or an empty string.
std::string context_value(const suite_results &results, const std::string &key);

// True when every program of the folder produced a valid result.
bool all_valid(const suite_results &results);
