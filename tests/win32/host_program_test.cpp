// A host program's view of the DLLs: it loads them with LoadLibraryA,
// resolves every function with GetProcAddress by the names its architecture
// exports (on 32-bit Windows the plain and the decorated name, on 64-bit
// Windows the plain name only), and calls each by address with
// pointer-width arguments. On 32-bit Windows it also checks that each callee
// pops exactly its own arguments, as stdcall requires. The simulated-bus DLL
// then carries a whole session, callbacks into the host included.
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
#include "host_call.h"

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
    std::vector<uintptr_t> arguments;
    bool answers;
    int32_t expected;
};

std::vector<SafeCall> safeCalls(DeviceSummary* summaries, int32_t* count, uint8_t* buffer) {
    const auto pointer = [](const void* p) { return reinterpret_cast<uintptr_t>(p); };
    // All bits set: -1 in the 32-bit index the callee reads.
    const uintptr_t bad = static_cast<uintptr_t>(-1);
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

// 32-bit Windows: the plain and the decorated name lead to one address.
// 64-bit Windows has no decorated names, so none may be exported.
void expectTheNamesOfThisArchitecture(const LoadedLibrary& library,
                                      const std::vector<ExportedFunction>& functions) {
    for (const ExportedFunction& function : functions) {
        void* plain = library.address(function.name);
        void* decorated = library.address(function.decorated().c_str());
        EXPECT_NE(plain, nullptr) << function.name;
        if (kStdcallPlatform) {
            EXPECT_EQ(decorated, plain) << function.decorated();
        } else {
            EXPECT_EQ(decorated, nullptr) << function.decorated() << " exported on 64-bit Windows";
        }
    }
}

// The names a host may call a function by on this architecture.
std::vector<std::string> namesOf(const SafeCall& call) {
    std::vector<std::string> names = {call.name};
    if (kStdcallPlatform)
        names.push_back(decoratedName(call.name, static_cast<uint32_t>(4 * call.arguments.size())));
    return names;
}

// Each callee answers what its arguments call for and, on 32-bit Windows,
// pops exactly its own arguments.
void expectEachCallAnswersInTheHostConvention(const LoadedLibrary& library) {
    DeviceSummary summaries[JUXHID_MAX_DEVICES]{};
    int32_t count = -7;
    uint8_t buffer[1024]{};
    for (const SafeCall& call : safeCalls(summaries, &count, buffer)) {
        for (const std::string& name : namesOf(call)) {
            const void* function = library.address(name.c_str());
            ASSERT_NE(function, nullptr) << name;
            const HostCall made = callExport(function, call.arguments.data(),
                                             static_cast<uint32_t>(call.arguments.size()));
            if (kStdcallPlatform) {
                EXPECT_EQ(made.stackMoved, 0) << name << " did not pop exactly its arguments";
            }
            if (call.answers) {
                EXPECT_EQ(static_cast<int32_t>(made.result), call.expected) << name;
            }
        }
    }
    EXPECT_EQ(count, -7) << "a failed listing wrote the count";
}

#if defined(__i386__)
// The stack measurement must tell the conventions apart, or its zeros prove
// nothing.
extern "C" __attribute__((cdecl)) uint32_t addCallerCleans(uint32_t a, uint32_t b) { return a + b; }
extern "C" __attribute__((stdcall)) uint32_t addCalleeCleans(uint32_t a, uint32_t b) { return a + b; }

TEST(HostProgram, StackMeasureTellsCallerCleanupFromCalleeCleanup) {
    const uintptr_t arguments[2] = {40, 2};
    const HostCall cdeclCall = callExport(reinterpret_cast<const void*>(addCallerCleans), arguments, 2);
    const HostCall stdcallCall =
        callExport(reinterpret_cast<const void*>(addCalleeCleans), arguments, 2);
    EXPECT_EQ(cdeclCall.result, 42u);
    EXPECT_EQ(cdeclCall.stackMoved, -8);
    EXPECT_EQ(stdcallCall.result, 42u);
    EXPECT_EQ(stdcallCall.stackMoved, 0);
}
#endif

TEST(HostProgram, FindsEveryLibraryFunctionUnderTheNamesOfItsArchitecture) {
    LoadedLibrary library(kLibrary);
    ASSERT_TRUE(library.loaded()) << "LoadLibraryA failed with " << GetLastError();
    expectTheNamesOfThisArchitecture(library, libraryFunctions());
}

TEST(HostProgram, EveryLibraryFunctionAnswersInTheHostConvention) {
    LoadedLibrary library(kLibrary);
    ASSERT_TRUE(library.loaded()) << "LoadLibraryA failed with " << GetLastError();
    expectEachCallAnswersInTheHostConvention(library);
}

TEST(HostProgram, SimulatedLibraryHasTheSameFunctionsAndItsOwn) {
    LoadedLibrary library(kSimulatedLibrary);
    ASSERT_TRUE(library.loaded()) << "LoadLibraryA failed with " << GetLastError();
    expectTheNamesOfThisArchitecture(library, libraryFunctions());
    expectEachCallAnswersInTheHostConvention(library);
    for (const ExportedFunction& function : simulatedBusFunctions())
        EXPECT_NE(library.address(function.name), nullptr) << function.name;
}

// The simulated bus's functions, called by address with arguments that name
// nothing: those with a result refuse (-1), and on 32-bit Windows each pops
// exactly its own arguments.
TEST(HostProgram, SimulatedBusFunctionsAnswerInTheHostConvention) {
    LoadedLibrary library(kSimulatedLibrary);
    ASSERT_TRUE(library.loaded());
    char text[16];
    char caption[16];
    JuxsimCounts counts{};
    const auto pointer = [](const void* p) { return reinterpret_cast<uintptr_t>(p); };
    const uintptr_t none = static_cast<uintptr_t>(-1);
    struct BusCall {
        const char* name;
        std::vector<uintptr_t> arguments;
        bool refuses;
    };
    const std::vector<BusCall> calls = {
        {"juxsim_attach", {0}, true},
        {"juxsim_detach", {none}, true},
        {"juxsim_deliver", {none, 0, 0}, true},
        {"juxsim_take_output", {none, 0, 0, 0, 0}, true},
        {"juxsim_output_count", {none}, true},
        {"juxsim_set_write_delay", {none, 0}, true},
        {"juxsim_now_ns", {}, false},
        {"juxsim_fault_arm", {0}, true},
        {"juxsim_fault_fired", {none}, true},
        {"juxsim_fault_clear", {}, false},
        {"juxsim_counts", {pointer(&counts)}, false},
        {"juxsim_last_message_box", {pointer(text), sizeof(text), pointer(caption), sizeof(caption)}, false},
        {"juxsim_reset", {}, false},
        {"juxsim_replay_start", {0, 0, 0}, false},  // null: a null path is unreadable
        {"juxsim_replay_error", {pointer(text), sizeof(text)}, false},
        {"juxsim_replay_device", {0}, true},
        {"juxsim_replay_delivered", {0}, true},
        {"juxsim_replay_wait", {0, 0}, true},
        {"juxsim_replay_stop", {0}, false},
        {"juxsim_replay_free", {0}, false},
    };
    ASSERT_EQ(calls.size(), simulatedBusFunctions().size());
    for (const BusCall& call : calls) {
        const void* function = library.address(call.name);
        ASSERT_NE(function, nullptr) << call.name;
        const HostCall made =
            callExport(function, call.arguments.data(), static_cast<uint32_t>(call.arguments.size()));
        if (kStdcallPlatform) {
            EXPECT_EQ(made.stackMoved, 0) << call.name;
        }
        if (call.refuses) {
            EXPECT_EQ(static_cast<int32_t>(made.result), -1) << call.name;
        }
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

// Some functions by the decorated name a 32-bit host's tools use, the rest
// by the plain name; 64-bit Windows has only the plain one.
const char* asHostNames(const char* plain, const char* decorated) {
    return kStdcallPlatform ? decorated : plain;
}

struct SimulatedApi {
    explicit SimulatedApi(const LoadedLibrary& library)
        : attach(library.get<decltype(&juxsim_attach)>("juxsim_attach")),
          detach(library.get<decltype(&juxsim_detach)>("juxsim_detach")),
          deliver(library.get<decltype(&juxsim_deliver)>("juxsim_deliver")),
          takeOutput(library.get<decltype(&juxsim_take_output)>("juxsim_take_output")),
          setWriteDelay(library.get<decltype(&juxsim_set_write_delay)>("juxsim_set_write_delay")),
          reset(library.get<decltype(&juxsim_reset)>("juxsim_reset")),
          enumerate(library.get<decltype(&EnumerateJUX)>(asHostNames("EnumerateJUX", "_EnumerateJUX@12"))),
          readLength(library.get<decltype(&GetReadLength)>(asHostNames("GetReadLength", "_GetReadLength@4"))),
          setup(library.get<decltype(&SetupInterface)>(asHostNames("SetupInterface", "_SetupInterface@4"))),
          close(library.get<decltype(&CloseInterface)>(asHostNames("CloseInterface", "_CloseInterface@4"))),
          readData(library.get<decltype(&ReadData)>("ReadData")),
          setDataCallback(library.get<decltype(&SetDataCallback)>("SetDataCallback")),
          setErrorCallback(library.get<decltype(&SetErrorCallback)>(asHostNames("SetErrorCallback", "_SetErrorCallback@8"))),
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

#if defined(_WIN64)
// Host memory above 4 GiB, where every bit of a pointer counts: a pointer
// cut to 32 bits anywhere between host and library would miss it.
class HighMemory {
public:
    explicit HighMemory(size_t bytes)
        : base_(static_cast<uint8_t*>(
              VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT | MEM_TOP_DOWN, PAGE_READWRITE))) {}
    ~HighMemory() {
        if (base_ != nullptr) VirtualFree(base_, 0, MEM_RELEASE);
    }
    HighMemory(const HighMemory&) = delete;
    HighMemory& operator=(const HighMemory&) = delete;

    uint8_t* at(size_t offset) const { return base_ + offset; }
    bool aboveFourGiB() const { return reinterpret_cast<uintptr_t>(base_) > 0xFFFFFFFFu; }

private:
    uint8_t* base_;
};

TEST(HostProgram, BuffersAboveFourGiBReachTheLibraryWhole) {
    HighMemory memory(4096);
    ASSERT_TRUE(memory.aboveFourGiB()) << "top-down memory at " << static_cast<void*>(memory.at(0));
    LoadedLibrary library(kSimulatedLibrary);
    ASSERT_TRUE(library.loaded());
    SimulatedApi api(library);
    ASSERT_TRUE(api.complete());
    api.reset();
    JuxsimDeviceInfo info{SimulatedApi::kVendor, 0x0042, 0xFF00, 1, 8, 8, nullptr};
    api.device = api.attach(&info);
    auto* summaries = reinterpret_cast<DeviceSummary*>(memory.at(0));
    auto* count = reinterpret_cast<int32_t*>(memory.at(512));
    *count = -7;
    ASSERT_EQ(api.enumerate(SimulatedApi::kVendor, summaries, count), JUXHID_OK);
    EXPECT_EQ(*count, 1);
    EXPECT_EQ(summaries[0].ProductID, 0x42u);
    ASSERT_EQ(api.setup(0), JUXHID_OK);

    uint8_t* report = memory.at(1024);
    uint8_t* polled = memory.at(2048);
    uint8_t* output = memory.at(3072);
    for (uint8_t at = 0; at < 8; ++at) {
        report[at] = static_cast<uint8_t>(0x10 + at);
        output[at] = static_cast<uint8_t>(0x80 + at);
    }
    ASSERT_EQ(api.deliver(api.device, report, 8), 1);
    EXPECT_TRUE(eventually([&] { return api.readData(0, polled) == JUXHID_OK; }));
    EXPECT_EQ(std::memcmp(polled, report, 8), 0);
    EXPECT_EQ(api.writeData(0, output), JUXHID_OK);
    // Sent at once, or queued behind a pacing tick an earlier test left.
    uint8_t written[8]{};
    uint32_t length = 0;
    uint64_t sentAt = 0;
    EXPECT_TRUE(eventually(
        [&] { return api.takeOutput(api.device, written, sizeof(written), &length, &sentAt) == 1; }));
    EXPECT_EQ(std::memcmp(written, output, 8), 0);
    api.close(0);
}
#endif

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
