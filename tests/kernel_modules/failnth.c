// SPDX-License-Identifier: MIT
/*
 * Loads the modules, and calls qvx_device's ioctls, with the n-th
 * fault-injectable call of the calling thread failing
 * (/proc/thread-self/fail-nth), for n = 1, 2, ... until a call sees no
 * failure. Needs a kernel with fault injection whose debugfs knobs let
 * sleeping allocations fail, and the modules in the working folder's reach.
 *   failnth turnpair <turnpair.ko>       each try: wait for the workers, unload
 *   failnth qvx_device <qvx_device.ko>   each try: one write and read, unload
 *   failnth ioctl                        each write and read call (loaded)
 * A process of its own does it all: in a kernel with checkers under
 * emulation every fork costs a good part of a second. Each try prints
 *   @@ try|retry <what> <n> injected|clean ok|<error> key=value...
 * and each try where a turnpair worker's creation failed (the injected
 * failure's stack passes through __kthread_create_on_node) prints the
 * module's lines between "@@ begin lone-first|second" and "@@ end ...".
 * The kernel's log is read and cleared by each try; a line
 * "@@ failnth <what> <n>" marks each try in it. Ends with 1 and a message
 * on standard error when something the tries need fails, 2 on a usage error.
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/klog.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "qvx_device.h"

enum { LOG_READ_CLEAR = 4, LOG_SIZE_BUFFER = 10 };

static int fail_nth = -1, kmsg = -1;
static char *log_buf;
static int log_size;

static void die(const char *what) {
    fprintf(stderr, "failnth: %s: %s\n", what, strerror(errno));
    exit(1);
}

static void arm(unsigned n) {
    char buf[16];
    int len = snprintf(buf, sizeof(buf), "%u", n);
    if (pwrite(fail_nth, buf, (size_t)len, 0) != len)
        die("cannot arm /proc/thread-self/fail-nth");
}

/* Whether the armed failure was injected; disarms what is left. */
static int fired(void) {
    char buf[16] = "";
    if (pread(fail_nth, buf, sizeof(buf) - 1, 0) <= 0)
        die("cannot read /proc/thread-self/fail-nth");
    arm(0);
    return atoi(buf) == 0;
}

static long centiseconds(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 100 + t.tv_nsec / 10000000;
}

static void pause_10ms(void) {
    nanosleep(&(struct timespec){.tv_nsec = 10000000}, NULL);
}

/* One write: /dev/kmsg takes a record a write, and no seeking (dprintf). */
static void mark(const char *what, unsigned n) {
    char line[64];
    int len = snprintf(line, sizeof(line), "@@ failnth %s %u\n", what, n);
    if (write(kmsg, line, (size_t)len) != len)
        die("cannot write to /dev/kmsg");
}

/* The kernel's log since the last call, one "<level>text" line a record. */
static const char *take_log(void) {
    int len = klogctl(LOG_READ_CLEAR, log_buf, log_size);
    if (len < 0)
        die("cannot read the kernel's log");
    log_buf[len] = '\0';
    return log_buf;
}

/* Whether a worker of turnpair's runs. Only tasks younger than this
 * process are looked at: opening every task's comm takes a tenth of a
 * second of the only CPU, which the workers need. */
static int workers(void) {
    DIR *proc = opendir("/proc");
    if (!proc)
        die("cannot list /proc");
    int found = 0;
    for (struct dirent *e; !found && (e = readdir(proc));) {
        char path[300], comm[32] = "";
        if (e->d_name[0] < '1' || e->d_name[0] > '9' || atol(e->d_name) <= getpid())
            continue;
        snprintf(path, sizeof(path), "/proc/%s/comm", e->d_name);
        FILE *f = fopen(path, "r");
        if (f && fgets(comm, sizeof(comm), f))
            found = !strcmp(comm, "vurt\n") || !strcmp(comm, "mykthread2\n");
        if (f)
            fclose(f);
    }
    closedir(proc);
    return found;
}

