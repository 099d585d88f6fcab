/*
 * Argument vectors and response files.  argv_write and argv_split are the
 * two halves of one text format, so that a command line too long to pass
 * directly can go through a file and come back argument for argument.
 * argv_expand leaves the caller's vector alone and works on a copy, made
 * only once a file has really been read, so that the caller can tell from
 * the pointer alone whether anything was expanded.
 */
#include "support/argv.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "support/char_class.h"
#include "support/checked.h"
#include "support/portability.h"
#include "support/quote.h"

/* Room for the first few arguments before the vector has to grow. */
constexpr size_t SPLIT_FIRST_CAPACITY = 8;

char **
argv_dup(char *const *argv)
{
	if (argv == nullptr)
		return nullptr;
	int count = argv_count(argv);
	auto **copy = static_cast<char **>(
	    checked_malloc((static_cast<size_t>(count) + 1) * sizeof(char *)));
	for (int i = 0; i < count; i++)
		copy[i] = checked_strdup(argv[i]);
	copy[count] = nullptr;
	return copy;
}

void
argv_free(char **argv)
{
	if (argv == nullptr)
		return;
	for (char **arg = argv; *arg != nullptr; arg++)
		free(*arg);
	free(argv);
}

int
argv_count(char *const *argv)
{
	int count = 0;
	if (argv != nullptr)
		while (argv[count] != nullptr)
			count++;
	return count;
}

static const char *
skip_space(const char *p)
{
	while (char_is_space(static_cast<unsigned char>(*p)))
		p++;
	return p;
}

/*
 * The bytes that end a run of plain argument text: NUL, whitespace, the
 * quotes and backslash.  Less NUL, they are the bytes the writer escapes.
 * One table load per byte keeps both loops tight on long response files.
 */
struct byte_set {
	bool member[256];
};

static constexpr byte_set
make_run_stops()
{
	byte_set set{};
	for (int c = 0; c < 256; c++)
		set.member[c] = c == '\0' ||
		                (char_class_table[c] & CHAR_SPACE) ||
		                c == '\'' || c == '"' || c == '\\';
	return set;
}

static constexpr byte_set run_stops = make_run_stops();

static bool
is_special(unsigned char c)
{
	return run_stops.member[c];
}

/*
 * Copy one argument from P into OUT without its quotes and escapes, and
 * set *LEN to its length; return where it ended, at unquoted whitespace or
 * the end of the text.  A backslash takes the next byte literally, inside
 * quotes too; a quote runs to its partner or to the end of the text.
 */
static const char *
collect_argument(const char *p, char *out, size_t *len)
{
	char *const start = out;
	for (;;) {
		/* Plain bytes, the bulk of any argument, go straight through.
		 */
		while (!is_special(static_cast<unsigned char>(*p)))
			*out++ = *p++;
		char c = *p;
		if (c == '\0' || char_is_space(static_cast<unsigned char>(c)))
			break;
		p++;
		if (c == '\\') {
			if (*p != '\0')
				*out++ = *p++;
			continue;
		}
		while (*p != '\0' && *p != c) {
			if (*p == '\\' && *++p == '\0')
				break;
			*out++ = *p++;
		}
		if (*p == c)
			p++;
	}
	*out = '\0';
	*len = static_cast<size_t>(out - start);
	return p;
}

/* Room for the argument at USED and the null behind it; the vector grows
 * by doubling. */
static char **
make_room(char **argv, size_t *capacity, size_t used)
{
	if (argv == nullptr) {
		*capacity = SPLIT_FIRST_CAPACITY;
		argv = static_cast<char **>(
		    checked_malloc(*capacity * sizeof(char *)));
	} else if (used >= *capacity - 1) {
		/* A vector's count is an int: one too long to count is as
		 * unusable as one that cannot be allocated. */
		if (*capacity > static_cast<size_t>(INT_MAX) / 2)
			report_out_of_memory(2 * *capacity * sizeof(char *));
		*capacity *= 2;
		argv = static_cast<char **>(
		    checked_realloc(argv, *capacity * sizeof(char *)));
	} else {
		return argv;
	}
	argv[used] = nullptr;
	return argv;
}

char **
argv_split(const char *text)
{
	if (text == nullptr)
		return nullptr;

	/* No argument is longer than the text it came from. */
	char *work = static_cast<char *>(checked_malloc(strlen(text) + 1));
	char **argv = nullptr;
	size_t capacity = 0, used = 0;
	const char *p = skip_space(text);
	/* At least once: an empty text is one empty argument. */
	do {
		argv = make_room(argv, &capacity, used);
		size_t len;
		p = collect_argument(p, work, &len);
		argv[used] = static_cast<char *>(
		    memcpy(checked_malloc(len + 1), work, len + 1));
		argv[++used] = nullptr;
		p = skip_space(p);
	} while (*p != '\0');
	free(work);
	return argv;
}

/* One argument and its newline; the caller holds the stream's lock.  Runs
 * of bytes that need no escape go out in one piece. */
