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
 */
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "qvx_device.h"

/* Process p's value number i: p + 1 in the top bits, i in the low 20. */
enum { ROUND_BITS = 20 };

static int work(int process, long pairs, long processes)
{
    int fd = open(QVX_DEVICE_PATH, O_RDWR);
    if (fd < 0) {
        fprintf(stderr, "qvx_stress: cannot open %s: %s\n", QVX_DEVICE_PATH, strerror(errno));
        return 1;
    }
    for (long i = 0; i < pairs; i++) {
        uint64_t arg = (uint32_t)((process + 1) << ROUND_BITS | i);
        if (ioctl(fd, WRITE_VALUE_CMD, &arg) != 0) {
            fprintf(stderr, "qvx_stress: write %ld of process %d: %s\n", i, process, strerror(errno));
            return 1;
        }
        arg = UINT64_MAX;
        if (ioctl(fd, READ_VALUE_CMD, &arg) != 0) {
            fprintf(stderr, "qvx_stress: read %ld of process %d: %s\n", i, process, strerror(errno));
            return 1;
        }
        uint32_t v = (uint32_t)arg;
        long writer = (long)(v >> ROUND_BITS) - 1, round = (long)(v & ((1u << ROUND_BITS) - 1));
        if (v != 0 && (writer < 0 || writer >= processes || round >= pairs)) {
            fprintf(stderr, "qvx_stress: process %d read %#x, which nobody wrote\n", process, v);
            return 1;
        }
    }
    return close(fd) != 0;
}

int main(int argc, char **argv)
{
    long processes = argc == 3 ? strtol(argv[1], NULL, 10) : 0;
    long pairs = argc == 3 ? strtol(argv[2], NULL, 10) : 0;
    if (processes < 1 || processes > 64 || pairs < 1 || pairs >= 1L << ROUND_BITS) {
        fprintf(stderr, "usage: qvx_stress <processes 1..64> <pairs 1..%ld>\n",
                (1L << ROUND_BITS) - 1);
        return 2;
    }
    for (int p = 0; p < processes; p++) {
        pid_t pid = fork();
        if (pid < 0) {
            perror("qvx_stress: fork");
            return 1;
        }
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
