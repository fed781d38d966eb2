/*
 * juxhid_sim.h - the simulated HID bus, exported only by the simulated-bus
 * library (juxhid_sim). Link it instead of the real library to develop and
 * test a host application without hardware: attach devices, deliver input
 * reports, take the output reports the library wrote, unplug devices, and
 * make any platform call the library relies on fail on purpose.
 *
 * All functions are thread-safe. Device ids are positive; 0 means "any".
 */
#ifndef JUXHID_SIM_H
#define JUXHID_SIM_H

#include "juxhid.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A device as the operating system would describe it. Report lengths count
 * the leading report-ID byte, as the platform reports them. */
typedef struct JuxsimDeviceInfo {
    uint32_t vendorId;           /* 16-bit */
    uint32_t productId;          /* 16-bit */
    uint32_t usagePage;          /* 16-bit */
    uint32_t usage;              /* 16-bit */
    uint32_t inputReportLength;  /* 0: no input reports */
    uint32_t outputReportLength; /* 0: no output reports */
    const char *path;            /* null: the bus makes one up; any length */
} JuxsimDeviceInfo;

/* Attaches a device at the end of the bus's list. Returns its id (> 0), or
 * -1 when info is null or describes what no HID device can be: an id, usage
 * page or usage above 0xFFFF, or a report length above 65535 bytes. */
JUXHID_API int32_t JUXHID_CALL juxsim_attach(const JuxsimDeviceInfo *info);

/* Unplugs a device: its pending and later reads and writes fail with 1167,
 * new opens fail with 2, and it leaves the list. Returns 0, or -1 for an
 * unknown id. */
JUXHID_API int32_t JUXHID_CALL juxsim_detach(int32_t device);

/* Delivers one input report of `length` bytes (0 is allowed; report may then
 * be null) to every open read handle of the device; a blocked read wakes at
 * once. A length other than the device's
 * input report length arrives as a short read. Each read handle buffers up
 * to 512 reports and drops its oldest beyond that, as an OS driver does.
 * Returns the number of read handles reached, or -1 for an unknown device. */
JUXHID_API int32_t JUXHID_CALL juxsim_deliver(int32_t device, const void *report,
                                              uint32_t length);

/* Takes the oldest output report the library wrote to the device. Copies at
 * most `capacity` bytes, stores the written length and the time of the write
 * (juxsim_now_ns clock). Returns 1 when one was taken, 0 when none is left,
 * -1 for an unknown device. */
JUXHID_API int32_t JUXHID_CALL juxsim_take_output(int32_t device, void *buffer, uint32_t capacity,
                                                  uint32_t *length, uint64_t *timestampNs);

/* Output reports written to the device and not taken yet, or -1. */
JUXHID_API int32_t JUXHID_CALL juxsim_output_count(int32_t device);

/* Makes every later write to the device block for `ms` milliseconds before
 * it completes (a slow device); JUXSIM_WRITE_STALL makes it block until the
 * library cancels it (closing the interface) or the device is unplugged (a
 * stalled device). A cancelled write fails with 995, an unplugged one with
 * 1167, and the device receives nothing. Returns 0, or -1 for an unknown
 * device. */
#define JUXSIM_WRITE_STALL 0xFFFFFFFFu
JUXHID_API int32_t JUXHID_CALL juxsim_set_write_delay(int32_t device, uint32_t ms);

/* A monotonic clock in nanoseconds, the one output timestamps use. */
JUXHID_API uint64_t JUXHID_CALL juxsim_now_ns(void);

/* ---- Fault injection ------------------------------------------------------ */

/* The platform calls that can be made to fail. */
typedef enum JuxsimCall {
    JUXSIM_CALL_LIST_OPEN = 1,   /* the list of present HID interfaces: no list */
    JUXSIM_CALL_LIST_INTERFACE,  /* one member of the list: error (259 is "no more") */
    JUXSIM_CALL_DETAIL_SIZE,     /* the size query of a member's path: error */
    JUXSIM_CALL_DETAIL_FETCH,    /* fetching a member's path: error */
    JUXSIM_CALL_OPEN_QUERY,      /* opening a device for its identity: error */
    JUXSIM_CALL_ATTRIBUTES,      /* vendor and product: error */
    JUXSIM_CALL_PREPARSED,       /* the device's report description: error */
    JUXSIM_CALL_CAPS,            /* capabilities: failure */
    JUXSIM_CALL_OPEN_READ,       /* opening for reading: error (5, 2, 3, other) */
    JUXSIM_CALL_OPEN_WRITE,      /* opening for writing: error */
    JUXSIM_CALL_READ,            /* one read: error, or a short count */
    JUXSIM_CALL_WRITE,           /* one write: error, or a short count */
    JUXSIM_CALL_LOCK_CREATE,     /* creating a lock: failure */
    JUXSIM_CALL_SIGNAL_CREATE,   /* creating a signal: failure */
    JUXSIM_CALL_THREAD_START,    /* starting a thread: failure */
    JUXSIM_CALL_LOCK_WAIT,       /* waiting for a lock: outcome 258 or -1 */
    JUXSIM_CALL_LOCK_RELEASE,    /* releasing a lock: failure (the lock IS released) */
    JUXSIM_CALL_TIMER_SCHEDULE,  /* scheduling a pacing tick: failure (id 0) */
    JUXSIM_CALL_ALLOCATE,        /* obtaining memory: failure */
    JUXSIM_CALL_END_
} JuxsimCall;

