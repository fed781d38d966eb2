// The scenarios of the fault sweep: one or more per exported function, and
// one per background thread (reader, callback worker, pacing tick). Each
// lists every kind of platform call it makes on its thread; the sweep proves
// the list complete.
#include <chrono>

#include "fault_sweep.h"
#include "frame/library_state.h"

namespace juxhid::test {

CallbackLog& callbackLog() {
    static CallbackLog log;
    return log;
}

int32_t JUXHID_CALL logData(uint8_t* bytes) {
    CallbackLog& log = callbackLog();
    // The callback sees the report without its first byte.
    const std::vector<uint8_t> expected = SweepBench::numbered(1, log.payload + 1);
    if (std::vector<uint8_t>(bytes, bytes + log.payload) != std::vector<uint8_t>(expected.begin() + 1, expected.end()))
        log.tornReports.fetch_add(1);
    log.dataCalls.fetch_add(1);
    return 1;
}

int32_t JUXHID_CALL logError(intptr_t status) {
    callbackLog().errorStatus = status;
    callbackLog().errorCalls.fetch_add(1);
    return 0;
}

namespace {

using Bench = SweepBench;
constexpr uint32_t kOtherVendor = 0x9999;

// ---- Kinds of calls, grouped as the library makes them ----------------------

std::vector<FaultKind> operator+(std::vector<FaultKind> a, const std::vector<FaultKind>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const std::vector<FaultKind> kListing = {
    failing(JUXSIM_CALL_LIST_OPEN),          failing(JUXSIM_CALL_LIST_INTERFACE, 31),
    failing(JUXSIM_CALL_LIST_INTERFACE, 259), failing(JUXSIM_CALL_DETAIL_SIZE, 31),
    failing(JUXSIM_CALL_DETAIL_FETCH, 31),   failing(JUXSIM_CALL_ALLOCATE),
    failing(JUXSIM_CALL_OPEN_QUERY, 5),      failing(JUXSIM_CALL_OPEN_QUERY, 2),
    failing(JUXSIM_CALL_ATTRIBUTES, 31),     failing(JUXSIM_CALL_PREPARSED, 31),
    failing(JUXSIM_CALL_CAPS)};

const std::vector<FaultKind> kLockUse = {lockWaitTimeout(), lockWaitFailure(),
                                         failing(JUXSIM_CALL_LOCK_RELEASE)};
const std::vector<FaultKind> kOpenRead = {
    failing(JUXSIM_CALL_OPEN_READ, 5), failing(JUXSIM_CALL_OPEN_READ, 2),
    failing(JUXSIM_CALL_OPEN_READ, 3), failing(JUXSIM_CALL_OPEN_READ, 31)};
const std::vector<FaultKind> kOpenWrite = {
    failing(JUXSIM_CALL_OPEN_WRITE, 5), failing(JUXSIM_CALL_OPEN_WRITE, 2),
    failing(JUXSIM_CALL_OPEN_WRITE, 3), failing(JUXSIM_CALL_OPEN_WRITE, 31)};
const std::vector<FaultKind> kInputSide = {failing(JUXSIM_CALL_LOCK_CREATE), failing(JUXSIM_CALL_SIGNAL_CREATE),
                                           failing(JUXSIM_CALL_THREAD_START)};
const std::vector<FaultKind> kDeviceWrite = {
    failing(JUXSIM_CALL_WRITE, 31), failing(JUXSIM_CALL_WRITE, 6), failing(JUXSIM_CALL_WRITE, 1167),
    shortTransfer(JUXSIM_CALL_WRITE, 3)};
const std::vector<FaultKind> kSchedule = {failing(JUXSIM_CALL_TIMER_SCHEDULE)};
const std::vector<FaultKind> kAllocate = {failing(JUXSIM_CALL_ALLOCATE)};
const std::vector<FaultKind> kDeviceRead = {
    failing(JUXSIM_CALL_READ, 31), failing(JUXSIM_CALL_READ, 1167), failing(JUXSIM_CALL_READ, 6),
    shortTransfer(JUXSIM_CALL_READ, 3)};

// ---- Shared steps ----------------------------------------------------------------

void listAndOpen(Bench& b, int32_t interfaces) {
    ASSERT_EQ(b.listDevices(), JUXHID_OK);
    for (int32_t i = 0; i < interfaces; ++i) ASSERT_EQ(SetupInterface(i), JUXHID_OK);
}

void openOne(Bench& b) {
    b.attachDevice(0x10);
    listAndOpen(b, 1);
}

void openOneWithAStoredReport(Bench& b) {
    openOne(b);
    ASSERT_TRUE(b.deliverAndWaitForStoredReport(0, 0, 1));
}

int32_t writeNumbered(int32_t index, uint32_t n) { return WriteData(index, Bench::numbered(n).data()); }
int32_t fastNumbered(int32_t index, uint32_t n) { return FastWrite(index, Bench::numbered(n).data()); }

// A write the queued path accepted answers what earlier background work
// left behind, possibly from an earlier run of the sweep.
bool acceptedIntoTheQueue(int32_t status) {
    return status == JUXHID_OK || status == JUXHID_WRITE_LOCK_TIMEOUT || status == JUXHID_WRITE_DEVICE_GONE ||
           status == JUXHID_WRITE_FAILED || status == JUXHID_WRITE_SHORT ||
           status == JUXHID_WRITE_SCHEDULE_FAILED || status == JUXHID_WRITE_TICK_RELEASE_FAILED;
}

bool waitForIdlePacing() {
    return eventually([] { return !state().pacingActive.load(); });
}

void readInto(Bench& b, Function function, int32_t(JUXHID_CALL* read)(int32_t, void*)) {
    uint8_t buffer[Bench::kLength];
    b.record(function, read(0, buffer));
}

// Takes what the reader stored until `wanted` reports came, the device is
// gone, or nothing more can come; the reports must be whole and in order.
void collectReports(Bench& b, uint32_t wanted) {
    uint32_t next = 1, got = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(600);
    while (got < wanted && std::chrono::steady_clock::now() < deadline) {
        uint8_t buffer[Bench::kLength];
        const int32_t status = ReadData(0, buffer);
        if (status == JUXHID_READ_EMPTY) {
            sleepMs(2);
            continue;
        }
        b.record(Function::ReadData, status);
        if (status != JUXHID_OK) break;
        while (next <= wanted && !Bench::isNumbered(buffer, next)) ++next;
        ASSERT_LE(next, wanted) << "a report came out torn, twice or out of order";
        ++next;
        ++got;
    }
}

// ---- The scenarios ------------------------------------------------------------------

std::vector<Scenario> buildScenarios() {
    std::vector<Scenario> all;

    all.push_back({"Listing", JUXSIM_THREAD_ARMING, kListing,
                   [](Bench& b) {
                       b.attachDevice(0x10);
                       b.attachDevice(0x20, 8, 8, kOtherVendor);
                       b.attachDevice(0x30, 0, 8);
                   },
                   [](Bench& b) {
                       b.record(Function::EnumerateJUX, b.listDevices());
                       for (int32_t i = 0; i < 3; ++i) {
                           b.record(Function::GetReadLength, GetReadLength(i));
                           b.record(Function::GetWriteLength, GetWriteLength(i));
                       }
                   },
                   true});

    // The caller is to close before listing again; a listing that finds an
    // interface still open closes it itself.
    all.push_back({"ListingOverOpenInterfaces", JUXSIM_THREAD_ARMING, kListing,
                   [](Bench& b) {
                       b.attachDevice(0x10);
                       b.attachDevice(0x20);
                       listAndOpen(b, 2);
                       ASSERT_EQ(writeNumbered(0, 1), JUXHID_OK);
                   },
                   [](Bench& b) { b.record(Function::EnumerateJUX, b.listDevices()); }, true});

    all.push_back({"Opening", JUXSIM_THREAD_ARMING, kAllocate + kInputSide + kOpenRead + kOpenWrite,
                   [](Bench& b) {
                       b.attachDevice(0x10);
                       ASSERT_EQ(b.listDevices(), JUXHID_OK);
                   },
                   [](Bench& b) { b.record(Function::SetupInterface, SetupInterface(0)); }, true});

    all.push_back({"ReopeningAnOpenInterface", JUXSIM_THREAD_ARMING,
                   kAllocate + kInputSide + kOpenRead + kOpenWrite,
                   [](Bench& b) {
                       openOne(b);
                       ASSERT_EQ(writeNumbered(0, 1), JUXHID_OK);
                       ASSERT_PRED1(acceptedIntoTheQueue, writeNumbered(0, 2));
                   },
                   [](Bench& b) { b.record(Function::SetupInterface, SetupInterface(0)); }, true});

    all.push_back({"OpeningAndWritingOutputOnly", JUXSIM_THREAD_ARMING,
                   kAllocate + kLockUse + kOpenWrite + kDeviceWrite + kSchedule,
                   [](Bench& b) {
                       b.attachDevice(0x10, 0, Bench::kLength);
                       ASSERT_EQ(b.listDevices(), JUXHID_OK);
                   },
                   [](Bench& b) {
                       b.record(Function::SetupInterface, SetupInterface(0));
                       b.record(Function::WriteData, writeNumbered(0, 1));
                   },
                   true});

    // Closing one interface while another still has a report queued: the
    // chain must go on for the other. Closing itself takes no lock and
    // schedules nothing; the write after it does its usual work.
    all.push_back({"Closing", JUXSIM_THREAD_ARMING, kLockUse,
                   [](Bench& b) {
                       b.attachDevice(0x10);
                       b.attachDevice(0x20);
                       listAndOpen(b, 2);
                       ASSERT_EQ(writeNumbered(0, 1), JUXHID_OK);
                       ASSERT_PRED1(acceptedIntoTheQueue, writeNumbered(1, 2));
                   },
                   [](Bench& b) {
                       CloseInterface(0);
                       b.record(Function::WriteData, writeNumbered(1, 3));
                   },
                   true});

    // A cleanup makes no call that can fail: it waits for a signal, ends
    // transfers and lets go of the opening.
    all.push_back({"CleanupAfterUnplug", JUXSIM_THREAD_ARMING, {},
                   [](Bench& b) {
                       openOne(b);
                       ASSERT_EQ(writeNumbered(0, 1), JUXHID_OK);
                       juxsim_detach(b.devices[0]);
                       uint8_t buffer[Bench::kLength];
                       ASSERT_TRUE(eventually([&] { return ReadData(0, buffer) == JUXHID_READ_DEVICE_GONE; }));
                   },
                   [](Bench& b) {
                       CleanupInterface(0);
                       readInto(b, Function::ReadData, ReadData);
                   },
                   true});

    all.push_back({"CleanupWhileAttached", JUXSIM_THREAD_ARMING, {},
                   [](Bench& b) { openOne(b); },
                   [](Bench& b) {
                       CleanupInterface(0);
                       readInto(b, Function::ReadData, ReadData);
                       readInto(b, Function::ReadLast, ReadLast);
                       b.record(Function::ClearBuffer, ClearBuffer(0));
                   },
                   false});

    all.push_back({"ReadData", JUXSIM_THREAD_ARMING, kLockUse, openOneWithAStoredReport,
                   [](Bench& b) {
                       readInto(b, Function::ReadData, ReadData);
                       readInto(b, Function::ReadData, ReadData);
                   },
                   true});

    all.push_back({"ReadLast", JUXSIM_THREAD_ARMING, kLockUse, openOneWithAStoredReport,
                   [](Bench& b) { readInto(b, Function::ReadLast, ReadLast); }, true});

    // Eleven looks at an empty ring, each under the lock.
    all.push_back({"ReadLastWaitingInVain", JUXSIM_THREAD_ARMING, {lockWaitTimeout(), failing(JUXSIM_CALL_LOCK_RELEASE)},
                   openOne, [](Bench& b) { readInto(b, Function::ReadLast, ReadLast); }, true});

    all.push_back({"ClearBuffer", JUXSIM_THREAD_ARMING, kLockUse, openOneWithAStoredReport,
                   [](Bench& b) {
                       b.record(Function::ClearBuffer, ClearBuffer(0));
                       readInto(b, Function::ReadData, ReadData);
                   },
                   true});

    all.push_back({"SetDataCallback", JUXSIM_THREAD_ARMING, kLockUse + kAllocate + std::vector<FaultKind>{failing(JUXSIM_CALL_THREAD_START)},
                   openOne,
                   [](Bench& b) {
                       b.record(Function::SetDataCallback, SetDataCallback(0, 1, logData));
                       b.record(Function::SetDataCallback, SetDataCallback(0, 2, logData));
                       b.record(Function::SetDataCallback, SetDataCallback(0, 0, nullptr));
                   },
                   true});

    all.push_back({"SetErrorCallback", JUXSIM_THREAD_ARMING, kLockUse + kAllocate + std::vector<FaultKind>{failing(JUXSIM_CALL_THREAD_START)},
                   openOne,
                   [](Bench& b) {
                       b.record(Function::SetErrorCallback, SetErrorCallback(0, logError));
                       b.record(Function::SetErrorCallback, SetErrorCallback(0, nullptr));
                   },
                   true});

    all.push_back({"WriteData", JUXSIM_THREAD_ARMING, kLockUse + kDeviceWrite + kSchedule, openOne,
                   [](Bench& b) {
                       b.record(Function::WriteData, writeNumbered(0, 1));
                       b.record(Function::WriteData, writeNumbered(0, 2));
                   },
                   true});

    all.push_back({"FastWrite", JUXSIM_THREAD_ARMING, kLockUse + kDeviceWrite + kSchedule, openOne,
                   [](Bench& b) {
                       b.record(Function::FastWrite, fastNumbered(0, 1));
                       b.record(Function::FastWrite, fastNumbered(0, 2));
                       b.record(Function::WriteData, writeNumbered(0, 3));
                       b.record(Function::FastWrite, fastNumbered(0, 4));
                   },
                   true});

    // The reader's own calls: the reads, and the lock around each store.
    all.push_back({"ReaderWorker", JUXSIM_THREAD_READER, kDeviceRead + kLockUse,
                   [](Bench& b) {
                       b.attachDevice(0x10);
                       ASSERT_EQ(b.listDevices(), JUXHID_OK);
                   },
                   [](Bench& b) {
                       b.record(Function::SetupInterface, SetupInterface(0));
                       b.deliverNumbered(0, 1);
                       b.deliverNumbered(0, 2);
                       collectReports(b, 2);
                   },
                   false});

    all.push_back({"CallbackWorker", JUXSIM_THREAD_CALLBACK, kLockUse,
                   [](Bench& b) {
                       openOne(b);
                       callbackLog().payload = Bench::kLength - 1;
                       ASSERT_EQ(SetDataCallback(0, 1, logData), JUXHID_OK);
                       ASSERT_EQ(SetErrorCallback(0, logError), JUXHID_OK);
                   },
                   [](Bench& b) {
                       b.deliverNumbered(0, 1);
                       eventually([] { return callbackLog().dataCalls.load() > 0; }, std::chrono::milliseconds(600));
                       juxsim_detach(b.devices[0]);
                       eventually([] { return callbackLog().errorCalls.load() > 0; }, std::chrono::milliseconds(600));
                       EXPECT_EQ(callbackLog().tornReports.load(), 0);
                       EXPECT_EQ(callbackLog().errorCalls.load(), 1);
                       EXPECT_EQ(callbackLog().errorStatus.load(), JUXHID_DEVICE_GONE_STATUS);
                   },
                   false});

    // Two chains: three slow writes, then a direct and a queued one that
    // reports what the first chain's ticks left behind.
    all.push_back({"PacingTick", JUXSIM_THREAD_TIMER, kLockUse + kDeviceWrite + kSchedule, openOne,
                   [](Bench& b) {
                       for (uint32_t n = 1; n <= 3; ++n) b.record(Function::WriteData, writeNumbered(0, n));
                       EXPECT_TRUE(waitForIdlePacing());
                       b.record(Function::WriteData, writeNumbered(0, 4));
                       b.record(Function::WriteData, writeNumbered(0, 5));
                       EXPECT_TRUE(waitForIdlePacing());
                   },
                   false});

    return all;
}

}  // namespace

const std::vector<Scenario>& sweepScenarios() {
    static const std::vector<Scenario> all = buildScenarios();
    return all;
}

}  // namespace juxhid::test
