velkador_test(test_scope SOURCES test_scope.cpp)
if(TARGET velkador_cwgen)
  velkador_test(test_receive SOURCES test_receive.cpp LIBS velkador_cwgen TIMEOUT 300)
endif()
