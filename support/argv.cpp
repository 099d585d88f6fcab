/*
 * Argument vectors and response files.  argv_write and argv_split are the
 * two halves of one text format, so that a command line too long to pass
 * directly can go through a file and come back argument for argument.
 * argv_expand leaves the caller's vector alone and works on a copy, made
 * only once a file has really been read, so that the caller can tell from
 * the pointer alone whether anything was expanded.
 */
#include "support/argv.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

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

/* Sixteen bytes, compared side by side where the machine can. */
typedef unsigned char byte_block __attribute__((vector_size(16)));

/* Readable bytes a text of ours has from its NUL on, so that a look at
 * sixteen bytes starting before the NUL stays within it. */
constexpr size_t SCAN_SLACK = sizeof(byte_block);

/*
 * Where in memory the first marked byte of the eight in HALF lies: a
 * marked byte has its high bit set.
 */
static size_t
first_marked(uint64_t half)
{
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
	return static_cast<size_t>(__builtin_ctzll(half)) / 8;
#else
	return static_cast<size_t>(__builtin_clzll(half)) / 8;
#endif
}

/*
 * Whether any of the sixteen bytes at P may end a run: one below 33 (NUL,
 * whitespace, and other control bytes that a closer look passes), a quote
 * or a backslash; *AT is then where the first of them lies.
 */
static bool
find_mark(const char *p, size_t *at)
{
	byte_block block;
	memcpy(&block, p, sizeof block);
	byte_block marks =
	    (block <= ' ') | (block == '"') | (block == '\'') | (block == '\\');
	uint64_t half[2];
	memcpy(half, &marks, sizeof half);
	if ((half[0] | half[1]) == 0)
		return false;
	*at = half[0] != 0 ? first_marked(half[0]) : 8 + first_marked(half[1]);
	return true;
}

/*
 * One look at the sixteen bytes at *P: past them when none may end the run,
 * else to the first that may; whether that one does.
 */
static bool
look(const char **p)
{
	size_t at;
	if (!find_mark(*p, &at)) {
		*p += sizeof(byte_block);
		return false;
	}
	*p += at;
	if (is_special(static_cast<unsigned char>(**p)))
		return true;
	++*p;
	return false;
}

/*
 * Past the run of plain bytes at P in a text that ends in a NUL followed
 * by SCAN_SLACK - 1 more readable bytes: sixteen bytes at a time, with no
 * test for the end, which the NUL makes.
 */
static char *
skip_plain_padded(char *p)
{
	const char *at = p;
	while (!look(&at))
		;
	return p + (at - p);
}

/*
 * Whether any of the eight bytes at P may end a run, as find_mark; each
 * test may mark a byte wrongly only past one it marks rightly, so the
 * first marked byte is worth a closer look.
 */
constexpr uint64_t EACH_BYTE = 0x0101010101010101;
constexpr uint64_t HIGH_BITS = 0x8080808080808080;

static uint64_t
has_below(uint64_t word, unsigned char n)
{
	return (word - EACH_BYTE * n) & ~word & HIGH_BITS;
}

static bool
find_mark8(const char *p, size_t *at)
{
	uint64_t word;
	memcpy(&word, p, sizeof word);
	uint64_t marks = has_below(word, ' ' + 1) |
	                 has_below(word ^ (EACH_BYTE * '"'), 1) |
	                 has_below(word ^ (EACH_BYTE * '\''), 1) |
	                 has_below(word ^ (EACH_BYTE * '\\'), 1);
	if (marks == 0)
		return false;
	*at = first_marked(marks);
	return true;
}

/*
 * Past the run of plain bytes at P, which ends at a special byte or at END:
 * sixteen bytes at a time, then eight, then byte by byte through the last
 * few.  Never reads at or past END.
 */
static const char *
skip_plain(const char *p, const char *end)
{
	while (static_cast<size_t>(end - p) >= sizeof(byte_block))
		if (look(&p))
			return p;
	size_t at;
	if (end - p >= 8) {
		if (!find_mark8(p, &at))
			p += 8;
		else if (is_special(static_cast<unsigned char>(p[at])))
			return p + at;
	}
	while (p < end && !is_special(static_cast<unsigned char>(*p)))
		p++;
	return p;
}

