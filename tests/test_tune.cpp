// Frequency control and click-to-tune.
#include <gtest/gtest.h>