static const char *loaded(const char *name) {
    char line[256];
    size_t len = strlen(name);
    const char *state = "gone";
    FILE *f = fopen("/proc/modules", "r");
    if (!f)
        die("cannot read /proc/modules");
    while (fgets(line, sizeof(line), f))
        if (!strncmp(line, name, len) && line[len] == ' ')
            state = "loaded";
    fclose(f);
    return state;
}

/* Loads the module with the n-th call failing; 0 or the error. */
static int load(unsigned n, const char *path, int *injected) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        die(path);
    arm(n);
    int err = syscall(SYS_finit_module, fd, "", 0) == 0 ? 0 : errno;
    *injected = fired();
    close(fd);
    return err;
}

static const char *outcome(int err) {
    return err ? strerrorname_np(err) : "ok";
}

static void unload(const char *name) {
    if (syscall(SYS_delete_module, name, O_NONBLOCK) != 0)
        fprintf(stderr, "failnth: cannot unload %s: %s\n", name, strerror(errno));
}

/* One load of turnpair; returns whether the failure was injected. */
static int try_turnpair(const char *kind, unsigned n, const char *ko, char *created) {
    static const char *const ours[] = {"our thread",          "out thread",     "failed to create",
                                       "thread1 : ",          "\t\tthread2 : ", "my char driver",
                                       "unloaded succesfully"};
    int injected;
    mark("turnpair", n);
    int err = load(n, ko, &injected);
    long start = centiseconds();
    while (workers() && centiseconds() - start < 1000)
        pause_10ms();
    long ran = centiseconds() - start;
    if (!err)
        unload("turnpair");
    for (int i = 0; i < 200 && workers(); i++) /* a stopped worker's last steps */
        pause_10ms();
    const char *left = workers() ? "running" : "none";

    const char *log = take_log();
    *created = '-';
    if (strstr(log, " __kthread_create_on_node+"))
        *created = strstr(log, ">failed to create the thread") ? 'f' : 's';
    static char mine[1 << 16];
    size_t used = 0;
    int lines = 0, values = 0;
    mine[0] = '\0';
    for (const char *line = log; *line;) {
        const char *end = strchrnul(line, '\n'), *text = strchr(line, '>');
        text = text && text < end ? text + 1 : line;
        for (size_t i = 0; i < sizeof(ours) / sizeof(*ours); i++)
            if (!strncmp(text, ours[i], strlen(ours[i]))) {
                lines++;
                values += i == 3 || i == 4;
                used += (size_t)snprintf(mine + used, used < sizeof(mine) ? sizeof(mine) - used : 0,
                                         "%.*s\n", (int)(end - text), text);
                break;
            }
        line = *end ? end + 1 : end;
    }
    const char *which = *created == 'f' ? "first" : *created == 's' ? "second" : "-";
    printf("@@ %s turnpair %u %s %s created=%s ran=%ld left=%s module=%s lines=%d values=%d\n",
           kind, n, injected ? "injected" : "clean", outcome(err), which, ran, left,
           loaded("turnpair"), lines, values);
    if (*created != '-')
        printf("@@ begin lone-%s\n%.*s@@ end lone-%s\n", which, (int)sizeof(mine), mine, which);
    fflush(stdout);
    return injected;
}

static void turnpair(const char *ko) {
    unsigned n = 1, first = 0, second = 0, lo = 0, hi = 0;
    char created;
    for (int round = 0; round <= 5 && !(first && second); round++) {
        /* Which n reaches a worker's creation shifts by up to several from
         * try to try (the kernel's own bookkeeping allocates when it needs
         * to): a case the tries from n = 1 missed is tried again around the
         * creations seen, or else just before the end. */
        if (round == 1 && !lo)
            lo = hi = n > 6 ? n - 6 : 1;
        unsigned from = round ? (lo > 8 ? lo - 8 : 1) : 1, to = round ? hi + 4 : UINT32_MAX;
        for (unsigned m = from; m <= to && !(round && first && second); m++) {
            int injected = try_turnpair(round ? "retry" : "try", m, ko, &created);
            first = created == 'f' ? m : first;
            second = created == 's' ? m : second;
            if (created != '-') {
                lo = !lo || m < lo ? m : lo;
                hi = m > hi ? m : hi;
            }
            if (!round && !injected) {
                n = m;
                break;
            }
        }
    }
}