/*
 * Collect one argument from P, without its quotes and escapes, into OUT,
 * which lies at or before P in the same text: the text is unquoted in
 * place; the text ends in a NUL and SCAN_SLACK - 1 more bytes.  Set *LEN
 * to the argument's length and return where it ended, at unquoted
 * whitespace or the end of the text.  A backslash takes the next byte
 * literally, inside quotes too; a quote runs to its partner or to the end.
 */
static char *
collect_argument(char *p, char *out, size_t *len)
{
	char *const start = out;
	for (;;) {
		/* Plain bytes, the bulk of any argument, move as one run,
		 * and only once a quote or escape has been taken out. */
		char *run = p;
		p = skip_plain_padded(p);
		size_t run_len = static_cast<size_t>(p - run);
		if (out != run)
			memmove(out, run, run_len);
		out += run_len;
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

/*
 * Give back the whole pages between FROM and TO, which the split has left
 * behind and will not read again; return where the next release starts.
 */
static char *
release_pages(char *from, char *to)
{
	auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
	char *first =
	    from + (page - reinterpret_cast<uintptr_t>(from) % page) % page;
	char *last = to - reinterpret_cast<uintptr_t>(to) % page;
	if (last <= first)
		return from;
	VEK_RELEASE_PAGES(first, static_cast<size_t>(last - first));
	return last;
}

/* Bytes of text between page releases while a response file is split. */
constexpr size_t RELEASE_STEP = size_t{1} << 20;

/*
 * Split TEXT, which ends in a NUL and SCAN_SLACK - 1 more bytes, into a
 * new vector, unquoting each argument in place and copying it into a block
 * of its own.
 * At least one argument comes out: an empty text gives one empty argument.
 * With RELEASE, whole pages of the text behind the split are given back
 * as it goes: a response file's text is read once, and holding it all
 * beside its arguments would double what it costs.
 */
static char **
split_in_place(char *text, bool release)
{
	char *released = text;
	char **argv = nullptr;
	size_t capacity = 0, used = 0;
	char *p = const_cast<char *>(skip_space(text));
	do {
		argv = make_room(argv, &capacity, used);
		size_t len;
		char *start = p;
		p = collect_argument(p, start, &len);
		char *arg = static_cast<char *>(checked_malloc(len + 1));
		memcpy(arg, start, len);
		arg[len] = '\0';
		argv[used] = arg;
		argv[++used] = nullptr;
		p = const_cast<char *>(skip_space(p));
		if (release &&
		    static_cast<size_t>(p - released) >= RELEASE_STEP)
			released = release_pages(released, p);
	} while (*p != '\0');
	return argv;
}

char **
argv_split(const char *text)
{
	if (text == nullptr)
		return nullptr;
	/* Unquoted in a copy of its own: the caller's text stays as it is. */
	size_t size = strlen(text);
	char *work = static_cast<char *>(checked_malloc(size + SCAN_SLACK));
	memcpy(work, text, size + 1);
	memset(work + size + 1, 0, SCAN_SLACK - 1);
	char **argv = split_in_place(work, false);
	free(work);
	return argv;
}

/* Bytes gathered before they go to the stream in one write. */
constexpr size_t WRITE_BATCH = size_t{64} * 1024;

/* The response file as it is written: a batch of bytes, and its stream. */
struct batch {
	char *bytes;
	size_t used;
	FILE *stream;
	bool failed;
};

static void
flush_batch(struct batch *out)
{
	if (out->used > 0 && !out->failed &&
	    fwrite(out->bytes, 1, out->used, out->stream) != out->used)
		out->failed = true;
	out->used = 0;
}

static void
put(struct batch *out, const char *bytes, size_t len)
{
	if (out->used + len > WRITE_BATCH) {
		flush_batch(out);
		/* A run longer than the batch goes out as it is. */
		if (len > WRITE_BATCH) {
			if (!out->failed &&
			    fwrite(bytes, 1, len, out->stream) != len)
				out->failed = true;
			return;
		}
	}
	memcpy(out->bytes + out->used, bytes, len);
	out->used += len;
}

/* One argument and its newline.  Runs of bytes that need no escape go
 * out in one piece. */
static void
write_argument(const char *arg, struct batch *out)
{
	const char *p = arg, *end = arg + strlen(arg);
	while (p < end) {
		const char *run = p;
		p = skip_plain(p, end);
		put(out, run, static_cast<size_t>(p - run));
		if (p == end)
			break;
		const char escaped[2] = {'\\', *p++};
		put(out, escaped, sizeof escaped);
	}
	/* Without the quotes an empty argument would vanish on reading. */
	if (p == arg)
		put(out, "\"\"", 2);
	put(out, "\n", 1);
}

int
argv_write(char *const *argv, FILE *stream)
{
	if (stream == nullptr)
		return 1;
	/* Archive commands name a million members: gather them in a batch
	 * of our own, and hand the stream a few large writes. */
	struct batch out = {static_cast<char *>(checked_malloc(WRITE_BATCH)), 0,
	                    stream, false};
	for (char *const *arg = argv; !out.failed && *arg != nullptr; arg++)
		write_argument(*arg, &out);
	flush_batch(&out);
	free(out.bytes);
	return out.failed ? 1 : 0;
}

[[noreturn]] static void
expand_failed(const char *program, const char *reason)
{
	fatal_error("%s: error: %s\n", quote_name(program), reason);
}

/*
 * The whole text of the response file NAME, ending at its first NUL byte
 * (followed by SCAN_SLACK - 1 more).  Null when it cannot be opened, sized
 * or read: such an argument is passed on as it is.
 */
static char *
read_response_file(const char *name)
{
	int fd = open(name, O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		return nullptr;

	char *text = nullptr;
	off_t end = lseek(fd, 0, SEEK_END);
	size_t got = 0;
	if (end < 0 || lseek(fd, 0, SEEK_SET) != 0)
		goto out;
	/* Room for the NUL, and for a look past it. */
	text = static_cast<char *>(
	    checked_malloc(static_cast<size_t>(end) + SCAN_SLACK));
	/* A file that shrank meanwhile reads short: use what it holds. */
	while (got < static_cast<size_t>(end)) {
		ssize_t n =
		    read(fd, text + got, static_cast<size_t>(end) - got);
		if (n == 0)
			break;
		if (n > 0)
			got += static_cast<size_t>(n);
		else if (errno != EINTR) {
			free(text);
			text = nullptr;
			goto out;
		}
	}
	memset(text + got, 0, SCAN_SLACK);
out:
	close(fd);
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
file_arguments(char *text)
{
	if (!all_space(text))
		return split_in_place(text, true);
	auto **none = static_cast<char **>(checked_malloc(sizeof(char *)));
	none[0] = nullptr;
	return none;
}

/*
 * Put the arguments of FILE_ARGS in place of element AT, taking over their
 * strings; the array of FILE_ARGS is freed.  The longer of the two arrays
 * is the one grown, so that a file of a million arguments is not copied
 * into a second array as large.
 */
static void
splice(int *argcp, char ***argvp, int at, char **file_args)
{
	int count = *argcp;
	int added = argv_count(file_args);
	if (added > INT_MAX - count)
		report_out_of_memory((static_cast<size_t>(count) + added) *
		                     sizeof(char *));
	size_t total = static_cast<size_t>(count) + 1 + added;
	size_t head = static_cast<size_t>(at),
	       tail = static_cast<size_t>(count - at);

	char **argv = *argvp;
	free(argv[at]);
	if (added > count) {
		char **grown = static_cast<char **>(
		    checked_realloc(file_args, total * sizeof(char *)));
		memmove(grown + head, grown,
		        static_cast<size_t>(added) * sizeof(char *));
		memcpy(grown, argv, head * sizeof(char *));
		/* The tail comes with its terminating null. */
		memcpy(grown + head + added, argv + at + 1,
		       tail * sizeof(char *));
		free(argv);
		argv = grown;
	} else {
		argv = static_cast<char **>(
		    checked_realloc(argv, total * sizeof(char *)));
		memmove(argv + head + added, argv + at + 1,
		        tail * sizeof(char *));
		memcpy(argv + head, file_args,
		       static_cast<size_t>(added) * sizeof(char *));
		free(file_args);
	}
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
