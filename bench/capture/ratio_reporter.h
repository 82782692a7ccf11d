#pragma once

#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace vistaro::bench {

// A console reporter that ends the run with each subject's speed as a multiple
// of its reference's, both measured in the same run.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  struct Ratio {
    std::string label;
    std::string reference;
    std::string subject;
    double target;  // the subject must be at least this many times as fast
  };
  explicit RatioReporter(std::vector<Ratio> ratios) : ratios_(std::move(ratios)) {}

  void ReportRuns(const std::vector<Run>& runs) override;
  void Finalize() override;

 private:
  std::vector<Ratio> ratios_;
  std::map<std::string, double> timePerIteration_;  // in each benchmark's own unit
};

}  // namespace vistaro::bench
