// stats.cpp - the aggregation of repeated runs: median, spread and coefficient of variation per figure.
#include <algorithm>    // std::sort, std::find_if
#include <cmath>        // std::isfinite, std::sqrt, std::fabs, std::nan
#include <vector>       // std::vector
#include "suite_results.h"

void describe(const std::vector<double> &values, double &median, double &min, double &max, double &cv)
{
    std::vector<double> v = values;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
    min = v.front();
    max = v.back();
    cv = 0.0;
    if (n < 2)
        return;
    double mean = 0.0;
    for (double x : v)
        mean += x;
    mean /= static_cast<double>(n);
    double ss = 0.0;
    for (double x : v)
        ss += (x - mean) * (x - mean);
    const double sd = std::sqrt(ss / static_cast<double>(n - 1));
    cv = mean != 0.0 ? sd / std::fabs(mean) : 0.0;
}

void aggregate(suite_results &results)
{
    results.metrics.clear();
    for (const program_run &run : results.runs) {
        for (const sample &s : run.samples) {
            auto m = std::find_if(results.metrics.begin(), results.metrics.end(),
                                  [&](const metric &x) { return x.id == s.id; });
            if (m == results.metrics.end()) {
                results.metrics.push_back({s.id, s.label, s.unit, run.program, s.higher_is_better, {}, 0, 0, 0, 0});
                m = results.metrics.end() - 1;
            }
            // Non-finite figures are faults of their run already; they stay out of the statistics.
            if (std::isfinite(s.value))
                m->values.push_back(s.value);
        }
    }
    for (metric &m : results.metrics) {
        if (m.values.empty())
            m.median = m.min = m.max = m.cv = std::nan("");
        else
            describe(m.values, m.median, m.min, m.max, m.cv);
    }
}

bool all_valid(const suite_results &results)
{
    return results.problems.empty();
}
