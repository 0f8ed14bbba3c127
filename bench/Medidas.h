#pragma once

#include <vector>

// The statistics the benchmarks print, over the times of their runs (0 when there are none).
namespace Medidas {

double median(std::vector<double> values);
double percentil90(std::vector<double> values);

} // namespace Medidas
