# Transceiver control: the serial link, the rigs' dialects, frequency control
# and click-to-tune, against simulated rigs on pseudo-terminals.
velkador_test(test_cat_link SOURCES test_cat_link.cpp)
velkador_test(test_rig_commands SOURCES test_rig_commands.cpp)
velkador_test(test_tune SOURCES test_tune.cpp)
if(TARGET velkador_cwgen)
  velkador_test(test_tune_e2e SOURCES test_tune_e2e.cpp LIBS velkador_cwgen TIMEOUT 180)
  # Rigs through Hamlib: a real rigctld, Hamlib's dummy rig, the selector.
  velkador_test(test_hamlib SOURCES test_hamlib.cpp LIBS velkador_cwgen TIMEOUT 180)
endif()
velkador_benchmark(bench_cat SOURCES bench_cat.cpp)
# The vanishing adapter: the descriptor calls are wrapped at link time and
# counted on the link's descriptor; the wrappers call the real ones.
if(TARGET velkador_cwgen)
  velkador_test(test_cat_fault SOURCES test_cat_fault.cpp LIBS velkador_cwgen)
  target_link_options(test_cat_fault PRIVATE
    "LINKER:--wrap=write,--wrap=read,--wrap=ioctl,--wrap=tcflush,--wrap=close,--wrap=open")
endif()
