/*
 * Checked allocation: callers never test for null, because the only answer
 * this system has to a failed allocation is one line and exit status 1.
 */
#include "support/checked.h"

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

void (*fatal_exit_hook)(void) = nullptr;

static const char *oom_program_name = "";

void
set_oom_program_name(const char *name)
{
	oom_program_name = name;
}

void
report_out_of_memory(size_t size)
{
	fatal_error("\n%s%sout of memory allocating %lu bytes\n",
	            oom_program_name, *oom_program_name != '\0' ? ": " : "",
	            (unsigned long)size);
}

void
fatal_exit(int status)
{
	if (fatal_exit_hook != nullptr)
		fatal_exit_hook();
	exit(status);
}

void
fatal_error(const char *format, ...)
{
	va_list args;

	va_start(args, format);
	vfprintf(stderr, format, args);
	va_end(args);
	fatal_exit(1);
}

void *
checked_malloc(size_t size)
{
	if (size == 0)
		size = 1;
	void *block = malloc(size);
	if (block == nullptr)
		report_out_of_memory(size);
	return block;
}

void *
checked_calloc(size_t count, size_t size)
{
	if (count == 0 || size == 0)
		count = size = 1;
	void *block = calloc(count, size);
	size_t total;
	if (block == nullptr)
		report_out_of_memory(__builtin_mul_overflow(count, size, &total)
		                         ? SIZE_MAX
		                         : total);
	return block;
}

void *
checked_realloc(void *block, size_t size)
{
	if (size == 0)
		size = 1;
	void *moved = block == nullptr ? malloc(size) : realloc(block, size);
	if (moved == nullptr)
		report_out_of_memory(size);
	return moved;
}

char *
checked_strdup(const char *text)
{
	size_t size = strlen(text) + 1;
	return static_cast<char *>(memcpy(checked_malloc(size), text, size));
}
