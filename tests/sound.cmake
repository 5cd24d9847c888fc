# Sound input: set-up and intake against real ALSA test devices.

# The virtual mixer: an ALSA control plug-in that the test .asoundrc loads by
# its absolute path. -DPIC makes alsa-lib's headers emit the versioned symbol
# that the loader looks for.
add_library(velkador_test_mixer MODULE alsa/test_mixer.cpp)
set_target_properties(velkador_test_mixer PROPERTIES
  PREFIX "" OUTPUT_NAME libasound_module_ctl_velkadortest)
target_compile_definitions(velkador_test_mixer PRIVATE PIC)
target_link_libraries(velkador_test_mixer PRIVATE PkgConfig::ALSA)

# A capture PCM that runs at one sample rate only: an external PCM plug-in.
add_library(velkador_test_pcm MODULE alsa/test_pcm.cpp)
set_target_properties(velkador_test_pcm PROPERTIES
  PREFIX "" OUTPUT_NAME libasound_module_pcm_velkadortest)
target_compile_definitions(velkador_test_pcm PRIVATE PIC)
target_link_libraries(velkador_test_pcm PRIVATE PkgConfig::ALSA)

target_compile_definitions(velkador_test_support PUBLIC
  VELKADOR_TEST_MIXER_PLUGIN="$<TARGET_FILE:velkador_test_mixer>"
  VELKADOR_TEST_PCM_PLUGIN="$<TARGET_FILE:velkador_test_pcm>")
add_dependencies(velkador_test_support velkador_test_mixer velkador_test_pcm)

velkador_test(test_sound_intake SOURCES test_sound_intake.cpp)
velkador_test(test_sound_capture SOURCES test_sound_capture.cpp)
