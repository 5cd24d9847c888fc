velkador_test(test_config SOURCES test_config.cpp)
