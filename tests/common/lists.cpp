// Prefix lists as the tests see them.
#include "lists.h"

#include <stdlib.h>

std::vector<std::string>
list_texts(const prefix_list &list)
{
	std::vector<std::string> texts;
	for (const prefix_entry *e = list.entries; e != nullptr;
	     e = e->next_entry)
		texts.push_back(e->prefix_text);
	return texts;
}

void
free_list(prefix_list *list)
{
	while (prefix_entry *e = list->entries) {
		list->entries = e->next_entry;
		free(e->prefix_text);
		free(e);
	}
	// Every field, so that one added to the record is reset too.
	*list = prefix_list{};
}
