# The catalogues against the current template, and the real window in German.
velkador_test(test_translations SOURCES test_translations.cpp)
add_dependencies(test_translations translations)
