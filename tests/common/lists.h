// Prefix lists as the tests see them: their entries as strings, and a way
// to empty one between cases.
#ifndef VEK_TESTS_COMMON_LISTS_H
#define VEK_TESTS_COMMON_LISTS_H

#include <string>
#include <vector>

#include "findfile/prefix_list.h"

// The prefixes of LIST, first to last.
std::vector<std::string> list_texts(const prefix_list &list);

// Free every entry of LIST and leave it as a new, empty list.
void free_list(prefix_list *list);

#endif
