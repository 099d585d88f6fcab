/*
 * Signals that end a build job.  The handler only records the signal and
 * relays it to the tool; the run itself decides, at points where no file
 * of ours is half made, when to clean up and end.
 */
#include "wrapper/interrupt.h"

#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include "pex/pex.h"

static const int caught_signals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

static volatile sig_atomic_t first_caught = 0;
static volatile sig_atomic_t caught_mask = 0;

static int
signal_bit(int sig)
{
	return 1 << sig;
}

static void
on_signal(int sig)
{
	int saved_errno = errno;
	if (first_caught == 0)
		first_caught = sig;
	caught_mask = caught_mask | signal_bit(sig);
	pex_relay_signal(sig);
	errno = saved_errno;
}

void
interrupt_catch(void)
{
	struct sigaction action = {};
	action.sa_handler = on_signal;
	/* The run's reads and writes go on; only the wait cares. */
	action.sa_flags = SA_RESTART;
	/* caught_mask is updated in steps: no handler may cut into another. */
	sigemptyset(&action.sa_mask);
	for (int sig : caught_signals)
		sigaddset(&action.sa_mask, sig);

	for (int sig : caught_signals) {
		struct sigaction old;
		/* nohup and background jobs ignore some; so must the tool. */
		if (sigaction(sig, nullptr, &old) == 0 &&
		    old.sa_handler != SIG_IGN)
			sigaction(sig, &action, nullptr);
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
	return (caught_mask & signal_bit(sig)) != 0;
}

void
interrupt_die(int sig)
{
	sigset_t only;

	signal(sig, SIG_DFL);
	sigemptyset(&only);
	sigaddset(&only, sig);
	sigprocmask(SIG_UNBLOCK, &only, nullptr);
	raise(sig);
	/* Not reached for the signals we end by; stay a failure if it is. */
	_exit(128 + sig);
}
