// Scratch files for the tests and the benchmarks.
#include "scratch.h"

#include <dirent.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

std::string
make_temp_dir(const char *tag)
{
	std::string templ = std::string("/tmp/vek-") + tag + "-XXXXXX";
	if (mkdtemp(templ.data()) == nullptr) {
		perror("mkdtemp");
		abort();
	}
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
write_file(const std::string &path, const std::string &text)
{
	std::ofstream out(path, std::ios::binary);
	out << text;
	out.close();
	if (!out) {
		fprintf(stderr, "cannot write %s\n", path.c_str());
		abort();
	}
}

std::string
read_file(const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	std::ostringstream text;
	text << in.rdbuf();
	return text.str();
}

void
copy_file(const std::string &from, const std::string &to, int mode)
{
	write_file(to, read_file(from));
	chmod(to.c_str(), static_cast<mode_t>(mode));
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
	char *resolved = realpath(path.c_str(), nullptr);
	std::string result = resolved != nullptr ? resolved : path;
	free(resolved);
	return result;
}

std::vector<std::string>
list_dir(const std::string &path)
{
	std::vector<std::string> names;
	DIR *dir = opendir(path.c_str());
	if (dir == nullptr)
		return names;
	for (struct dirent *entry; (entry = readdir(dir)) != nullptr;) {
		std::string name = entry->d_name;
		if (name != "." && name != "..")
			names.push_back(name);
	}
	closedir(dir);
	return names;
}