/* Hands the device n and fetches it back, with nothing armed. */
static int ioctl_call(int fd, unsigned long cmd, unsigned n, int32_t *value) {
    uint64_t arg = (uint32_t)*value;
    arm(n);
    int err = ioctl(fd, cmd, &arg) == 0 ? 0 : errno;
    int injected = n ? fired() : 0;
    *value = (int32_t)(uint32_t)arg;
    return err | (injected ? 1 << 16 : 0);
}

static int dialogue(unsigned n) {
    int fd = open(QVX_DEVICE_PATH, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return 0;
    int32_t v = (int32_t)n, back = 0;
    int ok = !ioctl_call(fd, WRITE_VALUE_CMD, 0, &v) && !ioctl_call(fd, READ_VALUE_CMD, 0, &back) &&
             back == v;
    return close(fd) == 0 && ok;
}

static void qvx_device(const char *ko) {
    for (unsigned n = 1;; n++) {
        int injected;
        mark("qvx_device", n);
        int err = load(n, ko, &injected);
        const char *talk = "-";
        if (!err) {
            talk = dialogue(n) ? "ok" : "failed";
            unload("qvx_device");
        }
        const char *node = access(QVX_DEVICE_PATH, F_OK) == 0                ? "present"
                           : access("/sys/class/misc/qvx_device", F_OK) == 0 ? "in-sysfs"
                                                                             : "absent";
        take_log();
        printf("@@ try qvx_device %u %s %s dialogue=%s node=%s module=%s\n", n,
               injected ? "injected" : "clean", outcome(err), talk, node, loaded("qvx_device"));
        fflush(stdout);
        if (!injected)
            break;
    }
}

static void calls(void) {
    int fd = open(QVX_DEVICE_PATH, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        die("cannot open " QVX_DEVICE_PATH);
    for (int write = 1; write >= 0; write--)
        for (unsigned n = 1;; n++) {
            int32_t before = 1000, v = write ? (int32_t)n : 0, after = 0;
            if (ioctl_call(fd, WRITE_VALUE_CMD, 0, &before))
                die("cannot write to " QVX_DEVICE_PATH);
            mark(write ? "write" : "read", n);
            int r = ioctl_call(fd, write ? WRITE_VALUE_CMD : READ_VALUE_CMD, n, &v);
            if (ioctl_call(fd, READ_VALUE_CMD, 0, &after))
                die("cannot read from " QVX_DEVICE_PATH);
            int err = r & 0xffff;
            printf("@@ try %s %u %s %s value=%d after=%d\n", write ? "write" : "read", n,
                   r >> 16 ? "injected" : "clean", outcome(err), v, after);
            fflush(stdout);
            if (!(r >> 16))
                break;
        }
    take_log();
    close(fd);
}

int main(int argc, char **argv) {
    int what = argc == 3 && !strcmp(argv[1], "turnpair")     ? 1
               : argc == 3 && !strcmp(argv[1], "qvx_device") ? 2
               : argc == 2 && !strcmp(argv[1], "ioctl")      ? 3
                                                             : 0;
    if (!what) {
        fputs("usage: failnth turnpair <turnpair.ko> | qvx_device <qvx_device.ko> | ioctl\n",
              stderr);
        return 2;
    }
    fail_nth = open("/proc/thread-self/fail-nth", O_RDWR | O_CLOEXEC);
    if (fail_nth < 0)
        die("cannot open /proc/thread-self/fail-nth");
    kmsg = open("/dev/kmsg", O_WRONLY | O_CLOEXEC);
    if (kmsg < 0)
        die("cannot open /dev/kmsg");
    log_size = klogctl(LOG_SIZE_BUFFER, NULL, 0);
    if (log_size <= 0 || !(log_buf = malloc((size_t)log_size + 1)))
        die("cannot size the kernel's log");
    take_log();
    if (what == 1)
        turnpair(argv[2]);
    else if (what == 2)
        qvx_device(argv[2]);
    else
        calls();
    return 0;
}
