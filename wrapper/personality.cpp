/*
 * This program's personality.  VEK_TOOL_NAME, set per program at build
 * time, is the tool it runs; the table says the rest.
 */
#include "wrapper/personality.h"

#ifndef VEK_TOOL_NAME
#error "VEK_TOOL_NAME must name the tool of a row of personality_table"
#endif
static_assert(personality_index(VEK_TOOL_NAME) >= 0,
              "VEK_TOOL_NAME names no row of personality_table");

constinit const personality this_personality =
    personality_table[personality_index(VEK_TOOL_NAME)];
