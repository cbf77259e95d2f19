#pragma once

// Boundary of the firmware-download library "lib6246.so". The record layouts are
// fixed: the closed library reads them by offset.

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "bkserial.h"

#ifdef __cplusplus
extern "C" {
#endif

struct _DOWNLOAD_INFO {
    char imageDir[256]; // NUL-terminated directory of the unpacked firmware files
    int32_t option;     // always 0
};

struct _PDLData {
    int32_t word0;
    int32_t word1;
    int32_t status;   // one of the status codes 0..30
    int32_t progress; // percentage for the progress bar
};

struct _IDownloadEvent {
    int (*onProgress)(struct _PDLData*);
    int (*open)(void);
    int (*close)(int);
    int (*isOpen)(void);
    int (*readData)(struct _READ_DATA_INFO*);
    int (*sendData)(struct _SEND_DATA_INFO*);
    int (*readDataWaiting)(void);
};

// Flashes the regular files below info->imageDir through the serial functions of
// events. Blocks until the flash has ended and reports only through
// events->onProgress, on the calling thread: the stages' codes with a rising
// progress, then 18 on success, or a failure code (19 to 29) followed by 17.
// The acknowledgement time-out per frame is LIB6246_ACK_TIMEOUT_MS milliseconds,
// 1500 when unset. Returns whether the flash succeeded.
bool setIde(struct _DOWNLOAD_INFO* info, struct _IDownloadEvent* events);

#ifdef __cplusplus
}

static_assert(sizeof(_DOWNLOAD_INFO) == 260);
static_assert(offsetof(_PDLData, status) == 8);
static_assert(offsetof(_PDLData, progress) == 12);
#endif
