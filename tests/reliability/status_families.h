// Which codes each exported function may answer, read from the library's one
// status table: 0 or a code of the function's own hundred (ReadData also the
// three lock-wait codes), and nothing the table does not name.
#pragma once

#include <cstdint>
#include <string>

#include "juxhid_status.h"

namespace juxhid::test {

enum class Function {
    EnumerateJUX,
    GetReadLength,
    GetWriteLength,
    SetupInterface,
    ReadData,
    ReadLast,
    ClearBuffer,
    SetDataCallback,
    SetErrorCallback,
    WriteData,
    FastWrite,
};

inline const char* functionName(Function function) {
    switch (function) {
        case Function::EnumerateJUX: return "EnumerateJUX";
        case Function::GetReadLength: return "GetReadLength";
        case Function::GetWriteLength: return "GetWriteLength";
        case Function::SetupInterface: return "SetupInterface";
        case Function::ReadData: return "ReadData";
        case Function::ReadLast: return "ReadLast";
        case Function::ClearBuffer: return "ClearBuffer";
        case Function::SetDataCallback: return "SetDataCallback";
        case Function::SetErrorCallback: return "SetErrorCallback";
        case Function::WriteData: return "WriteData";
        case Function::FastWrite: return "FastWrite";
    }
    return "?";
}

// The table's name for a code, or null when the table has no such code.
inline const char* statusName(int32_t code) {
#define JUXHID_TEST_STATUS_NAME(name, value, meaning) \
    if (code == (value)) return #name;
    JUXHID_STATUS_TABLE(JUXHID_TEST_STATUS_NAME)
#undef JUXHID_TEST_STATUS_NAME
    return nullptr;
}

inline std::string describeStatus(int32_t code) {
    const char* name = statusName(code);
    return std::to_string(code) + " (" + (name != nullptr ? name : "not in the status table") + ")";
}

// The hundred a function's failures live in.
inline int32_t hundredOf(Function function) {
    switch (function) {
        case Function::EnumerateJUX: return 100;
        case Function::SetupInterface: return 200;
        case Function::ReadData: return 300;
        case Function::WriteData:
        case Function::FastWrite: return 400;
        case Function::ReadLast: return 500;
        case Function::ClearBuffer: return 600;
        case Function::SetDataCallback:
        case Function::SetErrorCallback: return 700;
        case Function::GetReadLength:
        case Function::GetWriteLength: return -1;
    }
    return -1;
}

// True when `code` is an answer the function may give. The length queries
// answer a length or -1; they have no table.
inline bool answersFrom(Function function, int32_t code) {
    if (function == Function::GetReadLength || function == Function::GetWriteLength)
        return code >= -1 && code <= 0xFFFF;
    if (statusName(code) == nullptr) return false;
    if (code == JUXHID_OK) return true;
    if (function == Function::WriteData && code == JUXHID_WRITE_SLOW_CHAIN) return false;
    if (function == Function::ReadData &&
        (code == JUXHID_READ_LOCK_FAILED || code == JUXHID_READ_LOCK_TIMEOUT || code == JUXHID_READ_NO_LOCK))
        return true;
    return code / 100 * 100 == hundredOf(function);
}

}  // namespace juxhid::test
