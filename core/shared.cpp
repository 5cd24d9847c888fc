// core/shared.cpp - the settings record, the flags word and the helpers.
#include "core/shared.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ui/interface.h"

rc_data_t rc_data;
int32_t flags = 0;

int isFlagSet(int32_t mask)
{
    return (flags & mask) == mask;
}

int isFlagClear(int32_t mask)
{
    return (flags & mask) == 0;
}

void Set_Flag(int32_t mask)
{
    flags |= mask;
}

void Clear_Flag(int32_t mask)
{
    flags &= ~mask;
}

int mem_alloc_block(void **ptr, size_t size)
{
    free(*ptr);
    *ptr = malloc(size);
    if (*ptr == nullptr) {
        perror("velkador: alloc():");
        Error_Dialog(_("A memory allocation failed\nPlease quit velkador and correct"));
        return 0;
    }
    memset(*ptr, 0, size);
    return 1;
}

int mem_realloc_block(void **ptr, size_t size)
{
    void *block = realloc(*ptr, size);
    if (block == nullptr) {
        // The old block is released too: the caller sees a null pointer and
        // sets everything up anew on its next attempt.
        int saved = errno;
        free(*ptr);
        *ptr = nullptr;
        errno = saved;
        perror("velkador: realloc():");
        Error_Dialog(_("A memory re-allocation failed\nPlease quit velkador and correct"));
        return 0;
    }
    *ptr = block;
    return 1;
}

void Strlcpy(char *dest, const char *src, size_t n)
{
    if (n == 0)
        return;  // no room even for the terminator
    size_t i = 0;
    while (i + 1 < n && src[i] != '\0') {
        dest[i] = src[i];
        i++;
    }
    dest[i] = '\0';
}

void Strlcat(char *dest, const char *src, size_t n)
{
    size_t len = strnlen(dest, n);
    if (len >= n)
        return;  // no terminator within n bytes: outside the contract, leave it
    Strlcpy(dest + len, src, n - len);
}
