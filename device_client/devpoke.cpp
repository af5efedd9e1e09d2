// SPDX-License-Identifier: MIT
// devpoke: hands the driver behind /dev/qvx_device a value, or fetches one
// from it, from a menu on standard input and output.
#include "qvx_device.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

enum class Entry { number, not_a_number, end_of_input };

// Reads the menu entry as "%d" would. A number outside the 32-bit range is
// turned into 0, an entry like any other that leaves the menu: truncated, it
// could otherwise read as 1 or 2. glibc's scanf saturates what does not fit
// in a long long, so that stays out of range as well.
Entry read_entry(int32_t &choice) {
    long long entry = 0;
    int got = std::scanf("%lld", &entry);
    if (got == EOF)
        return Entry::end_of_input;
    if (got == 0)
        return Entry::not_a_number;
    choice = entry >= INT32_MIN && entry <= INT32_MAX ? static_cast<int32_t>(entry) : 0;
    return Entry::number;
}

void refused(const char *what) {
    std::fprintf(stderr, "devpoke: the driver refused the %s: %s\n", what, std::strerror(errno));
}

} // namespace

int main() {
    std::puts("*********************************");
    std::puts("\nOpening Driver");
    int fd = open(QVX_DEVICE_PATH, O_RDWR);
    if (fd < 0) {
        int err = errno;
        std::puts("Cannot open device file...");
        std::fflush(stdout);
        std::fprintf(stderr, "devpoke: cannot open %s: %s\n", QVX_DEVICE_PATH, std::strerror(err));
        return 1;
    }

    // 0 until the first number: a first entry that is not a number leaves.
    int32_t choice = 0;
    for (;;) {
        std::puts("Enter the Value to send \n 1 - write \n 2 - read  ");
        __fpurge(stdin);
        if (read_entry(choice) == Entry::end_of_input)
            break;
        if (choice == 1) {
            std::puts("Writing Value to Driver");
            qvx_arg arg = qvx_arg_of(choice);
            if (ioctl(fd, WRITE_VALUE_CMD, arg.bytes) < 0)
                refused("write");
        } else if (choice == 2) {
            std::puts("Reading Value from Driver");
            qvx_arg arg = qvx_arg_of(0);
            if (ioctl(fd, READ_VALUE_CMD, arg.bytes) < 0)
                refused("read");
            else
                std::printf("Value is %d\n", qvx_value_of(&arg));
        } else {
            break;
        }
    }
    std::puts("Closing Driver");
    close(fd);
    return 0;
}
