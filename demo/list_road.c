// SPDX-License-Identifier: MIT
/* A walk through the list: liblistcore.so with the list modules, from C. */
#include <stdio.h>

#include "listcore.h"

node *head = NULL;

int main(void) {
    const int32_t values[] = {1, 2, 3};

    printf("create_list(1, 2, 3)");
    create_list(values, 3);
    display();

    printf("add_after_node(2, 9)");
    add_after_node(2, 9);
    display();

    printf("swap_nodes(1, 3)");
    swap_nodes(1, 3);
    display();

    printf("delete_node(9)");
    delete_node(9);
    display();

    printf("search_data(1) = %d\n", search_data(1));
    printf("cnt_nodes() = %d\n", cnt_nodes());

    printf("topdrop()");
    topdrop();
    display();
    return 0;
}
