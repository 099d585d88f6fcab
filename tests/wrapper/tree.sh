# Sourced by the shell tests, after they set $build and $rel_bin.
#
# install_tree DEST: put the tree under test at DEST.  That is this build
# installed, or, when $VEK_TEST_PROGRAM_DIR names the bin directory of
# another installed tree (another build's programs, say the static musl
# ones), a copy of that tree.
install_tree() {
	if [ -n "${VEK_TEST_PROGRAM_DIR:-}" ]; then
		up=$(echo "$rel_bin" | sed 's|[^/][^/]*|..|g')
		cp -R "$(cd "$VEK_TEST_PROGRAM_DIR/$up" && pwd)" "$1"
	else
		cmake --install "$build" --prefix "$1" >/dev/null
	fi
}
