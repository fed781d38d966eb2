// Status codes as the tool shows them: looked up in the library's one status
// table, never copied from it.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace juxhid::tool {

struct StatusEntry {
    int32_t code;
    const char* name;
    const char* meaning;
};

// Every code of the table, in the table's order.
std::span<const StatusEntry> statusTable();

// The entry for `code`, or null for a code the library never returns.
const StatusEntry* findStatus(int32_t code);

// "206 (opening the device for reading was denied)"; unknown codes say so.
std::string describeStatus(int32_t code);

// The exported functions that can return `code`, from the hundred it lies in.
const char* functionsReturning(int32_t code);

// The table as aligned plain text, one code a line.
std::string statusTablePlain();

// The table as the Markdown page the docs carry.
std::string statusTableMarkdown();

}  // namespace juxhid::tool
