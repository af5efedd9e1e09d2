// SPDX-License-Identifier: MIT
// Preloaded into the programs that buildroot.sh runs in a root under proot,
// for two things that Debian 12's proot (5.3) gets wrong:
//
// - It knows nothing of the system calls newer than itself (statx,
//   faccessat2, openat2, clone3...), so their paths reach the host's tree
//   unchanged and a newer root's ls, make or gcc find nothing. A seccomp
//   filter, installed once and inherited by every program started after,
//   answers them ENOSYS, and glibc falls back on the older calls that proot
//   translates.
// - It loses track of a child that glibc's posix_spawn starts on a stack of
//   its own (clone with CLONE_VM | CLONE_VFORK): the parent then crashes or
//   its exec fails with EFAULT. GNU make starts every recipe that way, so
//   posix_spawn and posix_spawnp are done here with fork and execve. The
//   file actions are read from glibc's own layout of them (close, dup2,
//   open, chdir and fchdir, the same since glibc 2.29); the attributes
//   through their accessors. A flag or an action beyond those (a newer
//   glibc's closefrom, say) is refused with ENOSYS and a line on standard
//   error, never skipped.
//
// Built by the host's compiler and loaded into older and newer roots alike,
// so it uses nothing newer than glibc's first x86-64 symbols.
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <spawn.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

// The calls proot does not know, answered ENOSYS.
__attribute__((constructor)) static void refuse_newer_calls(void) {
    // Installed by a parent already when statx is refused (a container's
    // own filter may be there too, so PR_GET_SECCOMP cannot tell).
    if (syscall(SYS_statx, -1, "", 0, 0, NULL) < 0 && errno == ENOSYS)
        return;
#define REFUSE(nr)                                                                                 \
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, (nr), 0, 1),                                               \
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS)
    // The numbers are x86-64's: a call made under another ABI (a 32-bit
    // program's int 0x80) goes through untouched.
    struct sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        REFUSE(332), // statx
        REFUSE(435), // clone3
        REFUSE(437), // openat2
        REFUSE(439), // faccessat2
        REFUSE(452), // fchmodat2
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
#undef REFUSE
    struct sock_fprog prog = {(unsigned short)(sizeof code / sizeof code[0]), code};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0)
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog, 0, 0);
}

struct spawn_action {
    enum { do_close, do_dup2, do_open, do_chdir, do_fchdir } tag;
    union {
        struct {
            int fd;
        } close_action;
        struct {
            int fd;
            int newfd;
        } dup2_action;
        struct {
            int fd;
            char *path;
            int oflag;
            mode_t mode;
        } open_action;
        struct {
            char *path;
        } chdir_action;
        struct {
            int fd;
        } fchdir_action;
    } action;
};

struct file_actions {
    int allocated;
    int used;
    struct spawn_action *actions;
};

// USEVFORK is a hint that fork satisfies as well.
#define HANDLED_FLAGS                                                                              \
    (POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_RESETIDS |                        \
     POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_USEVFORK)

// ENOSYS, said on standard error, when a flag or file action would be
// left undone; 0 when all can be done.
static int unhandled(const posix_spawn_file_actions_t *fa, const posix_spawnattr_t *attr) {
    short flags = 0;
    if (attr != NULL)
        posix_spawnattr_getflags(attr, &flags);
    if (flags & ~HANDLED_FLAGS) {
        dprintf(2, "proot-shim: posix_spawn flags %#x are not handled under proot: refused\n",
                (unsigned)(flags & ~HANDLED_FLAGS));
        return ENOSYS;
    }
    const struct file_actions *list = (const struct file_actions *)fa;
    for (int i = 0; list != NULL && i < list->used; ++i)
        if (list->actions[i].tag > do_fchdir) {
            dprintf(2,
                    "proot-shim: posix_spawn file action %d is not handled under proot: refused\n",
                    (int)list->actions[i].tag);
            return ENOSYS;
        }
    return 0;
}

