#include "support/options.h"

#include <cstring>

namespace juxhid::bench {

Options takeOptions(int& argc, char** argv) {
    Options options;
    constexpr const char* kHistogram = "--histogram_out=";
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--short") == 0) {
            options.smoke = true;
        } else if (std::strncmp(argv[i], kHistogram, std::strlen(kHistogram)) == 0) {
            options.histogramOut = argv[i] + std::strlen(kHistogram);
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    argv[argc] = nullptr;
    return options;
}

}  // namespace juxhid::bench
