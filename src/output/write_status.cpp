#include "output/write_status.h"

#include "juxhid_status.h"

namespace juxhid {

int32_t writeReport(platform::Device* device, const void* report, uint32_t length) {
    const platform::Transfer write = platform::deviceWrite(device, report, length);
    if (!write.ok) {
        return platform::transferMeansDeviceGone(write.error) ? JUXHID_WRITE_DEVICE_GONE
                                                              : JUXHID_WRITE_FAILED;
    }
    return write.count == length ? JUXHID_OK : JUXHID_WRITE_SHORT;
}

}  // namespace juxhid
