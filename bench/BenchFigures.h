#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

// The `p` quantile (0 to 1) of `values`, by the nearest rank; 0 for none.
inline double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * double(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}
