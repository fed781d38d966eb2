// A 32-bit host program's view of the DLLs: it loads them with LoadLibraryA,
// resolves every function by both of its names with GetProcAddress, and calls
// them through the stdcall convention, checking that each callee pops
// exactly its own arguments. The simulated-bus DLL then carries a whole
// session, callbacks into the host included.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "exported_names.h"
#include "juxhid.h"
#include "juxhid_sim.h"
#include "juxhid_status.h"
#include "loaded_library.h"
#include "stdcall_probe.h"

namespace juxhid::test {
namespace {

constexpr const char* kLibrary = "juxhid.dll";
constexpr const char* kSimulatedLibrary = "juxhid_sim.dll";

int32_t JUXHID_CALL ignoreReport(uint8_t*) { return 1; }
int32_t JUXHID_CALL ignoreError(intptr_t) { return 0; }

// Arguments no listed device can match, each function's expected answer, or
// none for the two that return nothing.
struct SafeCall {
    const char* name;
    std::vector<uint32_t> arguments;
    bool answers;
    int32_t expected;
};

std::vector<SafeCall> safeCalls(DeviceSummary* summaries, int32_t* count, uint8_t* buffer) {
    const auto pointer = [](const void* p) {
        return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
    };
    const uint32_t bad = static_cast<uint32_t>(-1);
    return {
        // A vendor id above 16 bits matches no device.
        {"EnumerateJUX", {0x10000u, pointer(summaries), pointer(count)}, true, JUXHID_LIST_NO_DEVICE},
        {"GetReadLength", {bad}, true, -1},
        {"GetWriteLength", {bad}, true, -1},
        {"SetupInterface", {bad}, true, JUXHID_OPEN_BAD_INDEX},
        {"CloseInterface", {bad}, false, 0},
        {"CleanupInterface", {bad}, false, 0},
        {"ReadData", {bad, pointer(buffer)}, true, JUXHID_READ_NOT_OPEN},
        {"ReadLast", {bad, pointer(buffer)}, true, JUXHID_LAST_NOT_OPEN},
        {"ClearBuffer", {bad}, true, JUXHID_CLEAR_NOT_OPEN},
        {"SetDataCallback",
         {bad, 1, pointer(reinterpret_cast<void*>(ignoreReport))},
         true,
         JUXHID_CALLBACK_NOT_OPEN},
        {"SetErrorCallback",
         {bad, pointer(reinterpret_cast<void*>(ignoreError))},
         true,
         JUXHID_CALLBACK_NOT_OPEN},
        {"WriteData", {bad, pointer(buffer)}, true, JUXHID_WRITE_NOT_OPEN},
        {"FastWrite", {bad, pointer(buffer)}, true, JUXHID_WRITE_NOT_OPEN},
    };
}

void expectBothNamesAtOneAddress(const LoadedLibrary& library,
                                 const std::vector<ExportedFunction>& functions) {
    for (const ExportedFunction& function : functions) {
        void* plain = library.address(function.name);
        void* decorated = library.address(function.decorated().c_str());
        EXPECT_NE(plain, nullptr) << function.name;
        EXPECT_EQ(decorated, plain) << function.decorated();
    }
}

void expectEachCalleePopsItsArguments(const LoadedLibrary& library) {
    DeviceSummary summaries[JUXHID_MAX_DEVICES]{};
    int32_t count = -7;
    uint8_t buffer[1024]{};
    for (const SafeCall& call : safeCalls(summaries, &count, buffer)) {
        for (const std::string& name :
             {std::string(call.name),
              "_" + std::string(call.name) + "@" + std::to_string(4 * call.arguments.size())}) {
            const void* function = library.address(name.c_str());
            ASSERT_NE(function, nullptr) << name;
            const ProbedCall probed = callAsStdcall(function, call.arguments.data(),
                                                    static_cast<uint32_t>(call.arguments.size()));
            EXPECT_EQ(probed.stackMoved, 0) << name << " did not pop exactly its arguments";
            if (call.answers) {
                EXPECT_EQ(static_cast<int32_t>(probed.result), call.expected) << name;
            }
        }
    }
    EXPECT_EQ(count, -7) << "a failed listing wrote the count";
}

// The probe itself must tell the conventions apart, or its zeros prove
// nothing.
extern "C" __attribute__((cdecl)) uint32_t addCallerCleans(uint32_t a, uint32_t b) { return a + b; }
extern "C" __attribute__((stdcall)) uint32_t addCalleeCleans(uint32_t a, uint32_t b) { return a + b; }

TEST(HostProgram, ProbeTellsCallerCleanupFromCalleeCleanup) {
    const uint32_t arguments[2] = {40, 2};
    const ProbedCall cdeclCall =
        callAsStdcall(reinterpret_cast<const void*>(addCallerCleans), arguments, 2);
    const ProbedCall stdcallCall =
        callAsStdcall(reinterpret_cast<const void*>(addCalleeCleans), arguments, 2);
    EXPECT_EQ(cdeclCall.result, 42u);
    EXPECT_EQ(cdeclCall.stackMoved, -8);
    EXPECT_EQ(stdcallCall.result, 42u);
    EXPECT_EQ(stdcallCall.stackMoved, 0);
}

TEST(HostProgram, FindsEveryLibraryFunctionUnderBothNames) {
    LoadedLibrary library(kLibrary);
    ASSERT_TRUE(library.loaded()) << "LoadLibraryA failed with " << GetLastError();
    expectBothNamesAtOneAddress(library, libraryFunctions());
}

TEST(HostProgram, EveryLibraryFunctionPopsItsOwnArguments) {
    LoadedLibrary library(kLibrary);
    ASSERT_TRUE(library.loaded()) << "LoadLibraryA failed with " << GetLastError();
    expectEachCalleePopsItsArguments(library);
}

TEST(HostProgram, SimulatedLibraryHasTheSameFunctionsAndItsOwn) {
    LoadedLibrary library(kSimulatedLibrary);
    ASSERT_TRUE(library.loaded()) << "LoadLibraryA failed with " << GetLastError();
    expectBothNamesAtOneAddress(library, libraryFunctions());
    expectEachCalleePopsItsArguments(library);
    for (const ExportedFunction& function : simulatedBusFunctions())
        EXPECT_NE(library.address(function.name), nullptr) << function.name;
}

// The simulated bus's functions, called with arguments that name nothing.
TEST(HostProgram, SimulatedBusFunctionsPopTheirOwnArguments) {
    LoadedLibrary library(kSimulatedLibrary);
    ASSERT_TRUE(library.loaded());
    char text[16];
    char caption[16];
    JuxsimCounts counts{};
    const auto pointer = [](const void* p) {
        return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
    };
    const uint32_t none = static_cast<uint32_t>(-1);
    const std::vector<std::pair<const char*, std::vector<uint32_t>>> calls = {
        {"juxsim_attach", {0}},
        {"juxsim_detach", {none}},
        {"juxsim_deliver", {none, 0, 0}},
        {"juxsim_take_output", {none, 0, 0, 0, 0}},
        {"juxsim_output_count", {none}},
        {"juxsim_set_write_delay", {none, 0}},
        {"juxsim_now_ns", {}},
        {"juxsim_fault_arm", {0}},
        {"juxsim_fault_fired", {none}},
        {"juxsim_fault_clear", {}},
        {"juxsim_counts", {pointer(&counts)}},
        {"juxsim_last_message_box", {pointer(text), sizeof(text), pointer(caption), sizeof(caption)}},
        {"juxsim_reset", {}},
    };
    ASSERT_EQ(calls.size(), simulatedBusFunctions().size());
    for (const auto& [name, arguments] : calls) {
        const ProbedCall probed = callAsStdcall(library.address(name), arguments.data(),
                                                static_cast<uint32_t>(arguments.size()));
        EXPECT_EQ(probed.stackMoved, 0) << name;
    }
}

// ---- A whole session through the simulated-bus DLL --------------------------------

std::atomic<int> reportsSeen{0};
std::atomic<uint8_t> lastSecondByte{0};
std::atomic<intptr_t> errorSeen{0};

int32_t JUXHID_CALL onReport(uint8_t* payload) {
    lastSecondByte = payload[0];
    reportsSeen.fetch_add(1);
    return 1;
}
int32_t JUXHID_CALL onError(intptr_t status) {
    errorSeen = status;
    return 0;
}

template <typename Condition>
bool eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

struct SimulatedApi {
    explicit SimulatedApi(const LoadedLibrary& library)
        : attach(library.get<decltype(&juxsim_attach)>("juxsim_attach")),
          detach(library.get<decltype(&juxsim_detach)>("juxsim_detach")),
          deliver(library.get<decltype(&juxsim_deliver)>("juxsim_deliver")),
          takeOutput(library.get<decltype(&juxsim_take_output)>("juxsim_take_output")),
          setWriteDelay(library.get<decltype(&juxsim_set_write_delay)>("juxsim_set_write_delay")),
          reset(library.get<decltype(&juxsim_reset)>("juxsim_reset")),
          enumerate(library.get<decltype(&EnumerateJUX)>("_EnumerateJUX@12")),
          readLength(library.get<decltype(&GetReadLength)>("_GetReadLength@4")),
          setup(library.get<decltype(&SetupInterface)>("_SetupInterface@4")),
          close(library.get<decltype(&CloseInterface)>("_CloseInterface@4")),
          readData(library.get<decltype(&ReadData)>("ReadData")),
          setDataCallback(library.get<decltype(&SetDataCallback)>("SetDataCallback")),
          setErrorCallback(library.get<decltype(&SetErrorCallback)>("_SetErrorCallback@8")),
          writeData(library.get<decltype(&WriteData)>("WriteData")) {}

