// SPDX-License-Identifier: MIT
// fifodrain: the receiving end of the named pipe "fifofile" in the current
// directory. Everything writers put into it goes to standard output,
// unchanged and in order.
//
// An existing "fifofile" is opened for reading and writing: the program is
// then a writer of its own FIFO, never sees end of file and runs until it is
// stopped. Otherwise the FIFO is created and opened for reading only, which
// waits for the first writer; the program ends when the last writer closes.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

constexpr const char *fifo_path = "fifofile";
constexpr size_t piece = 5; // each read asks for at most this many bytes

int open_retrying(const char *path, int flags) {
    int fd;
    do
        fd = open(path, flags);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// Writes all n bytes to fd, however the kernel splits them; false (errno
// set) when a write fails.
bool write_all(int fd, const char *p, size_t n) {
    while (n > 0) {
        ssize_t done = write(fd, p, n);
        if (done < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += done;
        n -= static_cast<size_t>(done);
    }
    return true;
}

// The failure line on standard output (status 1 follows); the reason goes
// to standard error.
int fail(const char *line) {
    std::puts(line);
    std::fflush(stdout);
    return 1;
}

void tell(const char *what, int error) {
    std::fprintf(stderr, "fifodrain: %s %s: %s\n", what, fifo_path, std::strerror(error));
}

int copy(int fd) {
    char buf[piece];
    for (;;) {
        ssize_t got = read(fd, buf, sizeof buf);
        if (got == 0)
            return 0;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            tell("cannot read", errno);
            return 1;
        }
        if (!write_all(STDOUT_FILENO, buf, static_cast<size_t>(got))) {
            std::fprintf(stderr, "fifodrain: cannot write to standard output: %s\n",
                         std::strerror(errno));
            return 1;
        }
    }
}

} // namespace

int main() {
    // With descriptor 1 closed, the FIFO would be opened as descriptor 1 and
    // an existing one would get its own data fed back into it forever.
    if (fcntl(STDOUT_FILENO, F_GETFD) < 0) {
        std::fprintf(stderr, "fifodrain: standard output: %s\n", std::strerror(errno));
        return 1;
    }
    int fd = open_retrying(fifo_path, O_RDWR);
    if (fd < 0) {
        int open_error = errno;
        if (mkfifo(fifo_path, 0777) != 0) {
            int create_error = errno;
            tell("cannot open", open_error);
            tell("cannot create", create_error);
            return fail("failed to create the fifo file ");
        }
        fd = open_retrying(fifo_path, O_RDONLY);
        if (fd < 0) {
            tell("cannot open the new", errno);
            return fail("failed to open the fifo file ");
        }
    }
    return copy(fd);
}