static bool
write_argument(const char *arg, FILE *stream)
{
	const char *p = arg;
	while (*p != '\0') {
		const char *run = p;
		while (!is_special(static_cast<unsigned char>(*p)))
			p++;
		size_t len = static_cast<size_t>(p - run);
		if (len > 0 && VEK_FWRITE_UNLOCKED(run, 1, len, stream) != len)
			return false;
		if (*p == '\0')
			break;
		if (putc_unlocked('\\', stream) == EOF ||
		    putc_unlocked(static_cast<unsigned char>(*p), stream) ==
		        EOF)
			return false;
		p++;
	}
	/* Without the quotes an empty argument would vanish on reading. */
	if (*arg == '\0' && (putc_unlocked('"', stream) == EOF ||
	                     putc_unlocked('"', stream) == EOF))
		return false;
	return putc_unlocked('\n', stream) != EOF;
}

int
argv_write(char *const *argv, FILE *stream)
{
	if (stream == nullptr)
		return 1;
	/* Lock the stream once for the whole vector, not once per write:
	 * archive commands name thousands of members. */
	flockfile(stream);
	bool written = true;
	for (char *const *arg = argv; written && *arg != nullptr; arg++)
		written = write_argument(*arg, stream);
	funlockfile(stream);
	return written ? 0 : 1;
}

[[noreturn]] static void
expand_failed(const char *program, const char *reason)
{
	fatal_error("%s: error: %s\n", quote_name(program), reason);
}

/*
 * The whole text of the response file NAME in one read, ending at its first
 * NUL byte.  Null when it cannot be opened, sized or read: such an argument
 * is passed on as it is.
 */
static char *
read_response_file(const char *name)
{
	FILE *file = fopen(name, "r");
	if (file == nullptr)
		return nullptr;

	char *text = nullptr;
	long size;
	size_t got;
	if (fseek(file, 0, SEEK_END) != 0 || (size = ftell(file)) < 0 ||
	    fseek(file, 0, SEEK_SET) != 0)
		goto out;
	text =
	    static_cast<char *>(checked_malloc(static_cast<size_t>(size) + 1));
	got = fread(text, 1, static_cast<size_t>(size), file);
	/* A file that shrank meanwhile reads short without error: use it. */
	if (got < static_cast<size_t>(size) && ferror(file)) {
		free(text);
		text = nullptr;
		goto out;
	}
	text[got] = '\0';
out:
	fclose(file);
	return text;
}

static bool
all_space(const char *text)
{
	return *skip_space(text) == '\0';
}

/* An empty file must remove its "@" argument, while argv_split("") would
 * give one empty argument. */
static char **
file_arguments(const char *text)
{
	if (!all_space(text))
		return argv_split(text);
	auto **none = static_cast<char **>(checked_malloc(sizeof(char *)));
	none[0] = nullptr;
	return none;
}

/* Put the arguments of FILE_ARGS in place of element AT, taking over their
 * strings; the array of FILE_ARGS is freed. */
static void
splice(int *argcp, char ***argvp, int at, char **file_args)
{
	int count = *argcp;
	int added = argv_count(file_args);
	if (added > INT_MAX - count)
		report_out_of_memory((static_cast<size_t>(count) + added) *
		                     sizeof(char *));

	char **argv = *argvp;
	free(argv[at]);
	argv = static_cast<char **>(checked_realloc(
	    argv, (static_cast<size_t>(count) + 1 + added) * sizeof(char *)));
	/* The tail moves with its terminating null. */
	memmove(argv + at + added, argv + at + 1,
	        static_cast<size_t>(count - at) * sizeof(char *));
	memcpy(argv + at, file_args,
	       static_cast<size_t>(added) * sizeof(char *));
	free(file_args);
	*argvp = argv;
	*argcp = count - 1 + added;
}

void
argv_expand(int *argcp, char ***argvp)
{
	char **const original = *argvp;
	int countdown = ATFILE_LIMIT;

	/* Element 0 is the program's name, never a response file.  The index
	 * does not move past an expansion: what came from the file is
	 * examined next, so nested files expand in turn. */
	for (int i = 1; i < *argcp;) {
		const char *arg = (*argvp)[i];
		if (arg[0] != '@') {
			i++;
			continue;
		}
		if (--countdown == 0)
			expand_failed((*argvp)[0],
			              "too many @-files encountered");

		const char *name = arg + 1;
		struct stat st;
		if (stat(name, &st) != 0) {
			i++;
			continue;
		}
		if (S_ISDIR(st.st_mode))
			expand_failed((*argvp)[0],
			              "@-file refers to a directory");
		/*
		 * A FIFO could not be sized, so it would be passed on as it
		 * is in any case; opening it would only wait for a writer,
		 * perhaps for ever, or break the pipe of one that is there.
		 */
		if (S_ISFIFO(st.st_mode)) {
			i++;
			continue;
		}

		char *text = read_response_file(name);
		if (text == nullptr) {
			i++;
			continue;
		}
		char **file_args = file_arguments(text);
		free(text);
		if (*argvp == original)
			*argvp = argv_dup(original);
		splice(argcp, argvp, i, file_args);
	}
}
