/* SPDX-License-Identifier: GPL-2.0 WITH Linux-syscall-note */
/*
 * qvx_device.h - the two ioctl commands of /dev/qvx_device, shared by the
 * driver (kernel C) and devpoke (user-space C++).
 *
 * Both commands announce an 8-byte argument; the value itself is a 32-bit
 * signed integer in its first four bytes, whatever the byte order. Callers
 * hand over 8-byte buffers, so a driver that moves the announced size stays
 * inside them. The size comes from a fixed-width type, never a pointer or a
 * long, so that 32-bit programs build the same command numbers.
 */
#ifndef QVX_DEVICE_H
#define QVX_DEVICE_H

#include <linux/ioctl.h>
#include <linux/types.h>
#ifdef __KERNEL__
#include <linux/build_bug.h>
#elif !defined(__cplusplus)
#include <assert.h>
#endif

#define QVX_DEVICE_PATH "/dev/qvx_device"

/* Hands the driver a value. */
#define WRITE_VALUE_CMD _IOW('a', 'a', __u64)
/* Fetches a value from the driver. */
#define READ_VALUE_CMD _IOR('a', 'b', __u64)

static_assert(WRITE_VALUE_CMD == 0x40086161, "WRITE_VALUE_CMD must be 0x40086161");
static_assert(READ_VALUE_CMD == 0x80086162, "READ_VALUE_CMD must be 0x80086162");

#endif /* QVX_DEVICE_H */
