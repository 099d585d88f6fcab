/*
 * Host differences and compiler annotations, kept in one place so that no
 * module needs an #ifdef of its own.
 */
#ifndef VEK_SUPPORT_PORTABILITY_H
#define VEK_SUPPORT_PORTABILITY_H

#include <limits.h>
#include <signal.h>
#include <sys/wait.h>

/* Variadic string lists end in a null pointer; let the compiler check it. */
#define VEK_SENTINEL __attribute__((sentinel))
#define VEK_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))

/* Writes under a lock the caller already holds (flockfile). */
#ifdef __GLIBC__
#define VEK_FWRITE_UNLOCKED(buf, size, n, stream)                              \
	fwrite_unlocked(buf, size, n, stream)
#else
#define VEK_FWRITE_UNLOCKED(buf, size, n, stream) fwrite(buf, size, n, stream)
#endif

/* One more than the highest signal number, real-time ones included. */
#if defined(_NSIG)
#define VEK_NSIG _NSIG
#elif defined(NSIG)
#define VEK_NSIG NSIG
#else
#define VEK_NSIG 65
#endif

/* The running program's own file, as the kernel knows it. */
#if defined(__linux__)
#define VEK_SELF_EXE "/proc/self/exe"
#elif defined(__FreeBSD__)
#define VEK_SELF_EXE "/proc/curproc/file"
#else
#define VEK_SELF_EXE ""
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

#endif
