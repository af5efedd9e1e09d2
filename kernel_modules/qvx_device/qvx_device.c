// SPDX-License-Identifier: GPL-2.0
/*
 * qvx_device - a misc device, /dev/qvx_device, that keeps one 32-bit value.
 *
 * WRITE_VALUE_CMD stores the value the caller hands over, READ_VALUE_CMD
 * hands back the last one stored (0 before the first write); any other
 * command gets -ENOTTY. Storing needs a descriptor opened for writing
 * (-EBADF otherwise), so that a node made readable by all (0644) lets
 * anyone read the value but nobody without write access change it. Every write, read and release is logged, so that a
 * client's conversation with the device can be followed in the kernel log;
 * since any opener can make those lines, they go through the kernel's rate
 * limiting: a dialogue at a person's pace is logged whole, a loop of calls
 * leaves a few lines every five seconds and a count of those it suppressed.
 *
 * The node is made 0600, root's alone; a udev rule of the package that
 * installs the module opens it to a group. 32-bit callers are served by the
 * same commands: both take an 8-byte argument whatever the ABI, and
 * compat_ptr_ioctl turns the caller's pointer into a 64-bit one.
 *
 * With refuse_reads=1 every READ_VALUE_CMD fails with -EPERM, for trying a
 * client's failure path.
 */
#define pr_fmt(fmt) KBUILD_MODNAME ": " fmt

#include <linux/fs.h>
#include <linux/miscdevice.h>
#include <linux/module.h>
#include <linux/mutex.h>
#include <linux/uaccess.h>

#include "qvx_device.h"

static bool refuse_reads;
module_param(refuse_reads, bool, 0444);
MODULE_PARM_DESC(refuse_reads, "fail every read command with -EPERM");

static DEFINE_MUTEX(value_lock);
static s32 value;

static long qvx_ioctl(struct file *file, unsigned int cmd, unsigned long arg)
{
	void __user *argp = (void __user *)arg;
	s32 v;

	switch (cmd) {
	case WRITE_VALUE_CMD:
		if (!(file->f_mode & FMODE_WRITE))
			return -EBADF;
		if (copy_from_user(&v, argp, sizeof(v)))
			return -EFAULT;
		mutex_lock(&value_lock);
		value = v;
		mutex_unlock(&value_lock);
		pr_info_ratelimited("write %d\n", v);
		return 0;
	case READ_VALUE_CMD:
		if (refuse_reads) {
			pr_info_ratelimited("read refused\n");
			return -EPERM;
		}
		mutex_lock(&value_lock);
		v = value;
		mutex_unlock(&value_lock);
		if (copy_to_user(argp, &v, sizeof(v)))
			return -EFAULT;
		pr_info_ratelimited("read %d\n", v);
		return 0;
	default:
		return -ENOTTY;
	}
}

static int qvx_release(struct inode *inode, struct file *file)
{
	pr_info_ratelimited("release\n");
	return 0;
}

static const struct file_operations qvx_fops = {
	.owner = THIS_MODULE,
	.unlocked_ioctl = qvx_ioctl,
	.compat_ioctl = compat_ptr_ioctl,
	.release = qvx_release,
};

static struct miscdevice qvx_misc = {
	.minor = MISC_DYNAMIC_MINOR,
	.name = "qvx_device",
	.fops = &qvx_fops,
	.mode = 0600,
};

module_misc_device(qvx_misc);

MODULE_DESCRIPTION("a device that keeps one value, for trying devpoke");
MODULE_LICENSE("GPL");
MODULE_AUTHOR("qvx systems toolkit developers");
