#include "ratio_reporter.h"

#include <cstdio>

namespace vistaro::bench {

void RatioReporter::ReportRuns(const std::vector<Run>& runs) {
  ConsoleReporter::ReportRuns(runs);
  for (const Run& run : runs) {
    if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
    secondsPerIteration_[run.benchmark_name()] = run.cpu_accumulated_time / static_cast<double>(run.iterations);
  }
}

void RatioReporter::Finalize() {
  ConsoleReporter::Finalize();
  std::printf("\n%-58s %9s %8s  %s\n", "ratio (reference time / subject time)", "measured", "target", "");
  for (const Ratio& ratio : ratios_) {
    const auto reference = secondsPerIteration_.find(ratio.reference);
    const auto subject = secondsPerIteration_.find(ratio.subject);
    if (reference == secondsPerIteration_.end() || subject == secondsPerIteration_.end()) continue;
    const double measured = reference->second / subject->second;
    std::printf("%-58s %9.2f %8.2f  %s\n", ratio.label.c_str(), measured, ratio.target,
                measured >= ratio.target ? "met" : "NOT MET");
  }
}

}  // namespace vistaro::bench
