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

# The intake test watches every sample passed on to the waterfall by wrapping
# IFFT_Data(int16_t) at link time; the wrapper calls the real one.
velkador_test(test_sound_intake SOURCES test_sound_intake.cpp)
target_link_options(test_sound_intake PRIVATE "LINKER:--wrap=_Z9IFFT_Datas")
velkador_test(test_sound_capture SOURCES test_sound_capture.cpp)

# Samples per second through the intake: build/tests/bench_sound
velkador_benchmark(bench_sound SOURCES bench_sound.cpp)
