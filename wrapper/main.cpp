/*
 * Program entry of vek-ar, vek-nm and vek-ranlib; the personality is fixed
 * when each is built.
 */
#include "wrapper/wrapper.h"

int
main(int argc, char **argv)
{
	return wrapper_main(argc, argv);
}
