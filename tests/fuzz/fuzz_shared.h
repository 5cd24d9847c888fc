// tests/fuzz/fuzz_shared.h - what every harness does with the program's error
// dialog: the message must be a text the dialog can show; it is counted.
#ifndef VELKADOR_TESTS_FUZZ_SHARED_H
#define VELKADOR_TESTS_FUZZ_SHARED_H

#include <cstdio>
#include <cstdlib>

#include <glib.h>

inline int dialogs_shown = 0;

// Replaces Error_Dialog(const char *) (linked with --wrap): a null or
// non-UTF-8 message would reach the label as it is. Defined here, so each
// harness includes this header once.
extern "C" void __wrap__Z12Error_DialogPKc(const char *message)
{
    if (message == nullptr || !g_utf8_validate(message, -1, nullptr)) {
        fprintf(stderr, "fuzz: error dialog message is not valid text\n");
        abort();
    }
    dialogs_shown++;
}

#endif
