// The benchmarks' own command-line options, taken out of argv before Google
// Benchmark sees the rest:
//   --short            a smoke pass: every measurement runs, briefly
//   --histogram_out=F  where the latency measurements write their histograms
#pragma once

#include <string>

namespace juxhid::bench {

struct Options {
    bool smoke = false;
    std::string histogramOut;
};

// Removes the options it knows from argv (argc shrinks accordingly).
Options takeOptions(int& argc, char** argv);

}  // namespace juxhid::bench
