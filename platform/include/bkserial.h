#pragma once

// Boundary of the serial-link library "libbkserial.so". The updater never calls
// these functions; it only hands their addresses to the firmware-download library.
// The line is the device named by the environment variable BKSERIAL_DEVICE,
// "/dev/ttyUSB0" when it is unset, used in raw mode.

#ifdef __cplusplus
extern "C" {
#endif

struct _READ_DATA_INFO {
    unsigned char* buffer; // where the bytes go
    int size;              // room in buffer
    int timeoutMs;         // longest wait for the first byte; 0 only takes what is there
    int count;             // bytes actually read
};

struct _SEND_DATA_INFO {
    const unsigned char* buffer;
    int size;
    int timeoutMs; // longest wait for the line to take the bytes
    int count;     // bytes actually written
};

// Opens the line and returns its handle; while it is open, the same handle again.
// -1 when the device cannot be opened or is no terminal.
int Open(void);
// 0 when handle was the open line, now closed; -1 otherwise.
int Close(int handle);
// 1 while the line is open, 0 otherwise.
int IsOpen(void);
// Bytes read into info->buffer (also in info->count), 0 when none came in time,
// -1 when the line is not open, has hung up or failed.
int ReadData(struct _READ_DATA_INFO* info);
// Bytes written (also in info->count): info->size, or fewer when the line did not
// take them in time; -1 when the line is not open or failed.
int SendData(struct _SEND_DATA_INFO* info);
// Bytes ready to be read, -1 when the line is not open.
int ReadDataWaiting(void);

#ifdef __cplusplus
}
#endif
