// SPDX-License-Identifier: MIT
/*
 * Several processes at once hand /dev/qvx_device values and fetch values
 * back, for running the driver under the kernel's checkers.
 *   qvx_stress <processes> <pairs>
 * Each process does <pairs> write/read pairs. Every call must succeed and
 * every value read must be 0 (the driver's first value) or one that some
 * process wrote: a torn or stray value fails the run. Prints one line and
 * ends with 0 when all went well; otherwise says what went wrong on standard
 * error and ends with 1.
 *   qvx_stress bad
 * Hands the driver arguments it must refuse, and prints what each call got:
 * a NULL pointer, an unmapped page, a kernel address, a read-only page for
 * the read, a value straddling the end of a mapping (-EFAULT each), a write
 * on a descriptor opened read-only (-EBADF; the read there succeeds), then
 * 10,000 random command numbers (-ENOTTY each). After every failed write the
 * driver must still hold the value stored before. Ends with 1 when any call
 * got something else.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include "qvx_device.h"

/* Process p's value number i: p + 1 in the top bits, i in the low 20. */
enum { ROUND_BITS = 20 };

/* "qvx_stress: <what>: <errno's text>" on standard error; ends with 1. */
static void die(const char *format, ...) __attribute__((format(printf, 1, 2), noreturn));
static void die(const char *format, ...) {
    const char *why = strerror(errno);
    va_list args;
    va_start(args, format);
    fputs("qvx_stress: ", stderr);
    vfprintf(stderr, format, args);
    fprintf(stderr, ": %s\n", why);
    va_end(args);
    exit(1);
}

static int open_device(int flags) {
    int fd = open(QVX_DEVICE_PATH, flags);
    if (fd < 0)
        die("cannot open %s", QVX_DEVICE_PATH);
    return fd;
}

static int work(int process, long pairs, long processes) {
    int fd = open_device(O_RDWR);
    for (long i = 0; i < pairs; i++) {
        struct qvx_arg arg = qvx_arg_of((int32_t)((process + 1) << ROUND_BITS | i));
        if (ioctl(fd, WRITE_VALUE_CMD, arg.bytes) != 0)
            die("write %ld of process %d", i, process);
        arg = qvx_arg_of(-1);
        if (ioctl(fd, READ_VALUE_CMD, arg.bytes) != 0)
            die("read %ld of process %d", i, process);
        uint32_t v = (uint32_t)qvx_value_of(&arg);
        long writer = (long)(v >> ROUND_BITS) - 1, round = (long)(v & ((1u << ROUND_BITS) - 1));
        if (v != 0 && (writer < 0 || writer >= processes || round >= pairs)) {
            fprintf(stderr, "qvx_stress: process %d read %#x, which nobody wrote\n", process, v);
            return 1;
        }
    }
    return close(fd) != 0;
}

/* One call: 0, or the error it got. */
static int call(int fd, unsigned int cmd, void *arg) {
    return ioctl(fd, cmd, arg) == 0 ? 0 : errno;
}

static const char *outcome(int err) {
    return err == 0 ? "success" : strerrorname_np(err) ? strerrorname_np(err) : "an unknown error";
}

/* A call that a case does not make. */
enum { NOT_TRIED = -1 };

/* The calls go through `through`; `fd` sets and reads back the value kept. */
static int check_bad(int fd, int through, const char *what, void *arg, int write, int read) {
    static const int32_t kept = 0x5eed;
    struct qvx_arg back = qvx_arg_of(kept);
    int failed = 0;
    printf("%s:", what);
    if (write != NOT_TRIED) {
        failed |= call(fd, WRITE_VALUE_CMD, back.bytes) != 0;
        int err = call(through, WRITE_VALUE_CMD, arg);
        printf(" write %s", outcome(err));
        back = qvx_arg_of(0);
        if (call(fd, READ_VALUE_CMD, back.bytes) != 0 || qvx_value_of(&back) != kept) {
            printf(" (the value read back is %#x, not %#x)", (uint32_t)qvx_value_of(&back),
                   (uint32_t)kept);
            failed = 1;
        }
        failed |= err != write;
    }
    int err = call(through, READ_VALUE_CMD, arg);
    printf("%s read %s\n", write != NOT_TRIED ? "," : "", outcome(err));
    return failed | (err != read);
}

