#define _GNU_SOURCE
#include "bkserial.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

static const char defaultDevice[] = "/dev/ttyUSB0";

static int line = -1;

static long long now_ms(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

// 1 when the line is ready for events, 0 after timeoutMs, -1 on hang-up or error.
static int wait_for(short events, int timeoutMs)
{
    const long long deadline = now_ms() + (timeoutMs > 0 ? timeoutMs : 0);
    for (;;) {
        long long left = deadline - now_ms();
        struct pollfd watched = {line, events, 0};
        int ready = poll(&watched, 1, left > 0 ? (int)left : 0);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return -1;
        if (ready == 0)
            return 0;
        // Bytes that came before a hang-up are still delivered.
        if (watched.revents & events)
            return 1;
        return -1;
    }
}

static int make_raw(int fd)
{
    struct termios mode;
    if (tcgetattr(fd, &mode) != 0)
        return -1;
    cfmakeraw(&mode);
    mode.c_cflag |= CLOCAL | CREAD;
    mode.c_cc[VMIN] = 0;
    mode.c_cc[VTIME] = 0;
    cfsetspeed(&mode, B115200);
    if (tcsetattr(fd, TCSANOW, &mode) != 0)
        return -1;
    return tcflush(fd, TCIOFLUSH);
}

int Open(void)
{
    if (line >= 0)
        return line;
    const char* device = getenv("BKSERIAL_DEVICE");
    if (device == NULL || *device == '\0')
        device = defaultDevice;
    int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (!isatty(fd) || make_raw(fd) != 0) {
        close(fd);
        return -1;
    }
    line = fd;
    return line;
}

int Close(int handle)
{
    if (line < 0 || handle != line)
        return -1;
    close(line);
    line = -1;
    return 0;
}

int IsOpen(void)
{
    return line >= 0;
}

int ReadData(struct _READ_DATA_INFO* info)
{
    if (info == NULL)
        return -1;
    info->count = 0;
    if (line < 0 || info->buffer == NULL || info->size < 0)
        return -1;
    if (info->size == 0)
        return 0;
    int ready = wait_for(POLLIN, info->timeoutMs);
    if (ready <= 0)
        return ready;
    ssize_t got = read(line, info->buffer, (size_t)info->size);
    if (got < 0 && (errno == EAGAIN || errno == EINTR))
        return 0;
    // End of file on a terminal means the other side has gone.
    if (got <= 0)
        return -1;
    info->count = (int)got;
    return info->count;
}

int SendData(struct _SEND_DATA_INFO* info)
{
    if (info == NULL)
        return -1;
    info->count = 0;
    if (line < 0 || info->buffer == NULL || info->size < 0)
        return -1;
    const long long deadline = now_ms() + (info->timeoutMs > 0 ? info->timeoutMs : 0);
    while (info->count < info->size) {
        ssize_t put = write(line, info->buffer + info->count, (size_t)(info->size - info->count));
        if (put > 0) {
            info->count += (int)put;
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EINTR)
            return -1;
        long long left = deadline - now_ms();
        if (left <= 0)
            break;
        int ready = wait_for(POLLOUT, (int)left);
        if (ready < 0)
            return -1;
    }
    return info->count;
}

int ReadDataWaiting(void)
{
    int waiting = 0;
    if (line < 0 || ioctl(line, FIONREAD, &waiting) != 0)
        return -1;
    return waiting;
}
