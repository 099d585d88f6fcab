/*
 * Prefix lists: ordered lists of string prefixes (normally directories
 * ending in '/') through which a file is looked up by plain concatenation,
 * first match winning.  Lists only grow; they copy what they are given.
 */
#ifndef VEK_FINDFILE_PREFIX_LIST_H
#define VEK_FINDFILE_PREFIX_LIST_H

struct stat;

struct prefix_entry {
	char *prefix_text;               /* the list's own copy */
	struct prefix_entry *next_entry; /* null for the last */
};

struct prefix_list {
	struct prefix_entry *entries; /* null while empty */
	int longest_prefix;           /* longest ever added; never lowered */
	struct prefix_entry
	    *last_entry; /* where appends go; null while empty */
};

/* Add PREFIX first (AT_FRONT) or last, exactly as given: no '/' is added,
 * and a prefix already present is added again. */
void prefix_add(struct prefix_list *list, const char *prefix, bool at_front);
void prefix_append(struct prefix_list *list, const char *prefix);
void prefix_prepend(struct prefix_list *list, const char *prefix);

/* Append each ':'-separated component of TEXT, with a '/' added where it
 * lacks one; an empty component becomes "./". */
void prefixes_from_string(const char *text, struct prefix_list *list);

/* prefixes_from_string of the variable NAME's value; unset adds nothing. */
void prefixes_from_env(const char *name, struct prefix_list *list);

/*
 * Try each prefix followed directly by NAME; the first candidate that
 * exists, is not a directory and passes access(MODE) wins.  An absolute
 * NAME is checked alone, on access(MODE) only.  Returns a heap string the
 * caller owns, or null.
 */
char *find_in_prefixes(const struct prefix_list *list, const char *name,
                       int mode);

/* What a caller may add to a lookup; either may be null. */
struct lookup_hooks {
	/* Given each candidate before it is tested; only lent for the call. */
	void (*tried)(const char *candidate);
	/* Given each candidate that passed the tests, with what stat said of
	 * it and whether it is a symbolic link; true passes it over and the
	 * search goes on.  Not asked of an absolute NAME. */
	bool (*passed_over)(const char *candidate, const struct stat *st,
	                    bool is_link);
};

/*
 * find_in_prefixes with HOOKS (unless null): TRIED sees the absolute NAME
 * alone, or the prefixes with NAME up to the one that wins; PASSED_OVER may
 * refuse a candidate that would have won.
 */
char *find_in_prefixes_hooked(const struct prefix_list *list, const char *name,
                              int mode, const struct lookup_hooks *hooks);

/* Turn the lookup trace on standard error on or off (off at start).  The
 * programs keep it off and word their own trace through the hooks above. */
void set_lookup_trace(bool on);

#endif
