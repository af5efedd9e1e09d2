// SPDX-License-Identifier: MIT
/* Plain references the list benchmarks measure the deliverables against:
 * the list walks written the simplest C way, one printf per node, the quadratic
 * duplicate walk. Never linked into a deliverable. */
#ifndef BENCH_REFERENCE_H
#define BENCH_REFERENCE_H

#include "listcore.h"

#ifdef __cplusplus
extern "C" {
#endif

void ref_create_list(const int32_t *values, int32_t count);
int32_t ref_search_data(int32_t key);
int32_t ref_cnt_nodes(void);
void ref_delete_node(int32_t key);
void ref_swap_nodes(int32_t first, int32_t second);
void ref_display(void);
void ref_delete_duplicate_nodes(void);

#ifdef __cplusplus
}
#endif

#endif
