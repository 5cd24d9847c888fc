// tests/support/text.h - comparing decoded text with what was sent.
#ifndef VELKADOR_TESTS_TEXT_H
#define VELKADOR_TESTS_TEXT_H

#include <cstddef>
#include <string>

// Characters to insert, delete or change to turn a into b.
size_t Edit_Distance(const std::string &a, const std::string &b);

#endif
