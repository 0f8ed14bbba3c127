#pragma once

#include <vector>

// The statistics the benchmarks print, over the times of their runs (0 when there are none).
namespace Measurements {

double median(std::vector<double> values);
double percentile90(std::vector<double> values);

} // namespace Measurements
