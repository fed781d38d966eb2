#include "stack_cost.h"

namespace juxhid::winekernel {
namespace {

const std::vector<std::string> kWineDevice{"winedevice.exe"};
const std::vector<std::string> kWineServer{"wineserver64", "wineserver"};

}  // namespace

bench::ProcessCost sampleWineDeviceCost() { return bench::sampleProcessesNamed(kWineDevice); }

uint32_t wineDeviceProcesses() {
    uint32_t processes = 0;
    bench::sampleProcessesNamed(kWineDevice, &processes);
    return processes;
}

bench::ProcessCost sampleServerByName() { return bench::sampleProcessesNamed(kWineServer); }

uint32_t wineServerProcesses() {
    uint32_t processes = 0;
    bench::sampleProcessesNamed(kWineServer, &processes);
    return processes;
}

}  // namespace juxhid::winekernel
