/*
 * Host differences and compiler annotations, kept in one place so that no
 * module needs an #ifdef of its own.
 */
#ifndef VEK_SUPPORT_PORTABILITY_H
#define VEK_SUPPORT_PORTABILITY_H

#include <errno.h>
#include <limits.h>
#include <signal.h>
#include <sys/wait.h>

/* Variadic string lists end in a null pointer; let the compiler check it. */
#define VEK_SENTINEL __attribute__((sentinel))
#define VEK_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))

#include <sys/mman.h>

/* Give back pages of memory still allocated that will not be read again
 * (they read as zeros if they are); a hint where there is no such call. */
#ifdef MADV_DONTNEED
#define VEK_RELEASE_PAGES(addr, len) madvise(addr, len, MADV_DONTNEED)
#else
#define VEK_RELEASE_PAGES(addr, len) ((void)0)
#endif

/* Ask for huge pages for a large mapping: one page fault, not hundreds. */
#ifdef MADV_HUGEPAGE
#define VEK_ADVISE_HUGE_PAGES(addr, len) madvise(addr, len, MADV_HUGEPAGE)
#else
#define VEK_ADVISE_HUGE_PAGES(addr, len) ((void)0)
#endif

/* Move a mapping to a new size, or give null where it must be copied. */
#ifdef MREMAP_MAYMOVE
#define VEK_REMAP(addr, old_len, new_len) vek_remap(addr, old_len, new_len)
static inline void *
vek_remap(void *addr, size_t old_len, size_t new_len)
{
	void *moved = mremap(addr, old_len, new_len, MREMAP_MAYMOVE);
	return moved == MAP_FAILED ? nullptr : moved;
}
#else
#define VEK_REMAP(addr, old_len, new_len) ((void)(addr), nullptr)
#endif

/*
 * Whether PATH leads to a file without passing through a symbolic link:
 * one look at the whole path, where a readlink per component is the
 * portable way.  -1 where the system cannot answer (no openat2, or a
 * filter refusing it); the caller then takes the portable way.
 */
#if defined(__linux__)
#include <fcntl.h>
#include <stdint.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif
#if defined(__linux__) && defined(SYS_openat2)
static inline int
vek_free_of_links(const char *path)
{
	/* struct open_how and RESOLVE_NO_SYMLINKS, as the kernel has them. */
	struct {
		uint64_t flags, mode, resolve;
	} how = {O_PATH | O_CLOEXEC, 0, 0x04};
	long fd = syscall(SYS_openat2, AT_FDCWD, path, &how, sizeof how);
	if (fd >= 0)
		close(static_cast<int>(fd));
	return fd >= 0 ? 1 : errno == ELOOP ? 0 : -1;
}
#define VEK_FREE_OF_LINKS(path) vek_free_of_links(path)
#else
#define VEK_FREE_OF_LINKS(path) ((void)(path), -1)
#endif

/* One more than the highest signal number, real-time ones included. */
#if defined(_NSIG)
#define VEK_NSIG _NSIG
#elif defined(NSIG)
#define VEK_NSIG NSIG
#else
#define VEK_NSIG 65
#endif

#ifndef PATH_MAX
#define PATH_MAX 1024
#endif

/* Not every system defines the core-dump test of a wait status. */
#ifdef WCOREDUMP
#define VEK_WCOREDUMP(status) WCOREDUMP(status)
#else
#define VEK_WCOREDUMP(status) (((status)&0x80) != 0)
#endif

/*
 * AddressSanitizer's view of memory the program hands out itself: a region
 * marked off-limits is reported when touched, until it is opened again.
 * Nothing where the sanitizer is not built in.
 */
#if defined(__SANITIZE_ADDRESS__)
#define VEK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VEK_ASAN 1
#endif
#endif
#ifdef VEK_ASAN
#include <sanitizer/asan_interface.h>
#define VEK_POISON(addr, len) ASAN_POISON_MEMORY_REGION(addr, len)
#define VEK_UNPOISON(addr, len) ASAN_UNPOISON_MEMORY_REGION(addr, len)
#else
#define VEK_ASAN 0
#define VEK_POISON(addr, len) ((void)(addr), (void)(len))
#define VEK_UNPOISON(addr, len) ((void)(addr), (void)(len))
#endif

#endif