// In the child: the actions and attributes, then the program. Failures are
// reported through the pipe as an errno value.
static void child(int report, const char *path, int search, const posix_spawn_file_actions_t *fa,
                  const posix_spawnattr_t *attr, char *const argv[], char *const envp[]) {
    int err = 0;
    short flags = 0;
    if (attr != NULL)
        posix_spawnattr_getflags(attr, &flags);
    if (flags & POSIX_SPAWN_SETSIGDEF) {
        sigset_t def;
        posix_spawnattr_getsigdefault(attr, &def);
        struct sigaction dfl;
        memset(&dfl, 0, sizeof dfl);
        dfl.sa_handler = SIG_DFL;
        for (int sig = 1; sig < NSIG; ++sig)
            if (sigismember(&def, sig) == 1)
                sigaction(sig, &dfl, NULL);
    }
    if (flags & POSIX_SPAWN_SETPGROUP) {
        pid_t pgrp;
        posix_spawnattr_getpgroup(attr, &pgrp);
        if (setpgid(0, pgrp) != 0)
            goto failed;
    }
    if (flags & POSIX_SPAWN_RESETIDS) {
        if (setgid(getgid()) != 0 || setuid(getuid()) != 0)
            goto failed;
    }
    if (fa != NULL) {
        const struct file_actions *list = (const struct file_actions *)fa;
        for (int i = 0; i < list->used; ++i) {
            const struct spawn_action *a = &list->actions[i];
            switch (a->tag) {
            case do_close:
                close(a->action.close_action.fd);
                break;
            case do_dup2:
                if (a->action.dup2_action.fd == a->action.dup2_action.newfd) {
                    int fl = fcntl(a->action.dup2_action.fd, F_GETFD);
                    if (fl < 0 || fcntl(a->action.dup2_action.fd, F_SETFD, fl & ~FD_CLOEXEC) < 0)
                        goto failed;
                } else if (dup2(a->action.dup2_action.fd, a->action.dup2_action.newfd) < 0) {
                    goto failed;
                }
                break;
            case do_open: {
                int fd = open(a->action.open_action.path, a->action.open_action.oflag,
                              a->action.open_action.mode);
                if (fd < 0)
                    goto failed;
                if (fd != a->action.open_action.fd) {
                    if (dup2(fd, a->action.open_action.fd) < 0)
                        goto failed;
                    close(fd);
                }
                break;
            }
            case do_chdir:
                if (chdir(a->action.chdir_action.path) != 0)
                    goto failed;
                break;
            case do_fchdir:
                if (fchdir(a->action.fchdir_action.fd) != 0)
                    goto failed;
                break;
            }
        }
    }
    if (flags & POSIX_SPAWN_SETSIGMASK) {
        sigset_t mask;
        posix_spawnattr_getsigmask(attr, &mask);
        sigprocmask(SIG_SETMASK, &mask, NULL);
    }
    if (search)
        execvpe(path, argv, envp);
    else
        execve(path, argv, envp);
failed:
    err = errno;
    while (write(report, &err, sizeof err) < 0 && errno == EINTR) {
    }
    _exit(127);
}

static int spawn(pid_t *pid, const char *path, int search, const posix_spawn_file_actions_t *fa,
                 const posix_spawnattr_t *attr, char *const argv[], char *const envp[]) {
    int report[2], refused = unhandled(fa, attr);
    if (refused)
        return refused;
    if (pipe2(report, O_CLOEXEC) != 0)
        return errno;
    pid_t p = fork();
    if (p < 0) {
        int err = errno;
        close(report[0]);
        close(report[1]);
        return err;
    }
    if (p == 0) {
        close(report[0]);
        child(report[1], path, search, fa, attr, argv, envp);
    }
    close(report[1]);
    int err = 0;
    ssize_t n;
    while ((n = read(report[0], &err, sizeof err)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    if (n == (ssize_t)sizeof err) {
        // The program never started: reap the child, as posix_spawn does.
        int status;
        while (waitpid(p, &status, 0) < 0 && errno == EINTR) {
        }
        return err;
    }
    if (pid != NULL)
        *pid = p;
    return 0;
}

int posix_spawn(pid_t *pid, const char *path, const posix_spawn_file_actions_t *fa,
                const posix_spawnattr_t *attr, char *const argv[], char *const envp[]) {
    return spawn(pid, path, 0, fa, attr, argv, envp);
}

int posix_spawnp(pid_t *pid, const char *file, const posix_spawn_file_actions_t *fa,
                 const posix_spawnattr_t *attr, char *const argv[], char *const envp[]) {
    return spawn(pid, file, 1, fa, attr, argv, envp);
}
