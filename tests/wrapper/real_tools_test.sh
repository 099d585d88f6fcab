#!/bin/sh
# Install the programs into a scratch prefix, move the tree and reach it
# through a symbolic link, then archive, list and index real objects with
# the platform's ar, nm and ranlib and our plug-in fixture.
# Usage: real_tools_test.sh BUILD_DIR PLUGIN REL_BIN REL_PLUGIN REL_TOOL
set -eu
. "$(dirname "$0")/tree.sh"

scratch real
install_tree "$top/first"
mv "$top/first" "$top/tc"
plant "$top/tc"
platform_tools "$top/tc" ar nm ranlib
ln -s "$top/tc" "$top/link"
bin=$top/link/$rel_bin

cd "$top"
printf 'int one(void) { return 1; }\n' >one.c
printf 'int two(void) { return 2; }\n' >two.c
printf 'int three(void) { return 3; }\n' >'odd "name" here.c'
cc -c one.c two.c
cc -c 'odd "name" here.c' -o "odd \"name\" it's.o"

"$bin/vek-ar" rcs libx.a one.o two.o || fail "vek-ar rcs"
[ "$("$bin/vek-ar" t libx.a)" = "$(printf 'one.o\ntwo.o')" ] ||
	fail "vek-ar t lists the members"
"$bin/vek-nm" libx.a | grep -q ' T one$' || fail "vek-nm shows one"
"$bin/vek-nm" libx.a | grep -q ' T two$' || fail "vek-nm shows two"
"$bin/vek-ranlib" libx.a || fail "vek-ranlib"
"$bin/vek-nm" -s libx.a | grep -q 'one in one.o' || fail "index written"

# Members named in an @file, with spaces and quotes, reach ar intact
# through the response file the wrapper writes for it.
printf '%s\n' "rcs libq.a 'odd \"name\" it'\\''s.o' one.o" >args.rsp
"$bin/vek-ar" @args.rsp || fail "vek-ar @file"
[ "$("$bin/vek-ar" t libq.a)" = "$(printf 'odd "name" it'"'"'s.o\none.o')" ] ||
	fail "members from the @file"

# An empty first argument (an unset "$ARFLAGS") is refused by ar at once,
# as it is without the wrapper; a lone "-" would set ar spinning.
s=0
timeout 20 "$bin/vek-ar" "" libx.a one.o 2>empty.err || s=$?
[ $s -ne 0 ] && [ $s -ne 124 ] || fail "vek-ar \"\" ends with ar's refusal ($s)"
grep -q . empty.err || fail "vek-ar \"\" prints ar's message"

# A reader that stops early ends nm by SIGPIPE, and the wrapper with it,
# silently (unless this shell was started with SIGPIPE ignored, which nm
# would inherit).
ignored=$(sed -n 's/^SigIgn:[[:space:]]*//p' /proc/$$/status 2>/dev/null || true)
if [ -n "$ignored" ] && [ $((0x$ignored & 0x1000)) -eq 0 ]; then
	i=0
	while [ $i -lt 20000 ]; do
		echo "int v$i = 1;"
		i=$((i + 1))
	done >big.c
	cc -c big.c
	"$bin/vek-ar" rcs big.a big.o || fail "vek-ar rcs big.a"
	{
		s=0
		"$bin/vek-nm" big.a 2>nm.err || s=$?
		echo $s >nm.status
	} | head -n 1 >/dev/null
	[ "$(cat nm.status)" = 141 ] || fail "vek-nm | head ends by SIGPIPE ($(cat nm.status))"
	[ ! -s nm.err ] || fail "vek-nm | head is silent: $(cat nm.err)"
fi

# With the target tool directory empty the tools come from PATH.
rm "$top/tc/$rel_tool/ar" "$top/tc/$rel_tool/nm" "$top/tc/$rel_tool/ranlib"
"$bin/vek-ar" rcs liby.a two.o || fail "vek-ar through PATH"
[ "$("$bin/vek-ar" t liby.a)" = "two.o" ] || fail "vek-ar t through PATH"
echo "real tools: ok"