    bool complete() const {
        return attach && detach && deliver && takeOutput && setWriteDelay && reset && enumerate &&
               readLength && setup && close && readData && setDataCallback && setErrorCallback &&
               writeData;
    }

    // Attaches one device of the test vendor and opens it at index 0.
    int32_t attachAndOpen(uint32_t inputLength, uint32_t outputLength) {
        JuxsimDeviceInfo info{kVendor, 0x0042, 0xFF00, 1, inputLength, outputLength, nullptr};
        device = attach(&info);
        DeviceSummary summaries[JUXHID_MAX_DEVICES]{};
        int32_t count = 0;
        const int32_t listed = enumerate(kVendor, summaries, &count);
        if (listed != JUXHID_OK) return listed;
        return setup(0);
    }

    static constexpr uint32_t kVendor = 0x1A2B;
    decltype(&juxsim_attach) attach;
    decltype(&juxsim_detach) detach;
    decltype(&juxsim_deliver) deliver;
    decltype(&juxsim_take_output) takeOutput;
    decltype(&juxsim_set_write_delay) setWriteDelay;
    decltype(&juxsim_reset) reset;
    decltype(&EnumerateJUX) enumerate;
    decltype(&GetReadLength) readLength;
    decltype(&SetupInterface) setup;
    decltype(&CloseInterface) close;
    decltype(&ReadData) readData;
    decltype(&SetDataCallback) setDataCallback;
    decltype(&SetErrorCallback) setErrorCallback;
    decltype(&WriteData) writeData;
    int32_t device = 0;
};

TEST(HostProgram, SessionThroughTheSimulatedLibraryCallsBackIntoTheHost) {
    LoadedLibrary library(kSimulatedLibrary);
    ASSERT_TRUE(library.loaded());
    SimulatedApi api(library);
    ASSERT_TRUE(api.complete());
    api.reset();
    reportsSeen = 0;
    errorSeen = 0;
    ASSERT_EQ(api.attachAndOpen(8, 8), JUXHID_OK);
    EXPECT_EQ(api.readLength(0), 8);
    ASSERT_EQ(api.setDataCallback(0, 1, onReport), JUXHID_OK);
    ASSERT_EQ(api.setErrorCallback(0, onError), JUXHID_OK);
    const uint8_t report[8] = {0, 0x5A, 2, 3, 4, 5, 6, 7};
    ASSERT_EQ(api.deliver(api.device, report, sizeof(report)), 1);
    EXPECT_TRUE(eventually([] { return reportsSeen.load() > 0; }));
    EXPECT_EQ(lastSecondByte.load(), 0x5A)
        << "the data callback must receive the report after its first byte";
    uint8_t polled[8]{};
    EXPECT_EQ(api.readData(0, polled), JUXHID_OK);
    EXPECT_EQ(std::memcmp(polled, report, sizeof(report)), 0);
    const uint8_t output[8] = {0, 9, 8, 7, 6, 5, 4, 3};
    EXPECT_EQ(api.writeData(0, output), JUXHID_OK);
    uint8_t written[8]{};
    uint32_t length = 0;
    uint64_t at = 0;
    ASSERT_EQ(api.takeOutput(api.device, written, sizeof(written), &length, &at), 1);
    EXPECT_EQ(length, 8u);
    EXPECT_EQ(std::memcmp(written, output, sizeof(output)), 0);
    ASSERT_EQ(api.detach(api.device), 0);
    EXPECT_TRUE(eventually([] { return errorSeen.load() != 0; }));
    EXPECT_EQ(errorSeen.load(), JUXHID_DEVICE_GONE_STATUS);
    api.close(0);
}

// ---- Unloading -----------------------------------------------------------------

// A pending or running tick keeps the DLL mapped after the host's
// FreeLibrary; the chain then ends on its own and the last tick's return
// unloads the library on the timer thread. A tick running in unmapped code,
// or an unload that hung, fails here.
TEST(HostProgram, FreedDuringAPacingChainTheLibraryUnloadsWhenTheChainEnds) {
    for (int round = 0; round < 6; ++round) {
        LoadedLibrary library(kSimulatedLibrary);
        ASSERT_TRUE(library.loaded());
        SimulatedApi api(library);
        ASSERT_TRUE(api.complete());
        api.reset();
        // Output only: no reader, so only the ticks hold the DLL.
        ASSERT_EQ(api.attachAndOpen(0, 4), JUXHID_OK);
        api.setWriteDelay(api.device, round % 2 == 0 ? 0 : 30);
        const uint8_t output[4] = {0, 1, 2, 3};
        for (int write = 0; write < 4; ++write) EXPECT_EQ(api.writeData(0, output), JUXHID_OK);
        std::this_thread::sleep_for(std::chrono::milliseconds(10 * round));
        library.unload();
        if (round == 0) {
            EXPECT_TRUE(library.stillMapped()) << "unmapped under a pending tick";
        }
        EXPECT_TRUE(eventually([&] { return !library.stillMapped(); })) << "round " << round;
    }
}

// A worker keeps the DLL mapped; when the last one leaves, the unload runs on
// its way out, under the loader lock, and must neither hang nor crash.
TEST(HostProgram, FreedWhileAReaderRunsTheLibraryUnloadsWhenTheReaderEnds) {
    LoadedLibrary library(kSimulatedLibrary);
    ASSERT_TRUE(library.loaded());
    SimulatedApi api(library);
    ASSERT_TRUE(api.complete());
    api.reset();
    errorSeen = 0;
    ASSERT_EQ(api.attachAndOpen(8, 8), JUXHID_OK);
    ASSERT_EQ(api.setErrorCallback(0, onError), JUXHID_OK);
    library.unload();
    ASSERT_TRUE(library.stillMapped()) << "unmapped under a running reader";
    // Still mapped, so still callable: unplugging ends the reader, which
    // brings the error callback and then the last reference's release.
    EXPECT_EQ(api.detach(api.device), 0);
    EXPECT_TRUE(eventually([] { return errorSeen.load() == JUXHID_DEVICE_GONE_STATUS; }));
    EXPECT_TRUE(eventually([&] { return !library.stillMapped(); }))
        << "the last worker's exit did not unload it";
}

TEST(HostProgram, ReloadedWhileAReaderHeldItTheLibraryKeepsItsState) {
    LoadedLibrary first(kSimulatedLibrary);
    ASSERT_TRUE(first.loaded());
    SimulatedApi api(first);
    ASSERT_TRUE(api.complete());
    api.reset();
    ASSERT_EQ(api.attachAndOpen(6, 0), JUXHID_OK);
    first.unload();
    LoadedLibrary second(kSimulatedLibrary);
    ASSERT_TRUE(second.loaded());
    SimulatedApi again(second);
    EXPECT_EQ(again.readLength(0), 6) << "reloading started the library over under a running reader";
    again.close(0);
    second.unload();
    EXPECT_TRUE(eventually([&] { return !second.stillMapped(); }));
}

}  // namespace
}  // namespace juxhid::test
