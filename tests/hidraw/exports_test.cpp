// libjuxhid.so as a host loads it: exactly the thirteen plain names are
// exported, each resolves, and loading and unloading it run cleanly.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

namespace {

const std::set<std::string> kExported = {
    "EnumerateJUX",    "GetReadLength", "GetWriteLength",  "SetupInterface", "CloseInterface",
    "CleanupInterface", "ReadData",     "ReadLast",        "ClearBuffer",    "SetDataCallback",
    "SetErrorCallback", "WriteData",    "FastWrite"};

// The defined names of the library's dynamic symbol table.
std::set<std::string> definedDynamicSymbols(const std::string& library) {
    std::set<std::string> names;
    const std::string command = "nm -D --defined-only '" + library + "'";
    FILE* output = ::popen(command.c_str(), "r");
    if (output == nullptr) return names;
    char line[512];
    while (std::fgets(line, sizeof line, output) != nullptr) {
        char address[64], type[8], name[400];
        if (std::sscanf(line, "%63s %7s %399s", address, type, name) == 3) names.insert(name);
    }
    ::pclose(output);
    return names;
}

TEST(SharedLibraryExports, OnlyTheThirteenPlainNames) {
    EXPECT_EQ(definedDynamicSymbols(JUXHID_LIBRARY_PATH), kExported);
}

TEST(SharedLibraryExports, EveryNameResolvesAndTheLibraryUnloads) {
    void* library = ::dlopen(JUXHID_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();
    for (const std::string& name : kExported) EXPECT_NE(::dlsym(library, name.c_str()), nullptr) << name;
    using GetLength = int32_t (*)(int32_t);
    auto getReadLength = reinterpret_cast<GetLength>(::dlsym(library, "GetReadLength"));
    ASSERT_NE(getReadLength, nullptr);
    EXPECT_EQ(getReadLength(0), -1);  // nothing listed yet
    EXPECT_EQ(::dlclose(library), 0);
}

}  // namespace
