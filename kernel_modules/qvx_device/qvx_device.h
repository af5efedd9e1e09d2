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

/*
 * Hands the driver a value. Only a descriptor opened for writing may: on one
 * opened read-only the call fails with EBADF and the value stays as it was.
 */
#define WRITE_VALUE_CMD _IOW('a', 'a', __u64)
/*
 * Fetches a value from the driver, on any descriptor of the node, one opened
 * write-only too: whoever may open it for writing sets the value anyway.
 */
#define READ_VALUE_CMD _IOR('a', 'b', __u64)

/*
 * The numbers differ between architectures: where each field lies and how
 * a direction is encoded is the architecture's (x86 and Arm give 0x40086161
 * and 0x80086162; powerpc, mips and sparc other numbers). What holds
 * everywhere is what they say: type 'a', numbers 'a' and 'b', 8 bytes, and
 * the direction of each as the architecture's own macros encode it.
 */
static_assert(_IOC_TYPE(WRITE_VALUE_CMD) == 'a' && _IOC_NR(WRITE_VALUE_CMD) == 'a' &&
		      _IOC_SIZE(WRITE_VALUE_CMD) == 8 && _IOC_DIR(WRITE_VALUE_CMD) == _IOC_WRITE,
	      "WRITE_VALUE_CMD: 'a', 'a', 8 bytes, written to the driver");
static_assert(_IOC_TYPE(READ_VALUE_CMD) == 'a' && _IOC_NR(READ_VALUE_CMD) == 'b' &&
		      _IOC_SIZE(READ_VALUE_CMD) == 8 && _IOC_DIR(READ_VALUE_CMD) == _IOC_READ,
	      "READ_VALUE_CMD: 'a', 'b', 8 bytes, read from the driver");

#ifndef __KERNEL__
#include <string.h>
/* The argument as every caller lays it out: zeroed, the value first. */
struct qvx_arg {
	unsigned char bytes[8];
};
static inline struct qvx_arg qvx_arg_of(__s32 value)
{
	struct qvx_arg arg = { { 0 } };

	memcpy(arg.bytes, &value, sizeof(value));
	return arg;
}
static inline __s32 qvx_value_of(const struct qvx_arg *arg)
{
	__s32 value;

	memcpy(&value, arg->bytes, sizeof(value));
	return value;
}
static_assert(sizeof(struct qvx_arg) == _IOC_SIZE(WRITE_VALUE_CMD), "an argument of 8 bytes");
#endif

#endif /* QVX_DEVICE_H */
