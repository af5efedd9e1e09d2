// SPDX-License-Identifier: MIT
/*
 * The modules' failure paths, the way syzkaller finds them: each module is
 * loaded, and qvx_device's ioctls called, with the n-th fault-injectable
 * call of the calling thread failing (/proc/thread-self/fail-nth), for
 * n = 1, 2, ... until a call sees no failure; every try is held to what a
 * sound module does:
 *   - a load succeeds or fails with an error, and leaves no worker, device
 *     node or module behind once unloaded;
 *   - turnpair loaded whole logs its 106 lines; with a worker not created,
 *     the other logs what it should; the workers end by themselves;
 *   - qvx_device loaded takes a value and hands it back;
 *   - a write or read whose copy failed returns EFAULT, and the value kept
 *     stays as it was.
 * Needs a kernel that injects failed allocations and failed user copies,
 * with debugfs's knobs letting sleeping allocations fail.
 *   failnth <turnpair.ko> [<qvx_device.ko>]
 * Without qvx_device.ko, only turnpair's loads near its last injection
 * point (counted by a load armed far beyond), where it creates its workers.
 * A process of its own does it all: in a kernel with checkers under
 * emulation every fork costs a good part of a second. A line
 * "@@ failnth <what> <n>" marks each try in the kernel's log, which each try
 * reads and clears; every 50th goes to standard output too. Prints
 * "FAIL: fail-nth, ..." for each try that breaks a rule, then what the tries
 * found ("fail-nth: ..."), then "@@ ended fault-injection" once all ran.
 * Ends with 1 when a try failed or something the tries need did not work,
 * 2 on a usage error.
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdatomic.h>
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
#include "turnpair.h"

enum { LOG_READ_CLEAR = 4, LOG_SIZE_BUFFER = 10 };
/* The flag of a kernel thread in /proc/<pid>/stat. */
enum { PF_KTHREAD = 0x00200000 };
/* turnpair's lines in a whole run: two at the start, 101 values, three at the end. */
enum { WHOLE_LINES = 106, WHOLE_VALUES = 101 };
/* How long a load's workers may take to end by themselves (a tenth of a
 * second on a quiet machine, 10 s under the checkers on a busy one). */
enum { WORKERS_END_CS = 6000 };

static int fail_nth = -1, kmsg = -1, failures;
static char *log_buf;
static int log_size;

static void die(const char *what) {
    fprintf(stderr, "failnth: %s: %s\n", what, strerror(errno));
    exit(1);
}

static void fail(const char *format, ...) __attribute__((format(printf, 1, 2)));
static void fail(const char *format, ...) {
    va_list args;
    va_start(args, format);
    fputs("FAIL: fail-nth, ", stdout);
    vprintf(format, args);
    putchar('\n');
    va_end(args);
    failures++;
}

static void arm(unsigned n) {
    char buf[16];
    int len = snprintf(buf, sizeof(buf), "%u", n);
    if (pwrite(fail_nth, buf, (size_t)len, 0) != len)
        die("cannot arm /proc/thread-self/fail-nth");
}

/*
 * A thread of its own reads what is left of the armed count, and disarms
 * it: reading is a user copy, which counts as a call of the thread that
 * makes it, and would use up the count it reads (the last one failing the
 * read itself).
 */
static atomic_int request; /* 0 idle, 1 asked, 2 answered */
static unsigned left_armed;

static void futex(atomic_int *word, int op, int value) {
    syscall(SYS_futex, word, op, value, NULL, NULL, 0);
}

static void *reader(void *path) {
    int fd = open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        die(path);
    for (;;) {
        for (int now; (now = atomic_load(&request)) != 1;)
            futex(&request, FUTEX_WAIT, now);
        char buf[16] = "";
        if (pread(fd, buf, sizeof(buf) - 1, 0) <= 0 || pwrite(fd, "0", 1, 0) != 1)
            die("cannot read fail-nth from a second thread");
        left_armed = (unsigned)strtoul(buf, NULL, 10);
        atomic_store(&request, 2);
        futex(&request, FUTEX_WAKE, 1);
    }
    return NULL;
}

/* Whether the armed failure was injected; disarms what is left. */
static int fired(void) {
    atomic_store(&request, 1);
    futex(&request, FUTEX_WAKE, 1);
    while (atomic_load(&request) != 2)
        futex(&request, FUTEX_WAIT, 1);
    atomic_store(&request, 0);
    return left_armed == 0;
}

