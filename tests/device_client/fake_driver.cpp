// SPDX-License-Identifier: MIT
// A stand-in for the qvx_device driver, linked into devpoke in place of
// open, ioctl and close (ld --wrap), so that its conversations with the
// driver run on any machine. It keeps one value like the driver and logs in
// the driver's words to the file named by QVX_FAKE_LOG. Like the driver it
// takes the value from the first four bytes and puts it there; unlike the
// driver it moves all the bytes each command announces: devpoke's buffers
// must hold them, a write must carry nothing but the value (the other bytes
// zero), and a read fills the others with a pattern that devpoke must not
// take for part of the value.
// QVX_FAKE=absent makes the device missing, QVX_FAKE=refuse_reads refuses
// every read with EPERM.
#include "qvx_device.h"

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>

extern "C" {
int __real_open(const char *path, int flags, ...);
int __real_ioctl(int fd, unsigned long request, ...);
int __real_close(int fd);
}

namespace {

int device = -1;
int32_t value = 0;

bool mode(const char *m) {
    const char *set = std::getenv("QVX_FAKE");
    return set != nullptr && std::strcmp(set, m) == 0;
}

void note(const char *fmt, ...) {
    FILE *f = std::fopen(std::getenv("QVX_FAKE_LOG"), "a");
    if (f == nullptr)
        std::abort();
    std::fputs("qvx_device: ", f);
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(f, fmt, ap);
    va_end(ap);
    std::fclose(f);
}

} // namespace

extern "C" int __wrap_open(const char *path, int flags, ...) {
    if (std::strcmp(path, QVX_DEVICE_PATH) != 0 || mode("absent") || flags != O_RDWR) {
        errno = ENOENT;
        return -1;
    }
    device = __real_open("/dev/null", O_RDWR);
    return device;
}

extern "C" int __wrap_ioctl(int fd, unsigned long request, void *arg) {
    if (fd != device)
        return __real_ioctl(fd, request, arg);
    unsigned char buf[8];
    static_assert(_IOC_SIZE(WRITE_VALUE_CMD) == sizeof buf &&
                  _IOC_SIZE(READ_VALUE_CMD) == sizeof buf);
    const unsigned char zeros[sizeof buf - sizeof value] = {};
    switch (request) {
    case WRITE_VALUE_CMD:
        std::memcpy(buf, arg, sizeof buf);
        std::memcpy(&value, buf, sizeof value);
        note("write %d%s\n", value,
             std::memcmp(buf + sizeof value, zeros, sizeof zeros) ? " and other bytes" : "");
        return 0;
    case READ_VALUE_CMD:
        if (mode("refuse_reads")) {
            note("read refused\n");
            errno = EPERM;
            return -1;
        }
        std::memset(buf, 0xA5, sizeof buf);
        std::memcpy(buf, &value, sizeof value);
        std::memcpy(arg, buf, sizeof buf);
        note("read %d\n", value);
        return 0;
    default:
        errno = ENOTTY;
        return -1;
    }
}

extern "C" int __wrap_close(int fd) {
    if (fd == device)
        note("release\n");
    return __real_close(fd);
}
