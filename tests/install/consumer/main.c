/* A host application built against an installed JUXHID. Linked with the
 * simulated bus it attaches a device, lists it, opens it and sends a report
 * that must reach the device; linked with the real library it only checks
 * that the library answers before anything was listed. */
#include <stdio.h>
#include <string.h>

#include <juxhid.h>
#include <juxhid_status.h>
#ifdef CONSUMER_SIM
#include <juxhid_sim.h>
#endif

static int fail(const char *what, long got) {
    fprintf(stderr, "consumer: %s (got %ld)\n", what, got);
    return 1;
}

#ifdef CONSUMER_SIM
static int run(void) {
    JuxsimDeviceInfo info;
    DeviceSummary devices[JUXHID_MAX_DEVICES];
    int32_t count = 0, status, device;
    uint8_t report[8] = {0, 0x42};
    uint8_t received[8];
    uint32_t length = 0;
    uint64_t at = 0;

    memset(&info, 0, sizeof info);
    info.vendorId = 0x1A2B;
    info.productId = 7;
    info.inputReportLength = 8;
    info.outputReportLength = 8;
    device = juxsim_attach(&info);
    if (device <= 0) return fail("juxsim_attach", device);
    status = EnumerateJUX(0x1A2B, devices, &count);
    if (status != JUXHID_OK || count != 1) return fail("EnumerateJUX", status);
    if (devices[0].ProductID != 7) return fail("the listed product", (long)devices[0].ProductID);
    status = SetupInterface(0);
    if (status != JUXHID_OK) return fail("SetupInterface", status);
    status = WriteData(0, report);
    if (status != JUXHID_OK) return fail("WriteData", status);
    if (juxsim_take_output(device, received, sizeof received, &length, &at) != 1 || length != 8 ||
        received[1] != 0x42)
        return fail("the written report at the device", (long)length);
    CloseInterface(0);
    return 0;
}
#else
static int run(void) {
    if (GetReadLength(0) != -1) return fail("GetReadLength before listing", GetReadLength(0));
    return 0;
}
#endif

int main(void) {
    int result = run();
    if (result == 0) printf("consumer: ok\n");
    return result;
}
