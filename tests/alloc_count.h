// tests/alloc_count.h - counts every heap allocation of the test process.
// Link tests/alloc_count.cpp into the test that includes this: it replaces
// malloc, calloc and realloc (or, in a sanitized build, hooks the
// sanitizer's allocator, which owns them there).
#ifndef VELKADOR_TESTS_ALLOC_COUNT_H
#define VELKADOR_TESTS_ALLOC_COUNT_H

long Allocation_Count(void);

#endif
