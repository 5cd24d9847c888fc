// tests/alloc_count.cpp - the allocation counter of tests/alloc_count.h.
#include "alloc_count.h"

#include <atomic>
#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#define VELKADOR_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELKADOR_ASAN 1
#endif
#endif

namespace {
std::atomic<long> allocations{0};
}

long Allocation_Count(void)
{
    return allocations.load();
}

#ifdef VELKADOR_ASAN
// The sanitizer's interface, declared here: GCC installs no header for it.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void *, size_t),
                                                         void (*)(const volatile void *));

namespace {
void Count_Malloc(const volatile void *, size_t)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
}
void Ignore_Free(const volatile void *) {}
[[maybe_unused]] const int hooks_installed = __sanitizer_install_malloc_and_free_hooks(Count_Malloc, Ignore_Free);
}  // namespace
#else
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);

void *malloc(size_t n)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(n);
}

void *calloc(size_t n, size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(n, size);
}

void *realloc(void *p, size_t n)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, n);
}
}
#endif
