/*
 * juxhid.h - the public interface of the JUXHID library.
 *
 * A host application lists the vendor's attached HID interfaces, opens one by
 * its index, collects its input reports (polled or through callbacks), and
 * sends output reports at once or through the paced queue.
 *
 * Every integer argument and result is 32 bits wide; pointers are as wide as
 * the platform's (4 bytes in a 32-bit process, 8 in a 64-bit one). On 32-bit
 * Windows the functions and the callbacks use the __stdcall convention;
 * elsewhere, 64-bit Windows included, the platform's default. The header compiles as C89 (with <stdint.h>) and C++.
 */
#ifndef JUXHID_H
#define JUXHID_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define JUXHID_CALL __stdcall
#else
#define JUXHID_CALL
#endif

/* Exports on Windows come from the library's .def file, so nothing is
 * decorated there; on ELF only the public names are visible. */
#if defined(JUXHID_BUILDING) && !defined(_WIN32)
#define JUXHID_API __attribute__((visibility("default")))
#else
#define JUXHID_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Most devices and interfaces the library lists and holds at once. */
#define JUXHID_MAX_DEVICES 25

/* One listed device, as EnumerateJUX writes it into the caller's array:
 * 16 bytes, no padding, host byte order. */
typedef struct DeviceSummary {
    uint32_t ProductID; /* 16-bit product identifier, zero-extended */
    uint32_t Usage;     /* usage of the top-level collection */
    uint32_t UsagePage; /* usage page of the top-level collection */
    int32_t Index;      /* the device index used by every other call */
} DeviceSummary;

/* C89 has no static_assert: a negative array size fails the build. */
typedef char juxhid_device_summary_is_16_bytes[(sizeof(DeviceSummary) == 16) ? 1 : -1];

/* Data callback: receives the newest input report without its first byte
 * (GetReadLength(index) - 1 bytes). The bytes belong to the library and are
 * valid during the call only. Returning 0 ends delivery for this opening. */
typedef int32_t(JUXHID_CALL *JuxhidDataCallback)(uint8_t *report);

/* Error callback: called once with 307 when the device is gone. Its result
 * is ignored. */
typedef int32_t(JUXHID_CALL *JuxhidErrorCallback)(intptr_t status);

/* Listing (status 0, 101, 102, 103; 104 for a null array or count). */
JUXHID_API int32_t JUXHID_CALL EnumerateJUX(uint32_t vendorId, DeviceSummary *devices,
                                            int32_t *count);
/* Report lengths in bytes (report-ID byte counted), or -1 for a bad index. */
JUXHID_API int32_t JUXHID_CALL GetReadLength(int32_t index);
JUXHID_API int32_t JUXHID_CALL GetWriteLength(int32_t index);

/* Opening (status 0, 201, 203..210) and closing. */
JUXHID_API int32_t JUXHID_CALL SetupInterface(int32_t index);
JUXHID_API void JUXHID_CALL CloseInterface(int32_t index);
JUXHID_API void JUXHID_CALL CleanupInterface(int32_t index);

/* Polled reads: the buffer holds GetReadLength(index) bytes. */
JUXHID_API int32_t JUXHID_CALL ReadData(int32_t index, void *buffer);
JUXHID_API int32_t JUXHID_CALL ReadLast(int32_t index, void *buffer);
JUXHID_API int32_t JUXHID_CALL ClearBuffer(int32_t index);

/* Callbacks: mode 0 none, 1 every wake-up, any other value changed-only. */
JUXHID_API int32_t JUXHID_CALL SetDataCallback(int32_t index, uint32_t mode,
                                               JuxhidDataCallback callback);
JUXHID_API int32_t JUXHID_CALL SetErrorCallback(int32_t index, JuxhidErrorCallback callback);

/* Output: the report holds GetWriteLength(index) bytes. */
JUXHID_API int32_t JUXHID_CALL WriteData(int32_t index, const void *report);
JUXHID_API int32_t JUXHID_CALL FastWrite(int32_t index, const void *report);

#ifdef __cplusplus
}
#endif

#endif /* JUXHID_H */
