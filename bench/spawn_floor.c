/* The floor for start-up overhead: start the command, wait, pass its status on. */
#include <spawn.h>
#include <sys/wait.h>
extern char **environ;
int main(int argc, char **argv) {
	pid_t pid; int status;
	if (argc < 2 || posix_spawnp(&pid, argv[1], 0, 0, argv + 1, environ) != 0) return 127;
	if (waitpid(pid, &status, 0) < 0) return 127;
	return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
