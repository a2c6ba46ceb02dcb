// Prints the table of run metrics, one metric a line, for the scripts of the
// tests (the golden runs leave out the metrics they were recorded without):
// name, decimals (-1 for a count), whether the golden runs compare it (yes or no),
// unit and description, separated by tabs.
#include <cstdio>

#include "shell/run_metrics.h"

int main() {
  for (const run_metric& metric : run_metrics_table()) {
    std::printf("%s\t%d\t%s\t%s\t%s\n", metric.name, metric.decimals, metric.golden ? "yes" : "no",
                metric.unit, metric.description);
  }
  return 0;
}
