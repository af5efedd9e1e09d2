/* SPDX-License-Identifier: GPL-2.0 */
/*
 * turnpair.h - the names of turnpair's workers and the lines it logs, as
 * the module writes them; its tests and the demonstration read them from
 * here too (failnth.c includes this, the scripts read the defines, a line
 * each).
 * A worker's line takes the value it saw.
 */
#ifndef TURNPAIR_H
#define TURNPAIR_H

#define TURNPAIR_ODD_WORKER "vurt"
#define TURNPAIR_EVEN_WORKER "mykthread2"

#define TURNPAIR_CREATED "our thread created succesfully \n"
#define TURNPAIR_STARTED "out thread started now\n"
#define TURNPAIR_HAD_STARTED "out thread has already started \n"
#define TURNPAIR_NOT_CREATED "failed to create the thread \n"
#define TURNPAIR_ODD_VALUE "thread1 : %d \n"
#define TURNPAIR_EVEN_VALUE "\t\tthread2 : %d \n"
#define TURNPAIR_STOPPED "our thread is stoped \n"
#define TURNPAIR_DRIVER "my char driver : \n"
#define TURNPAIR_UNLOADED "unloaded succesfully\n"

#endif /* TURNPAIR_H */
