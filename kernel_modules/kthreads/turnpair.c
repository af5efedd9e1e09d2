// SPDX-License-Identifier: GPL-2.0
/*
 * turnpair - two kernel threads taking turns on a shared counter.
 *
 * "vurt" advances mglb when it is odd, "mykthread2" when it is even; every
 * read-test-increment of mglb happens under spnvar, and each worker logs
 * the value it saw. Between them they log 0 to 100 in rising order and end.
 * A worker's loop test peeks at mglb without the lock, so that read and the
 * locked write are marked (READ_ONCE, WRITE_ONCE): the compiler may neither
 * tear nor cache them.
 *
 * The exit routine stops whichever worker is still running before the
 * module's code goes away, so the module can be unloaded at any moment.
 * Each worker holds a reference to its task from creation on, which keeps
 * kthread_stop() safe on a worker that has already returned by itself.
 *
 * When one worker could not be created, nobody would ever hand the other
 * its turn again: the init routine marks the survivor as alone, and a lone
 * worker takes its turn if the counter has its parity, then returns.
 */
#include <linux/err.h>
#include <linux/init.h>
#include <linux/kthread.h>
#include <linux/module.h>
#include <linux/printk.h>
#include <linux/sched.h>
#include <linux/sched/task.h>
#include <linux/spinlock.h>

#include "turnpair.h"

static int mglb;
static spinlock_t spnvar;
static struct task_struct *thr;
static struct task_struct *thr2;
static int a = 1;
/* Set under spnvar once one worker is known not to exist. */
static bool lone;

/*
 * One worker's loop: advance mglb whenever its parity is `odd`, logging the
 * value seen. A worker waiting for its turn yields the CPU at every try:
 * with voluntary preemption it would otherwise keep the only CPU of a
 * one-CPU machine, and cond_resched() gives the CPU up only once the
 * scheduler's tick has asked for it, so that each value would cost two
 * ticks there. A lone worker makes one more pass after it learns so.
 */
static int take_turns(int odd)
{
	while (READ_ONCE(mglb) <= 100 && !kthread_should_stop()) {
		bool last;

		spin_lock(&spnvar);
		last = lone;
		if (mglb <= 100 && (mglb & 1) == odd) {
			int v = mglb;

			WRITE_ONCE(mglb, v + 1);
			if (odd)
				printk(KERN_INFO TURNPAIR_ODD_VALUE, v);
			else
				printk(KERN_INFO TURNPAIR_EVEN_VALUE, v);
		}
		spin_unlock(&spnvar);
		if (last)
			break;
		yield();
	}
	return 0;
}

static int mykthread(void *ptr)
{
	return take_turns(1);
}

static int mykthread2(void *ptr)
{
	return take_turns(0);
}

static void set_lone(void)
{
	spin_lock(&spnvar);
	lone = true;
	spin_unlock(&spnvar);
}

static int __init mychar_driver(void)
{
	spin_lock_init(&spnvar);

	thr = kthread_create_on_node(mykthread, &a, -1, TURNPAIR_ODD_WORKER);
	if (IS_ERR(thr)) {
		printk(KERN_INFO TURNPAIR_NOT_CREATED);
		set_lone();
	} else {
		get_task_struct(thr);
		printk(KERN_INFO TURNPAIR_CREATED);
		if (wake_up_process(thr))
			printk(KERN_INFO TURNPAIR_STARTED);
		else
			printk(KERN_INFO TURNPAIR_HAD_STARTED);
	}

	thr2 = kthread_create_on_node(mykthread2, &a, -1, TURNPAIR_EVEN_WORKER);
	if (!IS_ERR(thr2)) {
		get_task_struct(thr2);
		wake_up_process(thr2);
	} else if (!IS_ERR(thr)) {
		set_lone();
	}
	return 0;
}

static void __exit mychar_exit(void)
{
	if (!IS_ERR(thr)) {
		kthread_stop(thr);
		put_task_struct(thr);
	}
	if (!IS_ERR(thr2)) {
		kthread_stop(thr2);
		put_task_struct(thr2);
	}
	printk(KERN_INFO TURNPAIR_STOPPED);
	printk(KERN_INFO TURNPAIR_DRIVER);
	printk(KERN_INFO TURNPAIR_UNLOADED);
}

module_init(mychar_driver);
module_exit(mychar_exit);

MODULE_DESCRIPTION("basic module");
MODULE_LICENSE("GPL");
MODULE_AUTHOR("qvx systems toolkit developers");
