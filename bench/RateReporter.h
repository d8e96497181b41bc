#pragma once
// A console reporter that also keeps each benchmark's items-per-second rate,
// so that a benchmark program can print ratios of two variants measured in
// the same run.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

class RateReporter : public benchmark::ConsoleReporter {
 public:
  RateReporter() : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_Color : OO_None) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      const auto rate = run.counters.find("items_per_second");
      if (rate != run.counters.end()) rates_[run.benchmark_name()] = rate->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // Prints "<variant> / <reference> <label> <ratio> (<rates> <unit>)": the
  // ratio is variant rate / reference rate, or its inverse (a cost ratio)
  // with `inverse`. Nothing when either was not measured.
  void printRatio(const std::string& variant, const std::string& reference, const char* label,
                  const char* unit, bool inverse = false) const {
    const auto v = rates_.find(variant);
    const auto r = rates_.find(reference);
    if (v == rates_.end() || r == rates_.end() || v->second <= 0 || r->second <= 0) return;
    const double ratio = inverse ? r->second / v->second : v->second / r->second;
    std::printf("%-28s / %-28s %s %.2f (%.0f vs %.0f %s)\n", variant.c_str(), reference.c_str(),
                label, ratio, v->second, r->second, unit);
  }

 private:
  std::map<std::string, double> rates_;
};