/*
 * Types of command numbers that the kernel's file layer answers itself for
 * any open file ('T': FIOCLEX and the like; 'f', 'X', 0x94, 0x15 and 0:
 * file system requests): those never reach the driver.
 */
static int generic_type(unsigned int cmd) {
    static const unsigned char types[] = {'T', 'f', 'X', 0x94, 0x15, 0};
    return memchr(types, (int)_IOC_TYPE(cmd), sizeof(types)) != NULL;
}

static uint32_t next_random(uint32_t *x) {
    *x ^= *x << 13;
    *x ^= *x >> 17;
    *x ^= *x << 5;
    return *x;
}

static int bad_arguments(void) {
    int fd = open_device(O_RDWR);
    /* A read-write page followed by a hole: nothing is mapped after this. */
    long page = sysconf(_SC_PAGESIZE);
    char *ro = mmap(NULL, page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    char *map = mmap(NULL, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED || ro == MAP_FAILED || munmap(map + page, page) != 0)
        die("mmap");
    int read_only = open_device(O_RDONLY);
    struct qvx_arg good = qvx_arg_of(0x600d);
    static const struct {
        const char *what;
        int read_only, write, read;
    } cases[] = {
        {"a NULL pointer", 0, EFAULT, EFAULT},
        {"an unmapped page", 0, EFAULT, EFAULT},
        {"a kernel address", 0, EFAULT, EFAULT},
        {"a read-only page", 0, NOT_TRIED, EFAULT},
        {"a value straddling the end of a mapping", 0, EFAULT, EFAULT},
        {"a descriptor opened read-only", 1, EBADF, 0},
    };
    /* The kernel's direct map of all memory: writable, were it not the kernel's. */
    void *args[] = {NULL, map + page, (void *)0xffff888000000000ul, ro, map + page - 2, good.bytes};
    int failed = 0;
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); i++)
        failed |= check_bad(fd, cases[i].read_only ? read_only : fd, cases[i].what, args[i],
                            cases[i].write, cases[i].read);

    /*
     * Random numbers, a quarter of them one bit away from a real command;
     * the argument is a good buffer, so a command taken for another shows.
     */
    enum { RANDOM_COMMANDS = 10000 };
    uint32_t x = 2463534242u;
    long enotty = 0, other = 0;
    unsigned int first_other = 0;
    for (int n = 0; n < RANDOM_COMMANDS;) {
        uint32_t r = next_random(&x);
        unsigned int near = (r & 4 ? WRITE_VALUE_CMD : READ_VALUE_CMD) ^ 1u << (r >> 8) % 32;
        unsigned int cmd = r % 4 ? next_random(&x) : near;
        if (cmd == WRITE_VALUE_CMD || cmd == READ_VALUE_CMD || generic_type(cmd))
            continue;
        struct qvx_arg buffer = qvx_arg_of(0);
        if (call(fd, cmd, buffer.bytes) == ENOTTY)
            enotty++;
        else if (other++ == 0)
            first_other = cmd;
        n++;
    }
    printf("%d random command numbers: %ld ENOTTY", RANDOM_COMMANDS, enotty);
    if (other)
        printf(", %ld otherwise (the first: %#x)", other, first_other);
    printf("\n");
    return failed | (other != 0) | (close(read_only) != 0) | (close(fd) != 0);
}

int main(int argc, char **argv) {
    if (argc == 2 && strcmp(argv[1], "bad") == 0)
        return bad_arguments();
    long processes = argc == 3 ? strtol(argv[1], NULL, 10) : 0;
    long pairs = argc == 3 ? strtol(argv[2], NULL, 10) : 0;
    if (processes < 1 || processes > 64 || pairs < 1 || pairs >= 1L << ROUND_BITS) {
        fprintf(stderr, "usage: qvx_stress <processes 1..64> <pairs 1..%ld> | qvx_stress bad\n",
                (1L << ROUND_BITS) - 1);
        return 2;
    }
    for (int p = 0; p < processes; p++) {
        pid_t pid = fork();
        if (pid < 0)
            die("fork");
        if (pid == 0)
            _exit(work(p, pairs, processes));
    }
    int failed = 0, status;
    while (wait(&status) > 0)
        failed |= !WIFEXITED(status) || WEXITSTATUS(status) != 0;
    if (failed)
        return 1;
    printf("qvx_stress: %ld processes x %ld write/read pairs\n", processes, pairs);
    return 0;
}
