/*
 * String joining.  The heap joiners walk their list twice, once to measure
 * and once to copy, so that each result is one allocation of exact size.
 */
#include "support/join.h"

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include "support/checked.h"

char *join_scratch_buffer = nullptr;

static size_t
length_of(const char *first, va_list ap)
{
	size_t total = 0;
	for (const char *s = first; s != nullptr; s = va_arg(ap, const char *))
		total += strlen(s);
	return total;
}

static char *
copy_into(char *dest, const char *first, va_list ap)
{
	char *end = dest;
	for (const char *s = first; s != nullptr;
	     s = va_arg(ap, const char *)) {
		size_t len = strlen(s);
		memcpy(end, s, len);
		end += len;
	}
	*end = '\0';
	return dest;
}

/* Measure, allocate once, copy: shared by join_strings and rejoin_strings. */
static char *
join_on_heap(const char *first, va_list ap)
{
	va_list again;
	va_copy(again, ap);
	char *result =
	    static_cast<char *>(checked_malloc(length_of(first, ap) + 1));
	copy_into(result, first, again);
	va_end(again);
	return result;
}

size_t
join_length(const char *first, ...)
{
	va_list ap;
	va_start(ap, first);
	size_t total = length_of(first, ap);
	va_end(ap);
	return total;
}

char *
join_into(char *dest, const char *first, ...)
{
	va_list ap;
	va_start(ap, first);
	copy_into(dest, first, ap);
	va_end(ap);
	return dest;
}

char *
join_into_scratch(const char *first, ...)
{
	va_list ap;
	va_start(ap, first);
	copy_into(join_scratch_buffer, first, ap);
	va_end(ap);
	return join_scratch_buffer;
}

char *
join_strings(const char *first, ...)
{
	va_list ap;
	va_start(ap, first);
	char *result = join_on_heap(first, ap);
	va_end(ap);
	return result;
}

char *
rejoin_strings(char *old, const char *first, ...)
{
	va_list ap;
	va_start(ap, first);
	char *result = join_on_heap(first, ap);
	va_end(ap);
	/* Freed only now: OLD may be one of the strings just copied. */
	free(old);
	return result;
}
