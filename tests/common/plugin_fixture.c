/*
 * Plug-in fixture for the tests and the demo: the smallest shared object a
 * tool loading a link-time plug-in accepts.  Its entry point reports
 * success and registers nothing.
 */
int onload(void *transfer_vector);

int
onload(void *transfer_vector)
{
	(void)transfer_vector;
	return 0;
}