/* Which threads a fault hits. */
typedef enum JuxsimThread {
    JUXSIM_THREAD_ANY = 0,
    JUXSIM_THREAD_ARMING = 1,   /* the thread that called juxsim_fault_arm */
    JUXSIM_THREAD_READER = 2,   /* the library's reader threads */
    JUXSIM_THREAD_CALLBACK = 3, /* the library's callback threads */
    JUXSIM_THREAD_TIMER = 4     /* the platform's timer thread (pacing ticks) */
} JuxsimThread;

typedef struct JuxsimFault {
    int32_t call;   /* JuxsimCall */
    int32_t thread; /* JuxsimThread */
    int32_t device; /* device id the call concerns, or 0 for any (calls that
                       concern no device match only 0) */
    int32_t skip;   /* matching calls let through before the first failure */
    int32_t count;  /* matching calls that fail after the skip; -1: all */
    uint32_t error; /* error code the failing call reports (2, 3, 5, 6, 122,
                       259, 1167, ...); for JUXSIM_CALL_LOCK_WAIT the outcome,
                       258 or 0xFFFFFFFF (-1); for READ and WRITE 0 means "succeed
                       with shortCount bytes" */
    uint32_t shortCount;
} JuxsimFault;

/* Arms a fault. A failing call returns at once (a lock-wait time-out does not
 * wait). Returns a fault id (> 0), or -1 for a malformed fault. */
JUXHID_API int32_t JUXHID_CALL juxsim_fault_arm(const JuxsimFault *fault);

/* How many times the fault has fired so far, or -1 for an unknown id. */
JUXHID_API int32_t JUXHID_CALL juxsim_fault_fired(int32_t fault);

/* Disarms every fault. */
JUXHID_API void JUXHID_CALL juxsim_fault_clear(void);

/* ---- What is open --------------------------------------------------------- */

typedef struct JuxsimCounts {
    int32_t deviceLists; /* device lists not destroyed */
    int32_t handles;     /* device handles not closed */
    int32_t preparsed;   /* report descriptions not freed */
    int32_t locks;
    int32_t signals;
    int32_t threads;     /* threads still running or whose handle is not given back */
    int32_t timers;      /* pacing ticks scheduled, not cancelled, routine not yet returned */
    int32_t allocations; /* memory blocks not given back */
    int32_t messageBoxes;/* message boxes shown since the last reset */
} JuxsimCounts;

JUXHID_API void JUXHID_CALL juxsim_counts(JuxsimCounts *counts);

/* The text and caption of the last message box (empty strings if none). Each
 * buffer receives at most `capacity` bytes, NUL included. */
JUXHID_API void JUXHID_CALL juxsim_last_message_box(char *text, uint32_t textCapacity,
                                                    char *caption, uint32_t captionCapacity);

/* Detaches every device, disarms every fault, forgets output reports and the
 * message-box record. Objects the library still holds stay counted. */
JUXHID_API void JUXHID_CALL juxsim_reset(void);


/* ---- Replaying a recording -------------------------------------------------- */

/* A recording (the text `juxhid monitor --record FILE` writes; see
 * docs/simulated-bus.md) played back on the bus. */
typedef struct JuxsimReplay JuxsimReplay;

/* Reads the recording at `path`, attaches its device and starts a thread of
 * the bus that delivers its reports, as juxsim_deliver does, once the library
 * has opened the device (for reading and writing, as SetupInterface does; the
 * recorded times count from there): at the recorded times divided by
 * `speed` (1 as recorded, 2 twice as fast), or with `speed` 0 each as soon
 * as every read handle of the device has room for it. It ends with the
 * unplug when the recording has one. Returns the replay, or null when the
 * file is unreadable or not a recording or the speed is negative or not
 * finite (juxsim_replay_error tells why); then nothing was attached. */
JUXHID_API JuxsimReplay *JUXHID_CALL juxsim_replay_start(const char *path, double speed);

/* Why the calling thread's last juxsim_replay_start failed: copies the text
 * (at most `capacity` bytes, NUL included; "" after a start that worked) and
 * returns the line at fault, or 0 when the fault was not on one line. */
JUXHID_API int32_t JUXHID_CALL juxsim_replay_error(char *text, uint32_t capacity);

/* The id of the replay's device, or -1 for null. */
JUXHID_API int32_t JUXHID_CALL juxsim_replay_device(const JuxsimReplay *replay);

/* Reports delivered so far, or -1 for null. */
JUXHID_API int32_t JUXHID_CALL juxsim_replay_delivered(const JuxsimReplay *replay);

/* Waits up to `ms` milliseconds for the replay to end (every report
 * delivered and the unplug done, stopped, or its device unplugged by other
 * means). Returns 1 when it has ended, 0 when not yet, -1 for null. */
JUXHID_API int32_t JUXHID_CALL juxsim_replay_wait(JuxsimReplay *replay, uint32_t ms);

/* Ends the replay early and returns once its thread has ended. The device
 * stays attached as it is (juxsim_detach unplugs it). Harmless when ended. */
JUXHID_API void JUXHID_CALL juxsim_replay_stop(JuxsimReplay *replay);

/* Stops the replay if need be and frees it; null is ignored. Unloading the
 * library stops every replay not freed yet (its thread runs the library's
 * code); free them before the unload all the same, since freeing needs the
 * library. */
JUXHID_API void JUXHID_CALL juxsim_replay_free(JuxsimReplay *replay);

#ifdef __cplusplus
}
#endif

#endif /* JUXHID_SIM_H */
