/* A host program in plain C that links juxhid_sim.dll through its import
 * library, as a MinGW user links juxhid.dll: no LoadLibrary, no
 * GetProcAddress. It builds only if the import library names every function
 * the way a stdcall caller asks for it, and it runs right only if the calls
 * land on the functions with the arguments they were given.
 *
 * Exit status 0 when every step answered as expected; otherwise the failing
 * step is printed and the status is 1. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "juxhid.h"
#include "juxhid_status.h"
#include "juxhid_sim.h"

static int failures = 0;

static void expect(int condition, const char *step) {
    if (!condition) {
        fprintf(stderr, "linked client: %s\n", step);
        failures++;
    }
}

/* The reader thread takes the report in the background; give it a while. */
static int32_t read_within_two_seconds(int32_t index, uint8_t *buffer) {
    int32_t status = JUXHID_READ_EMPTY;
    int waited;
    for (waited = 0; waited < 2000 && status == JUXHID_READ_EMPTY; waited += 10) {
        status = ReadData(index, buffer);
        if (status == JUXHID_READ_EMPTY) Sleep(10);
    }
    return status;
}

static int32_t outputs_within_two_seconds(int32_t device) {
    int waited;
    for (waited = 0; waited < 2000 && juxsim_output_count(device) == 0; waited += 10) Sleep(10);
    return juxsim_output_count(device);
}

int main(void) {
    JuxsimDeviceInfo info = {0x1A2B, 0x0042, 0xFF00, 0x0001, 9, 9, NULL};
    DeviceSummary devices[JUXHID_MAX_DEVICES];
    int32_t count = 0;
    const uint8_t input[9] = {0, 1, 2, 3, 4, 5, 6, 7, 8};
    const uint8_t output[9] = {0, 9, 8, 7, 6, 5, 4, 3, 2};
    uint8_t buffer[9];
    uint32_t length = 0;
    uint64_t when = 0;
    int32_t device = juxsim_attach(&info);

    expect(device > 0, "attaching a simulated device");
    expect(EnumerateJUX(0x1A2B, devices, &count) == JUXHID_OK && count == 1, "listing one device");
    expect(devices[0].ProductID == 0x42 && devices[0].UsagePage == 0xFF00 &&
               devices[0].Usage == 1 && devices[0].Index == 0,
           "the listed device's summary");
    expect(GetReadLength(0) == 9 && GetWriteLength(0) == 9, "report lengths");
    expect(SetupInterface(0) == JUXHID_OK, "opening the interface");

    expect(juxsim_deliver(device, input, sizeof input) == 1, "delivering a report");
    memset(buffer, 0xEE, sizeof buffer);
    expect(read_within_two_seconds(0, buffer) == JUXHID_OK, "reading it back");
    expect(memcmp(buffer, input, sizeof input) == 0, "the report read equals the one delivered");

    expect(FastWrite(0, output) == JUXHID_OK, "sending an output report");
    expect(outputs_within_two_seconds(device) == 1, "the output report going out");
    expect(juxsim_take_output(device, buffer, sizeof buffer, &length, &when) == 1 && length == 9 &&
               memcmp(buffer, output, sizeof output) == 0,
           "the report written equals the one sent");

    /* Wrong arguments come back as codes, with the stack intact. */
    expect(ReadData(-1, buffer) == JUXHID_READ_NOT_OPEN, "reading a bad index");
    expect(GetReadLength(25) == -1 && GetWriteLength(INT32_MIN) == -1, "lengths of bad indices");

    CleanupInterface(0);
    juxsim_reset();
    if (failures == 0) printf("linked client: every call answered as expected\n");
    return failures == 0 ? 0 : 1;
}
