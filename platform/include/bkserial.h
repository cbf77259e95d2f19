#pragma once

// Boundary of the serial-link library "libbkserial.so". The updater never calls
// these functions; it only hands their addresses to the firmware-download library.

#ifdef __cplusplus
extern "C" {
#endif

struct _READ_DATA_INFO {
    unsigned char* buffer; // where the bytes go
    int size;              // room in buffer
    int timeoutMs;         // longest wait for the first byte
    int count;             // bytes actually read
};

struct _SEND_DATA_INFO {
    const unsigned char* buffer;
    int size;
    int count; // bytes actually written
};

// Each returns a negative value on failure.
int Open(void);
int Close(int handle);
int IsOpen(void);
int ReadData(struct _READ_DATA_INFO* info);
int SendData(struct _SEND_DATA_INFO* info);
int ReadDataWaiting(void);

#ifdef __cplusplus
}
#endif
