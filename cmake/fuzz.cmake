# The fuzz targets (libFuzzer; clang only), built by the fuzz64 preset or any
# build directory configured with XB_FUZZ=ON. Every object there is compiled
# with coverage instrumentation and AddressSanitizer/UBSan; the two fuzz
# programs are the only ones worth building:
#
#   cmake --preset fuzz64
#   cmake --build build/fuzz64 -j2 --target xbfuzz_macro xbfuzz_dbf xbfuzz_pp
#
#   xbfuzz_macro  compiles every input as macro text and runs the code
#                 (seed corpus: tools/fuzz/corpus, dictionary tools/fuzz/macro.dict)
#   xbfuzz_compile  compiles every input as a source file
#                 (seed corpus: tools/fuzz/corpus-compile)
#   xbfuzz_dbf    opens an input as a table with its memo file and reads it
#                 (seed corpus: made by tools/fuzz/make_dbf_seeds.py)
#   xbfuzz_pp     preprocesses an input as source text after the standard
#                 header (seed corpus: tools/fuzz/corpus-pp, dictionary
#                 tools/fuzz/pp.dict)
#   xbfuzz_payload
#                 reads an input as the program an executable carries and
#                 assembles its modules (seed corpus: tools/fuzz/payload-seeds)
#
# tools/run-tests.sh runs them for a short while (tools/fuzz-run.sh); the
# README says how to run them longer.
if(NOT XB_FUZZ)
  return()
endif()
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "XB_FUZZ needs clang (libFuzzer): use the fuzz64 preset or configure with CXX=clang++")
endif()
add_executable(xbfuzz_macro tools/fuzz/macro_fuzz.cpp $<TARGET_OBJECTS:xbcore> $<TARGET_OBJECTS:xbasm>)
target_include_directories(xbfuzz_macro PRIVATE ${CMAKE_SOURCE_DIR})
target_link_options(xbfuzz_macro PRIVATE -fsanitize=fuzzer)

add_executable(xbfuzz_compile tools/fuzz/compile_fuzz.cpp $<TARGET_OBJECTS:xbcore> $<TARGET_OBJECTS:xbasm>
  $<TARGET_OBJECTS:xbcompiler>)
target_include_directories(xbfuzz_compile PRIVATE ${CMAKE_SOURCE_DIR})
target_link_options(xbfuzz_compile PRIVATE -fsanitize=fuzzer)

# The table engine needs no virtual machine: the target carries its own
# stand-ins for the few Item-making calls, so it takes the engine's files
# rather than the whole runtime.
file(GLOB XB_FUZZ_PLATFORM CONFIGURE_DEPENDS platform/${XB_PLATFORM}/*.cpp platform/*.cpp)
add_executable(xbfuzz_dbf tools/fuzz/dbf_open_fuzz.cpp
  rdd/dbf/dbf_format.cpp rdd/dbf/dbt.cpp rdd/dbf/dbt_window.cpp rdd/dbf/dbf_locks.cpp rdd/dbf/dbf_table.cpp
  runtime/files.cpp base/memory.cpp base/dates.cpp base/numfmt.cpp base/casemap.cpp
  ${XB_FUZZ_PLATFORM})
target_include_directories(xbfuzz_dbf PRIVATE ${CMAKE_SOURCE_DIR})
target_link_options(xbfuzz_dbf PRIVATE -fsanitize=fuzzer)

# The preprocessor is pure text: its own sources are the whole target.
file(GLOB XB_FUZZ_PP_SOURCES CONFIGURE_DEPENDS pp/*.cpp)
add_executable(xbfuzz_pp tools/fuzz/pp_fuzz.cpp ${XB_FUZZ_PP_SOURCES})
target_include_directories(xbfuzz_pp PRIVATE ${CMAKE_SOURCE_DIR})
target_link_options(xbfuzz_pp PRIVATE -fsanitize=fuzzer)

# The program an executable carries: the container and the assembler behind it.
add_executable(xbfuzz_payload tools/fuzz/payload_fuzz.cpp tools/xbc/payload.cpp
  $<TARGET_OBJECTS:xbcore> $<TARGET_OBJECTS:xbasm>)
target_include_directories(xbfuzz_payload PRIVATE ${CMAKE_SOURCE_DIR})
target_link_options(xbfuzz_payload PRIVATE -fsanitize=fuzzer)