static long centiseconds(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 100 + t.tv_nsec / 10000000;
}

static void pause_10ms(void) {
    nanosleep(&(struct timespec){.tv_nsec = 10000000}, NULL);
}

static long began;

/* One write: /dev/kmsg takes a record a write, and no seeking (dprintf).
 * Every 50th try says so on the console too. */
static void mark(const char *what, unsigned n) {
    if (n % 50 == 0) {
        printf("@@ failnth %s %u, %ld s\n", what, n, (centiseconds() - began) / 100);
        fflush(stdout);
    }
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

/* Whether task <pid> is one of turnpair's workers: a kernel thread named so. */
static int worker(long pid) {
    char path[64], stat[512];
    snprintf(path, sizeof(path), "/proc/%ld/stat", pid);
    FILE *f = fopen(path, "r");
    if (!f)
        return 0;
    size_t len = fread(stat, 1, sizeof(stat) - 1, f);
    fclose(f);
    stat[len] = '\0';
    /* "pid (comm) state ppid pgrp session tty tpgid flags ..." */
    char *open = strchr(stat, '('), *close = strrchr(stat, ')');
    unsigned long flags = 0;
    if (!open || !close || sscanf(close + 1, " %*c %*d %*d %*d %*d %*d %lu", &flags) != 1)
        return 0;
    *close = '\0';
    return (flags & PF_KTHREAD) &&
           (!strcmp(open + 1, TURNPAIR_ODD_WORKER) || !strcmp(open + 1, TURNPAIR_EVEN_WORKER));
}

/*
 * How many of turnpair's workers run, whatever their PIDs. Reading every
 * task's stat takes the only CPU most of a second under the checkers, so
 * the tasks seen not to be workers are passed over while they last: a PID
 * no longer listed is forgotten, and one is reused only after some 32,000
 * new tasks, which no try makes. (Called between loads, never while a
 * worker is being made and named.)
 */
static int workers(void) {
    enum { MOST = 4096 };
    static long others[MOST];
    static int nothers;
    long now[MOST];
    int nnow = 0, found = 0;
    DIR *proc = opendir("/proc");
    if (!proc)
        die("cannot list /proc");
    for (struct dirent *e; (e = readdir(proc));) {
        long pid = e->d_name[0] >= '1' && e->d_name[0] <= '9' ? atol(e->d_name) : 0;
        int other = 0;
        for (int i = 0; i < nothers && !other; i++)
            other = others[i] == pid;
        if (!pid)
            continue;
        if (!other && worker(pid))
            found++;
        else if (nnow < MOST)
            now[nnow++] = pid;
    }
    closedir(proc);
    memcpy(others, now, (size_t)nnow * sizeof(*now));
    nothers = nnow;
    return found;
}

static int loaded(const char *name) {
    char line[256];
    size_t len = strlen(name);
    int found = 0;
    FILE *f = fopen("/proc/modules", "r");
    if (!f)
        die("cannot read /proc/modules");
    while (fgets(line, sizeof(line), f))
        found |= !strncmp(line, name, len) && line[len] == ' ';
    fclose(f);
    return found;
}

/* Loads the module with the n-th call failing (none for 0); 0 or the error. */
static int load(unsigned n, const char *path, int *injected) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        die(path);
    arm(n);
    int err = syscall(SYS_finit_module, fd, "", 0) == 0 ? 0 : errno;
    *injected = n && fired();
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

/* What the tries of one call found: its injection points, and the errors
 * that made it fail, by kind. */
struct tally {
    const char *what;
    unsigned points;
    int ended, failed, nerrors, errors[8], counts[8];
};

static void count(struct tally *t, unsigned n, int injected, int err) {
    if (!injected) {
        t->ended = 1;
        t->points = n - 1;
        return;
    }
    if (!err)
        return;
    t->failed++;
    int i = 0;
    while (i < t->nerrors && t->errors[i] != err)
        i++;
    if (i == t->nerrors && i < 8)
        t->errors[t->nerrors++] = err;
    if (i < 8)
        t->counts[i]++;
}

static void summary(const struct tally *t) {
    if (!t->ended) {
        fail("the tries of %s did not run to their end", t->what);
        return;
    }
    printf("fail-nth: %s, %u injection points", t->what, t->points);
    if (t->failed) {
        printf(", %d failed it:", t->failed);
        for (int i = 0; i < t->nerrors; i++)
            printf(" %dx %s", t->counts[i], outcome(t->errors[i]));
    }
    putchar('\n');
}

/* Which worker a try kept from being created. */
enum creation { BOTH_CREATED, FIRST_NOT_CREATED, SECOND_NOT_CREATED };
static const char *const lone_name[] = {"-", "first", "second"};
static char lone_log[3][256];
static struct tally turnpair_tally = {.what = "loading turnpair"};
static char lone_seen[3][512];
/* Which creations the tries failed, and the lowest and highest n that did. */
static int seen[3];
static unsigned lo, hi;

/* One load of turnpair, checked and noted; sets *injected. */
static void try_turnpair(int again, unsigned n, const char *ko, int *injected) {
    /* Its lines, the values' first; a line is one of them when it begins
     * with the text before its value or its end. */
    static const char *const ours[] = {
        TURNPAIR_ODD_VALUE, TURNPAIR_EVEN_VALUE,  TURNPAIR_CREATED,
        TURNPAIR_STARTED,   TURNPAIR_HAD_STARTED, TURNPAIR_NOT_CREATED,
        TURNPAIR_STOPPED,   TURNPAIR_DRIVER,      TURNPAIR_UNLOADED,
    };
    mark("turnpair", n);
    int err = load(n, ko, injected);
    long start = centiseconds();
    int running;
    while ((running = workers()) && centiseconds() - start < WORKERS_END_CS)
        pause_10ms();
    long ran = centiseconds() - start;
    if (!err)
        unload("turnpair");
    for (int i = 0; i < 200 && workers(); i++) /* a stopped worker's last steps */
        pause_10ms();
    int left = workers(), module = loaded("turnpair");

    const char *log = take_log();
    enum creation created = BOTH_CREATED;
    if (strstr(log, " __kthread_create_on_node+"))
        created = strstr(log, ">" TURNPAIR_NOT_CREATED) ? FIRST_NOT_CREATED : SECOND_NOT_CREATED;
    static char mine[1 << 16];
    size_t used = 0;
    int lines = 0, values = 0;
    mine[0] = '\0';
    for (const char *line = log; *line;) {
        const char *end = strchrnul(line, '\n'), *text = strchr(line, '>');
        text = text && text < end ? text + 1 : line;
        for (size_t i = 0; i < sizeof(ours) / sizeof(*ours); i++)
            if (!strncmp(text, ours[i], strcspn(ours[i], "%\n"))) {
                lines++;
                values += i < 2;
                if (used < sizeof(mine))
                    used += (size_t)snprintf(mine + used, sizeof(mine) - used, "%.*s\n",
                                             (int)(end - text), text);
                break;
            }
        line = *end ? end + 1 : end;
    }

    const char *try = again ? "the try again" : "the try";
    if (!*injected && err)
        fail("%s of loading turnpair at n = %u failed with nothing injected: %s", try, n,
             outcome(err));
    if (left || module)
        fail("%s of loading turnpair at n = %u (%s) left %s", try, n, outcome(err),
             left ? "a worker running" : "the module loaded");
    if (err && (lines || created != BOTH_CREATED))
        fail("%s of loading turnpair at n = %u failed it (%s), yet the module ran", try, n,
             outcome(err));
    else if (!err && running)
        fail("%s of loading turnpair at n = %u: its workers did not end by themselves within %d s",
             try, n, WORKERS_END_CS / 100);
    else if (!err && created == BOTH_CREATED && (lines != WHOLE_LINES || values != WHOLE_VALUES))
        fail("%s of loading turnpair at n = %u: not a whole run (%d lines, %d values, %ld cs)", try,
             n, lines, values, ran);
    else if (created != BOTH_CREATED) {
        if (strcmp(mine, lone_log[created]))
            fail("at n = %u, with the %s worker not created, turnpair logged:\n%s", n,
                 lone_name[created], mine);
        size_t at = strlen(lone_seen[created]);
        snprintf(lone_seen[created] + at, sizeof(lone_seen[0]) - at, " %u%s (%.2f s)", n,
                 again ? " again" : "", ran / 100.0);
    }
    if (!again)
        count(&turnpair_tally, n, *injected, err);
    seen[created] = 1;
    if (created != BOTH_CREATED) {
        lo = !lo || n < lo ? n : lo;
        hi = n > hi ? n : hi;
    }
}

/*
 * The tries from n = 1 until a load sees no failure; then, for a worker
 * whose creation no try failed, tries again over a window. Which n reaches
 * a creation shifts by a few from try to try (the kernel's own bookkeeping,
 * kmemleak's say, allocates when it needs to), so the window is laid around
 * the creations seen so far and moves, wider, with each one seen; with none
 * seen, it starts just before the last injection point, where the module's
 * init routine runs.
 */
enum {
    GUESS_BEFORE_END = 6, /* the creations' guess when none was seen */
    WINDOW_BELOW = 8,     /* the window from this far below the lowest creation seen */
    WINDOW_ABOVE = 4,     /* to this far above the highest */
    RETRY_ROUNDS = 5,
};

static int both_seen(void) {
    return seen[FIRST_NOT_CREATED] && seen[SECOND_NOT_CREATED];
}

static void turnpair(const char *ko, int whole) {
    enum { FAR = 100000 };
    unsigned last = 0;
    int injected = whole;
    if (!whole) { /* the window's top at the last injection point */
        try_turnpair(1, FAR, ko, &injected);
        last = FAR - left_armed + 1;
        lo = hi = last > WINDOW_ABOVE ? last - WINDOW_ABOVE : 1;
    }
    for (unsigned n = 1; injected; n++)
        try_turnpair(0, last = n, ko, &injected);
    if (!lo)
        lo = hi = last > GUESS_BEFORE_END ? last - GUESS_BEFORE_END : 1;
    for (int round = 0; round < RETRY_ROUNDS && !both_seen(); round++)
        for (unsigned n = lo > WINDOW_BELOW ? lo - WINDOW_BELOW : 1;
             n <= hi + WINDOW_ABOVE && !both_seen(); n++)
            try_turnpair(1, n, ko, &injected);
    /* A whole load last: the last task kthreadd made stays on its stack,
     * which kmemleak scans, until it makes another. */
    try_turnpair(1, FAR, ko, &injected);
    if (whole)
        summary(&turnpair_tally);
    else
        printf("fail-nth: loading turnpair, %u injection points, the tries near the last\n",
               last - 1);
    for (int c = FIRST_NOT_CREATED; c <= SECOND_NOT_CREATED; c++)
        if (!seen[c])
            fail("no try failed the creation of the %s worker", lone_name[c]);
        else
            printf("fail-nth: the %s worker not created at n =%s, the other ended by itself\n",
                   lone_name[c], lone_seen[c]);
}

/* One ioctl with the n-th call failing (none for 0); 0 or the error, and
 * the value the argument holds after it. */
static int ioctl_call(int fd, unsigned long cmd, unsigned n, int32_t *value, int *injected) {
    struct qvx_arg arg = qvx_arg_of(*value);
    if (n)
        arm(n);
    int err = ioctl(fd, cmd, arg.bytes) == 0 ? 0 : errno;
    *injected = n && fired();
    *value = qvx_value_of(&arg);
    return err;
}

/* A value handed to the device and fetched back. */
static int dialogue(int32_t v) {
    int fd = open(QVX_DEVICE_PATH, O_RDWR | O_CLOEXEC), none;
    int32_t back = 0;
    if (fd < 0)
        return 0;
    int ok = !ioctl_call(fd, WRITE_VALUE_CMD, 0, &v, &none) &&
             !ioctl_call(fd, READ_VALUE_CMD, 0, &back, &none) && back == v;
    return !close(fd) && ok;
}

static void qvx_device(const char *ko) {
    struct tally t = {.what = "loading qvx_device"};
    int injected = 1;
    for (unsigned n = 1; injected; n++) {
        mark("qvx_device", n);
        int err = load(n, ko, &injected), talked = 0;
        if (!err) {
            talked = dialogue((int32_t)n);
            unload("qvx_device");
        }
        int node = !access(QVX_DEVICE_PATH, F_OK) || !access("/sys/class/misc/qvx_device", F_OK);
        take_log();
        if (!injected && err)
            fail("loading qvx_device failed with nothing injected: %s", outcome(err));
        if (node || loaded("qvx_device"))
            fail("the try of loading qvx_device at n = %u (%s) left %s", n, outcome(err),
                 node ? "the device" : "the module loaded");
        if (!err && !talked)
            fail("qvx_device loaded at n = %u did not hand back the value written", n);
        count(&t, n, injected, err);
    }
    summary(&t);
}

/* Each write and read call with its n-th call failing, on qvx_device
 * holding 1000 beforehand. */
static void calls(const char *ko) {
    int none;
    if (load(0, ko, &none))
        die("cannot load qvx_device");
    int fd = open(QVX_DEVICE_PATH, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        die("cannot open " QVX_DEVICE_PATH);
    for (int write = 1; write >= 0; write--) {
        struct tally t = {.what = write ? "write call" : "read call"};
        int injected = 1;
        for (unsigned n = 1; injected; n++) {
            int32_t before = 1000, v = write ? (int32_t)n : 0, after = 0;
            if (ioctl_call(fd, WRITE_VALUE_CMD, 0, &before, &none))
                die("cannot write to " QVX_DEVICE_PATH);
            mark(t.what, n);
            int err = ioctl_call(fd, write ? WRITE_VALUE_CMD : READ_VALUE_CMD, n, &v, &injected);
            if (ioctl_call(fd, READ_VALUE_CMD, 0, &after, &none))
                die("cannot read from " QVX_DEVICE_PATH);
            int32_t want = write && !err ? (int32_t)n : 1000;
            if (injected ? err != EFAULT : err != 0)
                fail("the %s at n = %u (%s) returned %s", t.what, n,
                     injected ? "a failure injected" : "nothing injected", outcome(err));
            if (after != want)
                fail("the %s at n = %u (%s) left the value %d, not %d", t.what, n, outcome(err),
                     after, want);
            if (!write && !err && v != 1000)
                fail("the read call at n = %u handed back %d, not 1000", n, v);
            count(&t, n, injected, err);
        }
        summary(&t);
        /* Without a failed copy to inject, these tries would test nothing. */
        if (t.ended && !t.points)
            fail("the %s had no injection point: the kernel injects no failed user copies", t.what);
    }
    take_log();
    close(fd);
    unload("qvx_device");
}

int main(int argc, char **argv) {
    if (argc != 2 && argc != 3) {
        fputs("usage: failnth <turnpair.ko> [<qvx_device.ko>]\n", stderr);
        return 2;
    }
    char self[64];
    snprintf(self, sizeof(self), "/proc/self/task/%ld/fail-nth", (long)syscall(SYS_gettid));
    fail_nth = open(self, O_RDWR | O_CLOEXEC);
    if (fail_nth < 0)
        die("cannot open /proc/thread-self/fail-nth");
    pthread_t thread;
    if ((errno = pthread_create(&thread, NULL, reader, self)))
        die("cannot start a thread");
    kmsg = open("/dev/kmsg", O_WRONLY | O_CLOEXEC);
    if (kmsg < 0)
        die("cannot open /dev/kmsg");
    log_size = klogctl(LOG_SIZE_BUFFER, NULL, 0);
    if (log_size <= 0 || !(log_buf = malloc((size_t)log_size + 1)))
        die("cannot size the kernel's log");
    take_log();
    snprintf(
        lone_log[FIRST_NOT_CREATED], sizeof(lone_log[0]),
        TURNPAIR_NOT_CREATED TURNPAIR_EVEN_VALUE TURNPAIR_STOPPED TURNPAIR_DRIVER TURNPAIR_UNLOADED,
        0);
    snprintf(lone_log[SECOND_NOT_CREATED], sizeof(lone_log[0]), "%s",
             TURNPAIR_CREATED TURNPAIR_STARTED TURNPAIR_STOPPED TURNPAIR_DRIVER TURNPAIR_UNLOADED);
    began = centiseconds();
    turnpair(argv[1], argc == 3);
    if (argc == 3) {
        qvx_device(argv[2]);
        calls(argv[2]);
    }
    printf("fail-nth: the tries took %ld s\n@@ ended fault-injection\n",
           (centiseconds() - began) / 100);
    return failures > 0;
}
