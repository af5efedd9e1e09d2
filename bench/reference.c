// SPDX-License-Identifier: MIT
#include "reference.h"

#include <stdio.h>
#include <stdlib.h>

void ref_create_list(const int32_t *values, int32_t count) {
    node *first = NULL, *last = NULL;
    for (int32_t i = 0; i < count; i++) {
        node *n = malloc(sizeof *n);
        if (n == NULL) {
            puts("\n\tfailed to allocate memory\n");
            exit(-1);
        }
        n->data = values[i];
        n->next = NULL;
        if (first == NULL)
            first = n;
        else
            last->next = n;
        last = n;
    }
    if (head == NULL) {
        head = first;
        return;
    }
    node *t = head;
    while (t->next != NULL)
        t = t->next;
    t->next = first;
}

int32_t ref_search_data(int32_t key) {
    if (head == NULL) {
        puts("\n\tthe list is empty \n");
        return -1;
    }
    int32_t pos = 1;
    for (node *n = head; n != NULL; n = n->next, pos++)
        if (n->data == key)
            return pos;
    return 0;
}

int32_t ref_cnt_nodes(void) {
    if (head == NULL) {
        puts("\n\tthe list is empty \n");
        return 0;
    }
    int32_t count = 0;
    for (node *n = head; n != NULL; n = n->next)
        count++;
    return count;
}

void ref_delete_node(int32_t key) {
    if (head == NULL) {
        puts("\n\tThe list is empt \n");
        return;
    }
    if (head->data == key) {
        node *old = head;
        head = head->next;
        free(old);
        return;
    }
    for (node *prev = head, *cur = head->next; cur != NULL; prev = cur, cur = cur->next) {
        if (cur->data == key) {
            prev->next = cur->next;
            free(cur);
            return;
        }
    }
    puts("\n\tthe element not found\n");
}

static node *ref_find(int32_t key, node **prev, int32_t *pos) {
    *prev = NULL;
    *pos = 1;
    for (node *n = head; n != NULL; *prev = n, n = n->next, (*pos)++)
        if (n->data == key)
            return n;
    return NULL;
}

void ref_swap_nodes(int32_t first, int32_t second) {
    if (first == second)
        return;
    if (head == NULL) {
        puts("\n\tthe list is empty\n");
        return;
    }
    node *pa, *pb;
    int32_t ia, ib;
    node *a = ref_find(first, &pa, &ia);
    node *b = ref_find(second, &pb, &ib);
    if (a == NULL || b == NULL) {
        puts("\n\tthe data not found\n");
        return;
    }
    node *p = ia < ib ? a : b, *pp = ia < ib ? pa : pb;
    node *q = ia < ib ? b : a, *qp = ia < ib ? pb : pa;
    if (p->next == q) {
        p->next = q->next;
        q->next = p;
    } else {
        node *pn = p->next;
        p->next = q->next;
        q->next = pn;
        qp->next = p;
    }
    if (pp == NULL)
        head = q;
    else
        pp->next = q;
}

void ref_display(void) {
    if (head == NULL) {
        puts("\n\tthe list is empty \n");
        return;
    }
    printf("\nThe data : ");
    for (node *n = head; n != NULL; n = n->next)
        printf("%d  ", n->data);
    puts("\n");
}

void ref_delete_duplicate_nodes(void) {
    if (head == NULL) {
        puts("\n\tthe list is empty\n");
        return;
    }
    for (node *k = head; k != NULL; k = k->next) {
        node *prev = k, *cur = k->next;
        while (cur != NULL) {
            if (cur->data == k->data) {
                prev->next = cur->next;
                free(cur);
                cur = prev->next;
            } else {
                prev = cur;
                cur = cur->next;
            }
        }
    }
}
