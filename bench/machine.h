#pragma once
// What the benchmarks print about the machine beside their figures.

#include <fstream>
#include <string>

namespace bench {

// The load averages of the last 1, 5 and 15 minutes, "0.52 0.81 0.65".
inline std::string LoadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

}  // namespace bench
