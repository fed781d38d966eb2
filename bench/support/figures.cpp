#include "support/figures.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace juxhid::bench {
namespace {

std::string jsonString(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

std::string jsonNumber(double value) {
    if (!std::isfinite(value)) return "null";
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

std::string utcNow() {
    const std::time_t now = std::time(nullptr);
    char text[32] = "unknown";
    if (const std::tm* utc = std::gmtime(&now)) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", utc);
    return text;
}

}  // namespace

void FigureSheet::add(const std::string& section, const std::string& name, double value, const std::string& unit,
                      const std::string& note) {
    figures_.push_back(Figure{section, name, value, unit, false, 0, note});
}

void FigureSheet::addWithFloor(const std::string& section, const std::string& name, double value, double floor,
                               const std::string& unit, const std::string& note) {
    figures_.push_back(Figure{section, name, value, unit, true, floor, note});
}

void FigureSheet::setContext(const std::string& key, const std::string& value) {
    context_.emplace_back(key, value);
}

double ratioToFloor(double value, double floor) { return floor > 0 ? value / floor : 0; }

void FigureSheet::print(FILE* out) const {
    std::fprintf(out, "figures of %s (%s; load %s)\n", platform_.c_str(), utcNow().c_str(), loadAverage().c_str());
    std::string section;
    for (const Figure& figure : figures_) {
        if (figure.section != section) std::fprintf(out, "  %s\n", (section = figure.section).c_str());
        std::fprintf(out, "    %-52s %12.3f %s", figure.name.c_str(), figure.value, figure.unit.c_str());
        if (figure.hasFloor)
            std::fprintf(out, "  (floor %.3f, %.2fx)", figure.floor, ratioToFloor(figure.value, figure.floor));
        if (!figure.note.empty()) std::fprintf(out, "  %s", figure.note.c_str());
        std::fputc('\n', out);
    }
}

bool FigureSheet::writeJson(const std::string& path) const {
    FILE* out = std::fopen(path.c_str(), "w");
    if (out == nullptr) return false;
    std::fprintf(out, "{\"platform\": %s, \"date\": %s, \"load\": %s, \"context\": {", jsonString(platform_).c_str(),
                 jsonString(utcNow()).c_str(), jsonString(loadAverage()).c_str());
    for (size_t i = 0; i < context_.size(); ++i)
        std::fprintf(out, "%s%s: %s", i ? ", " : "", jsonString(context_[i].first).c_str(),
                     jsonString(context_[i].second).c_str());
    std::fprintf(out, "},\n \"figures\": [");
    for (size_t i = 0; i < figures_.size(); ++i) {
        const Figure& f = figures_[i];
        std::fprintf(out, "%s\n  {\"section\": %s, \"name\": %s, \"value\": %s, \"unit\": %s, \"floor\": %s, \"note\": %s}",
                     i ? "," : "", jsonString(f.section).c_str(), jsonString(f.name).c_str(),
                     jsonNumber(f.value).c_str(), jsonString(f.unit).c_str(),
                     f.hasFloor ? jsonNumber(f.floor).c_str() : "null", jsonString(f.note).c_str());
    }
    std::fprintf(out, "\n]}\n");
    return std::fclose(out) == 0;
}

std::string loadAverage() {
#ifdef _WIN32
    FILE* file = std::fopen("Z:\\proc\\loadavg", "r");
#else
    FILE* file = std::fopen("/proc/loadavg", "r");
#endif
    if (file == nullptr) return "unknown";
    double one = 0, five = 0, fifteen = 0;
    const int got = std::fscanf(file, "%lf %lf %lf", &one, &five, &fifteen);
    std::fclose(file);
    if (got != 3) return "unknown";
    char text[48];
    std::snprintf(text, sizeof text, "%.2f %.2f %.2f", one, five, fifteen);
    return text;
}

}  // namespace juxhid::bench
