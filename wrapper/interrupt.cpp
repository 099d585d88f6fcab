/*
 * Signals that would end us while the tool runs.  The handler only records
 * the signal and relays it to the tool; the run itself decides, at points
 * where no file of ours is half made, when to clean up and end.
 */
#include "wrapper/interrupt.h"

#include <errno.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include "pex/pex.h"
#include "support/portability.h"

static volatile sig_atomic_t first_caught = 0;
/* One flag per signal: real-time signals lie beyond any word's bits. */
static volatile sig_atomic_t caught_flags[VEK_NSIG] = {};

/*
 * The signals we leave alone: those that cannot be caught; those whose
 * default is to be ignored, stop or continue, which end nobody; and those
 * that report a fault of our own, which must end us at once and where the
 * fault is.  A broken pipe is ours too: it comes from our own write to
 * standard error, and the tool's output is its own affair.
 */
static bool
passed_on(int sig)
{
	switch (sig) {
	case SIGKILL:
	case SIGSTOP:
	case SIGCHLD:
	case SIGCONT:
	case SIGTSTP:
	case SIGTTIN:
	case SIGTTOU:
	case SIGURG:
	case SIGWINCH:
	case SIGSEGV:
	case SIGBUS:
	case SIGFPE:
	case SIGILL:
	case SIGTRAP:
	case SIGSYS:
	case SIGPIPE:
		return false;
	default:
		return true;
	}
}

static void
on_signal(int sig)
{
	int saved_errno = errno;
	if (first_caught == 0)
		first_caught = sig;
	caught_flags[sig] = 1;
	pex_relay_signal(sig);
	errno = saved_errno;
}

void
interrupt_catch(void)
{
	signal(SIGCHLD, SIG_DFL);

	struct sigaction action = {};
	action.sa_handler = on_signal;
	/* The run's reads and writes go on; only the wait cares. */
	action.sa_flags = SA_RESTART;
	/* first_caught is tested and set in steps: no handler may cut into
	 * another. */
	sigfillset(&action.sa_mask);

	/* Numbers the C library keeps for itself are refused; that is fine. */
	for (int sig = 1; sig < VEK_NSIG; sig++) {
		struct sigaction old;
		if (!passed_on(sig) || sigaction(sig, &action, &old) != 0)
			continue;
		/* nohup and background jobs ignore some; so must the tool. */
		if (old.sa_handler == SIG_IGN)
			sigaction(sig, &old, nullptr);
	}
}

int
interrupt_first(void)
{
	return first_caught;
}

bool
interrupt_caught(int sig)
{
	return sig > 0 && sig < VEK_NSIG && caught_flags[sig] != 0;
}

void
interrupt_die(int sig)
{
	sigset_t only;
	/* The tool wrote its core, if any: ours would take its place. */
	struct rlimit no_core;
	if (getrlimit(RLIMIT_CORE, &no_core) == 0) {
		no_core.rlim_cur = 0;
		setrlimit(RLIMIT_CORE, &no_core);
	}

	signal(sig, SIG_DFL);
	sigemptyset(&only);
	sigaddset(&only, sig);
	sigprocmask(SIG_UNBLOCK, &only, nullptr);
	raise(sig);
	/* Not reached for the signals we end by; stay a failure if it is. */
	_exit(128 + sig);
}
