// Helpers for the end-to-end tests.
#include "e2e_support.h"

#include <fcntl.h>
#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

int
run_result::exit_code() const
{
	return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool
run_result::exited() const
{
	return WIFEXITED(status);
}

run_result
run_program(const std::string &exe, const std::vector<std::string> &argv,
            const std::map<std::string, std::string> &env,
            const std::string &cwd)
{
	std::string dir = make_temp_dir("run");
	std::string out_path = dir + "/out", err_path = dir + "/err";
	std::vector<std::string> env_strings;
	for (const auto &[k, v] : env)
		env_strings.push_back(k + "=" + v);
	std::vector<char *> cargv, cenv;
	for (const auto &a : argv)
		cargv.push_back(const_cast<char *>(a.c_str()));
	cargv.push_back(nullptr);
	for (const auto &e : env_strings)
		cenv.push_back(const_cast<char *>(e.c_str()));
	cenv.push_back(nullptr);

	pid_t pid = fork();
	if (pid == 0) {
		int in = open("/dev/null", O_RDONLY);
		int out = open(out_path.c_str(), O_WRONLY | O_CREAT, 0600);
		int err = open(err_path.c_str(), O_WRONLY | O_CREAT, 0600);
		if (in < 0 || out < 0 || err < 0 || chdir(cwd.c_str()) != 0)
			_exit(120);
		dup2(in, 0);
		dup2(out, 1);
		dup2(err, 2);
		for (int fd = 3; fd < 1024; fd++)
			close(fd);
		execve(exe.c_str(), cargv.data(), cenv.data());
		_exit(121);
	}
	run_result r;
	waitpid(pid, &r.status, 0);
	r.out = read_file(out_path);
	r.err = read_file(err_path);
	remove_tree(dir);
	return r;
}

std::map<std::string, std::string>
base_env(const std::string &path)
{
	std::map<std::string, std::string> env;
	env["PATH"] = path;
	if (const char *asan = getenv("ASAN_OPTIONS"))
		env["ASAN_OPTIONS"] = std::string(asan) + ":detect_leaks=0";
	if (const char *ubsan = getenv("UBSAN_OPTIONS"))
		env["UBSAN_OPTIONS"] = ubsan;
	return env;
}

std::string
make_temp_dir(const char *tag)
{
	std::string templ = std::string("/tmp/vek-") + tag + "-XXXXXX";
	if (mkdtemp(templ.data()) == nullptr)
		throw std::runtime_error("mkdtemp");
	return real_path(templ);
}

void
remove_tree(const std::string &path)
{
	nftw(
	    path.c_str(),
	    [](const char *p, const struct stat *, int, struct FTW *) {
		    return remove(p);
	    },
	    16, FTW_DEPTH | FTW_PHYS);
}

void
make_dirs(const std::string &path)
{
	for (size_t i = 1; i <= path.size(); i++)
		if (i == path.size() || path[i] == '/')
			mkdir(path.substr(0, i).c_str(), 0755);
}

void
copy_file(const std::string &from, const std::string &to, int mode)
{
	write_file(to, read_file(from));
	chmod(to.c_str(), static_cast<mode_t>(mode));
}

void
write_file(const std::string &path, const std::string &text)
{
	std::ofstream f(path, std::ios::binary);
	f << text;
	if (!f)
		throw std::runtime_error("cannot write " + path);
}

std::string
read_file(const std::string &path)
{
	std::ifstream f(path, std::ios::binary);
	std::stringstream s;
	s << f.rdbuf();
	return s.str();
}

bool
exists(const std::string &path)
{
	struct stat st;
	return lstat(path.c_str(), &st) == 0;
}

std::string
real_path(const std::string &path)
{
	char *r = realpath(path.c_str(), nullptr);
	std::string s = r != nullptr ? r : path;
	free(r);
	return s;
}
