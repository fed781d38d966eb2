// The figures a measuring pass finds, each beside the floor it is judged
// against: printed as a table for the reader of a stage's log, and written
// as JSON for bench/report.py, which turns every platform's sheet into its
// table in the performance docs and compares two revisions figure by figure.
// Ratios, not absolute times, carry over from one machine to another: the
// floor is measured in the same run, on the same stack, the same way.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace juxhid::bench {

struct Figure {
    std::string section;  // "Callback latency", "Idle cost", ...
    std::string name;     // "callback at 1,000/s, p50"
    double value = 0;
    std::string unit;     // "us", "us CPU per report", "wake-ups/s", "% of a core", "reports"
    bool hasFloor = false;
    double floor = 0;
    std::string note;     // what the floor is, or what limited the run
};

class FigureSheet {
public:
    // `platform` names the stack: "sim", "sim-wine64", "kernel", "wine-kernel64".
    explicit FigureSheet(std::string platform) : platform_(std::move(platform)) {}

    void add(const std::string& section, const std::string& name, double value, const std::string& unit,
             const std::string& note = "");
    void addWithFloor(const std::string& section, const std::string& name, double value, double floor,
                      const std::string& unit, const std::string& note = "");

    // A setting of the run worth keeping with its figures ("seconds per run").
    void setContext(const std::string& key, const std::string& value);

    const std::vector<Figure>& figures() const { return figures_; }
    void print(FILE* out) const;
    bool writeJson(const std::string& path) const;

private:
    std::string platform_;
    std::vector<std::pair<std::string, std::string>> context_;
    std::vector<Figure> figures_;
};

// floor > 0 ? value / floor : 0.
double ratioToFloor(double value, double floor);

// The text of /proc/loadavg's first three fields ("0.41 0.52 0.60"), also
// under Wine; "unknown" where there is none.
std::string loadAverage();

}  // namespace juxhid::bench
