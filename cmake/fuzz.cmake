# The macro compiler's fuzz target (libFuzzer; clang only). Configure a
# build directory of its own with XB_FUZZ=ON; every object is then compiled
# with coverage instrumentation and AddressSanitizer/UBSan, and the target
# xbfuzz_macro is the only program worth building there:
#
#   CXX=clang++ cmake -S . -B build/fuzz -DXB_FUZZ=ON -DXB_TESTS=OFF \
#       -DCMAKE_BUILD_TYPE=RelWithDebInfo
#   cmake --build build/fuzz -j2 --target xbfuzz_macro
#   build/fuzz/xbfuzz_macro -max_total_time=60 -max_len=4096 \
#       -dict=tools/fuzz/macro.dict build/fuzz/corpus tools/fuzz/corpus
#
# (The first corpus directory receives what the run finds; the second is
# the seed corpus kept in the tree.) On this i386 build the compiler-rt
# fuzzer library for i386 is used; the same option works on the x86_64 build.
if(NOT XB_FUZZ)
  return()
endif()
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "XB_FUZZ needs clang (libFuzzer): configure with CXX=clang++")
endif()
add_executable(xbfuzz_macro tools/fuzz/macro_fuzz.cpp $<TARGET_OBJECTS:xbcore> $<TARGET_OBJECTS:xbasm>)
target_include_directories(xbfuzz_macro PRIVATE ${CMAKE_SOURCE_DIR})
target_link_options(xbfuzz_macro PRIVATE -fsanitize=fuzzer)
