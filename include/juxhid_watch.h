/*
 * juxhid_watch.h - being told when the vendor's HID interfaces come and go,
 * without listing them again.
 *
 * A watch calls the host back on a thread of its own with an "arrived" event
 * for each interface of the vendor that appears and a "removed" event for
 * each that goes. It never touches the device table or an open interface:
 * when an event says so, the host lists devices with EnumerateJUX from its
 * own thread, once it has closed its interfaces.
 *
 * The companion library juxhid_watch (libjuxhid_watch.so, juxhid_watch.dll)
 * carries these functions for real devices; the simulated-bus library
 * (juxhid_sim) carries them for simulated devices. Same conventions as
 * juxhid.h: 32-bit integers, __stdcall on 32-bit Windows.
 */
#ifndef JUXHID_WATCH_H
#define JUXHID_WATCH_H

#include "juxhid.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Watches that can run at once in one process (per library). */
#define JUXHID_MAX_WATCHES 16

/* Flags of StartDeviceWatch. */
#define JUXHID_WATCH_PRESENT 1u /* first an "arrived" for every interface already there */

/* JuxhidWatchEvent.Kind */
#define JUXHID_WATCH_ARRIVED 1
#define JUXHID_WATCH_REMOVED 2

/* One arrival or removal. A removal carries what its arrival carried. */
typedef struct JuxhidWatchEvent {
    int32_t Kind;                    /* JUXHID_WATCH_ARRIVED or JUXHID_WATCH_REMOVED */
    uint32_t VendorID;               /* 16-bit, zero-extended */
    uint32_t ProductID;              /* 16-bit, zero-extended */
    uint32_t UsagePage;              /* of the top-level collection */
    uint32_t Usage;                  /* of the top-level collection */
    uint32_t InputReportByteLength;  /* report-ID byte counted; 0: no input reports */
    uint32_t OutputReportByteLength; /* report-ID byte counted; 0: no output reports */
    const char *Path;                /* the interface's identity while it stays plugged in;
                                        valid during the call only */
} JuxhidWatchEvent;

/* Called on the watch's thread, one event at a time, with the context given
 * to StartDeviceWatch. It may call StartDeviceWatch, StopDeviceWatch (its
 * own watch included), the simulated bus's functions, and the thirteen
 * functions as any host thread may, except EnumerateJUX: listing must not run
 * beside other calls, so a host lists from its own thread when told to. */
typedef void(JUXHID_CALL *JuxhidWatchCallback)(const JuxhidWatchEvent *event, void *context);

/* Starts watching the interfaces whose vendor id equals `vendorId` (a value
 * above 0xFFFF matches none). Writes the watch's id (> 0) into *watch only
 * when it returns 0. Status: 0, 801 to 804. */
JUXHID_API int32_t JUXHID_CALL StartDeviceWatch(uint32_t vendorId, uint32_t flags,
                                                JuxhidWatchCallback callback, void *context,
                                                int32_t *watch);

/* Stops a watch: no callback of it starts after this returns, and with 0
 * none is still running (unless called from inside one of its callbacks,
 * which then is its last). Waits at most about 500 ms for a callback that
 * runs. Status: 0, 805, 806. */
JUXHID_API int32_t JUXHID_CALL StopDeviceWatch(int32_t watch);

#ifdef __cplusplus
}
#endif

#endif /* JUXHID_WATCH_H */
