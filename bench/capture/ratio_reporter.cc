#include "ratio_reporter.h"

#include <cstdio>

namespace vistaro::bench {

void RatioReporter::ReportRuns(const std::vector<Run>& runs) {
  ConsoleReporter::ReportRuns(runs);
  // CPU time: the machine may be shared, and each loop uses one core. With
  // repetitions, the median stands for the benchmark.
  for (const Run& run : runs) {
    const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
    const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
    if (single || median) timePerIteration_[run.run_name.str()] = run.GetAdjustedCPUTime();
  }
}

void RatioReporter::Finalize() {
  ConsoleReporter::Finalize();
  std::printf("\n%-58s %9s %8s  %s\n", "ratio (reference time / subject time)", "measured", "target", "");
  for (const Ratio& ratio : ratios_) {
    const auto reference = timePerIteration_.find(ratio.reference);
    const auto subject = timePerIteration_.find(ratio.subject);
    if (reference == timePerIteration_.end() || subject == timePerIteration_.end()) continue;
    const double measured = reference->second / subject->second;
    std::printf("%-58s %9.2f %8.2f  %s\n", ratio.label.c_str(), measured, ratio.target,
                measured >= ratio.target ? "met" : "NOT MET");
  }
}

}  // namespace vistaro::bench
