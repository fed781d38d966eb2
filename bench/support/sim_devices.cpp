#include "support/sim_devices.h"

#include <chrono>
#include <thread>

#include "frame/library_state.h"
#include "juxhid.h"
#include "juxhid_sim.h"
#include "juxhid_status.h"

namespace juxhid::bench {
namespace {

constexpr uint32_t kFirstProduct = 0x100;

}  // namespace

SimDevices::SimDevices(int32_t count, uint32_t inputLength, uint32_t outputLength)
    : inputLength_(inputLength), outputLength_(outputLength) {
    juxsim_reset();
    attachListAndOpen(count);
}

void SimDevices::attachListAndOpen(int32_t count) {
    std::vector<int32_t> byProduct;
    for (int32_t i = 0; i < count; ++i) {
        JuxsimDeviceInfo info{};
        info.vendorId = kBenchVendor;
        info.productId = kFirstProduct + static_cast<uint32_t>(i);
        info.usagePage = 0xFF00;
        info.usage = 1;
        info.inputReportLength = inputLength_;
        info.outputReportLength = outputLength_;
        byProduct.push_back(juxsim_attach(&info));
    }
    DeviceSummary listed[JUXHID_MAX_DEVICES]{};
    int32_t listedCount = 0;
    if (EnumerateJUX(kBenchVendor, listed, &listedCount) != JUXHID_OK || listedCount != count) {
        error_ = "listing the simulated devices failed";
        return;
    }
    busIds_.assign(static_cast<size_t>(count), 0);
    for (int32_t i = 0; i < listedCount; ++i) {
        const DeviceSummary& row = listed[i];
        busIds_[static_cast<size_t>(row.Index)] = byProduct[row.ProductID - kFirstProduct];
    }
    for (int32_t index = 0; index < count; ++index) {
        const int32_t status = SetupInterface(index);
        if (status != JUXHID_OK) {
            error_ = "SetupInterface(" + std::to_string(index) + ") answered " + std::to_string(status);
            return;
        }
    }
}

SimDevices::~SimDevices() {
    for (int32_t index = 0; index < JUXHID_MAX_DEVICES; ++index) CloseInterface(index);
    juxsim_reset();
}

AllocationProbe::AllocationProbe(Count count) {
    JuxsimCounts counts{};
    juxsim_counts(&counts);
    heldAtStart_ = counts.allocations;
    if (count == Count::HeldBlocks) return;
    JuxsimFault fault{};
    fault.call = JUXSIM_CALL_ALLOCATE;
    fault.thread = JUXSIM_THREAD_ANY;
    fault.count = -1;
    fault_ = juxsim_fault_arm(&fault);
}

AllocationProbe::Result AllocationProbe::finish() {
    if (finished_) return result_;
    finished_ = true;
    if (fault_ != 0) {
        result_.requests = fault_ > 0 ? juxsim_fault_fired(fault_) : -1;
        juxsim_fault_clear();
    }
    JuxsimCounts counts{};
    juxsim_counts(&counts);
    result_.heldChange = counts.allocations - heldAtStart_;
    return result_;
}

AllocationProbe::~AllocationProbe() { finish(); }

bool waitForPacingIdle(uint32_t limitMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (state().pacingActive.load()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

}  // namespace juxhid::bench
