// juxhid codes: the status table, for people or as the docs' Markdown page.
#include <cstdio>

#include "commands.h"
#include "status_text.h"

namespace juxhid::tool {

int runCodes(const CommandLine& line) {
    const std::string text = line.markdown ? statusTableMarkdown() : statusTablePlain();
    std::fwrite(text.data(), 1, text.size(), stdout);
    return kExitOk;
}

}  // namespace juxhid::tool
