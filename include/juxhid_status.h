/*
 * juxhid_status.h - every status code the library returns, with its name and
 * a short meaning. This table is the one source for the library, the tool, the
 * bindings' messages and the docs.
 *
 * Each exported function has its own hundred (1xx listing, 2xx opening, 3xx
 * ReadData plus 2999/3258/3999, 4xx writes, 5xx ReadLast, 6xx ClearBuffer,
 * 7xx callback setters, 8xx device watches); 0 is success everywhere.
 */
#ifndef JUXHID_STATUS_H
#define JUXHID_STATUS_H

/* X(name, code, meaning) */
#define JUXHID_STATUS_TABLE(X)                                                                  \
    X(JUXHID_OK, 0, "success")                                                                  \
    X(JUXHID_LIST_NO_DEVICE_LIST, 101, "the platform gave no list of present HID interfaces")  \
    X(JUXHID_LIST_NO_DEVICE, 102, "no attached device of that vendor")                         \
    X(JUXHID_LIST_WALK_FAILED, 103, "walking the device list failed; earlier rows stay valid") \
    X(JUXHID_LIST_BAD_POINTER, 104, "the device array or count pointer is null")               \
    X(JUXHID_OPEN_BAD_INDEX, 201, "no listed device has that index")                           \
    X(JUXHID_OPEN_NO_SYNC_OBJECTS, 203, "the lock or the signals could not be created")        \
    X(JUXHID_OPEN_NO_READER, 204, "the reader thread could not be started")                    \
    X(JUXHID_OPEN_READ_FAILED, 205, "opening the device for reading failed")                   \
    X(JUXHID_OPEN_READ_DENIED, 206, "opening the device for reading was denied")               \
    X(JUXHID_OPEN_READ_NOT_FOUND, 207, "the device to read from was not found")                \
    X(JUXHID_OPEN_WRITE_FAILED, 208, "opening the device for writing failed")                  \
    X(JUXHID_OPEN_WRITE_DENIED, 209, "opening the device for writing was denied")              \
    X(JUXHID_OPEN_WRITE_NOT_FOUND, 210, "the device to write to was not found")                \
    X(JUXHID_OPEN_UNLOADING, 211, "the library is being unloaded; nothing is opened")          \
    X(JUXHID_OPEN_IN_PROGRESS, 212, "another SetupInterface on this index is opening it")      \
    X(JUXHID_READ_NOT_OPEN, 301, "bad index, or the interface is not open")                    \
    X(JUXHID_READ_NO_INPUT, 302, "the device has no input reports")                            \
    X(JUXHID_READ_BAD_POINTER, 303, "the buffer pointer is null")                              \
    X(JUXHID_READ_EMPTY, 304, "no unread report")                                               \
    X(JUXHID_READ_EMPTY_RELEASE_FAILED, 305, "no unread report; releasing the lock failed")     \
    X(JUXHID_READ_RELEASE_FAILED, 306, "report taken; releasing the lock failed")               \
    X(JUXHID_READ_DEVICE_GONE, 307, "the device is gone and no unread report is left")          \
    X(JUXHID_READ_LOCK_FAILED, 2999, "waiting for the interface's lock failed")                 \
    X(JUXHID_READ_LOCK_TIMEOUT, 3258, "the interface's lock was busy for 500 ms")               \
    X(JUXHID_READ_NO_LOCK, 3999, "the interface has no lock (cleaned up while attached)")       \
    X(JUXHID_WRITE_NOT_OPEN, 401, "bad index, or the interface is not open for writing")        \
    X(JUXHID_WRITE_NO_OUTPUT, 402, "the device has no output reports")                          \
    X(JUXHID_WRITE_BAD_POINTER, 403, "the report pointer is null")                              \
    X(JUXHID_WRITE_LOCK_TIMEOUT, 405, "the write lock was busy (250 ms writer, 400 ms tick)")   \
    X(JUXHID_WRITE_RELEASE_FAILED, 406, "releasing the write lock failed")                      \
    X(JUXHID_WRITE_DEVICE_GONE, 407, "the device is gone")                                      \
    X(JUXHID_WRITE_FAILED, 409, "the device write failed")                                      \
    X(JUXHID_WRITE_SHORT, 410, "the device wrote fewer or more bytes than the report")          \
    X(JUXHID_WRITE_SCHEDULE_FAILED, 411, "the next pacing tick could not be scheduled")         \
    X(JUXHID_WRITE_TICK_RELEASE_FAILED, 412, "a pacing tick could not release the write lock")  \
    X(JUXHID_WRITE_QUEUE_FULL, 413, "this interface's write queue holds 128 reports")           \
    X(JUXHID_WRITE_SLOW_CHAIN, 414, "a slow pacing chain runs; FastWrite refused")              \
    X(JUXHID_WRITE_UNLOADING, 415, "the library is being unloaded; nothing is written")         \
    X(JUXHID_LAST_NOT_OPEN, 501, "bad index, or the interface is not open")                     \
    X(JUXHID_LAST_NO_INPUT, 502, "the device has no input reports")                             \
    X(JUXHID_LAST_LOCK_FAILED, 503, "the interface's lock was not acquired within 500 ms")      \
    X(JUXHID_LAST_NO_REPORT, 504, "no report arrived within about 500 ms")                      \
    X(JUXHID_LAST_BAD_POINTER, 505, "the buffer pointer is null")                               \
    X(JUXHID_LAST_RELEASE_FAILED, 506, "releasing the interface's lock failed")                 \
    X(JUXHID_LAST_DEVICE_GONE, 507, "the device is gone")                                       \
    X(JUXHID_CLEAR_NOT_OPEN, 601, "bad index, or the interface has no lock")                    \
    X(JUXHID_CLEAR_RELEASE_FAILED, 602, "ring emptied; releasing the lock failed")              \
    X(JUXHID_CLEAR_LOCK_FAILED, 603, "the interface's lock was not acquired within 500 ms")     \
    X(JUXHID_CALLBACK_NOT_OPEN, 701, "bad index, or the interface has no input side open")      \
    X(JUXHID_CALLBACK_LOCK_FAILED, 703, "the interface's lock was not acquired within 500 ms")  \
    X(JUXHID_CALLBACK_NO_WORKER, 704, "the callback thread could not be started")               \
    X(JUXHID_CALLBACK_RELEASE_FAILED, 705, "releasing the interface's lock failed")             \
    X(JUXHID_CALLBACK_UNLOADING, 706, "the library is being unloaded; nothing is changed") \
    X(JUXHID_WATCH_BAD_ARGUMENT, 801, "the callback or the id pointer is null, or a flag is unknown") \
    X(JUXHID_WATCH_TOO_MANY, 802, "16 watches run already")                                     \
    X(JUXHID_WATCH_NO_THREAD, 803, "the watch's thread or its start signal could not be created") \
    X(JUXHID_WATCH_NO_EVENTS, 804, "the platform gave no arrival and removal events")          \
    X(JUXHID_WATCH_NOT_RUNNING, 805, "no running watch has that id")                            \
    X(JUXHID_WATCH_CALLBACK_RUNNING, 806, "a callback still ran after 500 ms; it is the watch's last")

#define JUXHID_STATUS_ENUM_ITEM(name, code, meaning) name = code,
enum JuxhidStatus { JUXHID_STATUS_TABLE(JUXHID_STATUS_ENUM_ITEM) JUXHID_STATUS_END_ };
#undef JUXHID_STATUS_ENUM_ITEM

/* The status sent to the error callback when the device is gone. */
#define JUXHID_DEVICE_GONE_STATUS 307

#endif /* JUXHID_STATUS_H */
