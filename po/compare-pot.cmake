# cmake -DCOMMITTED=<po/velkador.pot> -DFRESH=<just extracted> -P compare-pot.cmake
# The two templates must be equal but for their creation dates.
foreach(which COMMITTED FRESH)
  file(READ ${${which}} text)
  string(REGEX REPLACE "\"POT-Creation-Date:[^\n]*\n" "" ${which}_TEXT "${text}")
endforeach()
if(NOT COMMITTED_TEXT STREQUAL FRESH_TEXT)
  message(FATAL_ERROR "po/velkador.pot is not current: run `cmake --build build --target pot` "
                      "(or `update-po` to merge it into the translations too) and commit it")
endif()
