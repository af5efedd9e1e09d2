// SPDX-License-Identifier: MIT
/*
 * listcore.h - one singly linked list of 32-bit signed integers.
 *
 * The program that uses the list defines the head, once, as an ordinary
 * global:
 *
 *     node *head = NULL;
 *
 * liblistcore.so and the list modules (prequill.o, postquill.o, twinpurge.o,
 * topdrop.o, seeker.o, tally.o, lister.o) all work on that one variable.
 * Nodes are allocated with malloc by the operations that add values and
 * freed with free by the operations that remove them; nodes still in the
 * list when the process ends are left to the process's end.
 *
 * Refusals (empty list, value not found) are reported by a message line on
 * standard output and leave the list unchanged. When a node cannot be
 * allocated the operation writes its message line and ends the process with
 * exit(-1), status 255.
 *
 * Not thread-safe: call the operations from one thread at a time.
 */
#ifndef LISTCORE_H
#define LISTCORE_H

#include <stdint.h>

#if defined(__GNUC__)
#define LISTCORE_API __attribute__((visibility("default")))
#else
#define LISTCORE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* One list element, one malloc'ed record. */
typedef struct node {
    int32_t data;
    struct node *next;
} node;

/* The first node, NULL for the empty list. Defined by the program. */
extern LISTCORE_API node *head;

/* liblistcore.so */

/* Append count values from values[] to the end of the list. The values are
 * copied; the array stays the caller's. A count of 0 or less adds nothing.
 * The list is untouched until every new node has been allocated. */
LISTCORE_API void create_list(const int32_t *values, int32_t count);

/* Print the list: "\nThe data : " then each value and two blanks, then two
 * newlines; "\n\tthe list is empty \n" for the empty list. Also lister.o. */
LISTCORE_API void display(void);

/* Remove and free the first node holding key. */
LISTCORE_API void delete_node(int32_t key);

/* Exchange the places of the first nodes holding first and second. Nodes
 * move, values stay in their nodes. Equal arguments do nothing. */
LISTCORE_API void swap_nodes(int32_t first, int32_t second);

/* prequill.o: insert value before the first node holding key. */
LISTCORE_API void add_before_node(int32_t key, int32_t value);

/* postquill.o: insert value after the first node holding key. */
LISTCORE_API void add_after_node(int32_t key, int32_t value);

/* topdrop.o: remove and free the first node. */
LISTCORE_API void topdrop(void);

/* twinpurge.o: keep the first node of every value, free the later ones. */
LISTCORE_API void delete_duplicate_nodes(void);

/* seeker.o: position (from 1) of the first node holding key; 0 when no node
 * holds it, -1 for the empty list. */
LISTCORE_API int32_t search_data(int32_t key);

/* tally.o: number of nodes; 0 (with a message) for the empty list. */
LISTCORE_API int32_t cnt_nodes(void);

#ifdef __cplusplus
}
#endif

#endif /* LISTCORE_H */
