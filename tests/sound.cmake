# Sound input: set-up and intake against real ALSA test devices.
velkador_test(test_sound_intake SOURCES test_sound_intake.cpp)
