# Benchmarks: the interpreter's counting loop against the same loop in Lua
# and Python (bench/run.sh), and the building of a large array (xbgcbench).
# Built for the plain native configuration only (sanitizers distort
# timings), and only on request: `--target xbbench` / `--target xbgcbench`.
if(XB_SANITIZE OR NOT TARGET xbasm)
  return()
endif()
file(GLOB XB_BENCH_SOURCES CONFIGURE_DEPENDS bench/*.cpp)
list(FILTER XB_BENCH_SOURCES EXCLUDE REGEX "gc_bench\\.cpp$")
if(XB_BENCH_SOURCES)
  add_executable(xbbench EXCLUDE_FROM_ALL ${XB_BENCH_SOURCES} $<TARGET_OBJECTS:xbcore> $<TARGET_OBJECTS:xbasm>)
  target_include_directories(xbbench PRIVATE ${CMAKE_SOURCE_DIR})
endif()
# The table driver against SQLite and python3-dbf (bench/dbf_run.sh).
file(GLOB XB_DBF_BENCH_SOURCES CONFIGURE_DEPENDS bench/dbf/*.cpp)
if(XB_DBF_BENCH_SOURCES)
  add_executable(xbdbfbench EXCLUDE_FROM_ALL ${XB_DBF_BENCH_SOURCES} $<TARGET_OBJECTS:xbcore>)
  target_include_directories(xbdbfbench PRIVATE ${CMAKE_SOURCE_DIR})
endif()
# The macro compiler benchmark (bench/macro/run.sh): `--target xbmacrobench`.
add_executable(xbmacrobench EXCLUDE_FROM_ALL bench/macro/macro_bench.cpp $<TARGET_OBJECTS:xbcore> $<TARGET_OBJECTS:xbasm>)
target_include_directories(xbmacrobench PRIVATE ${CMAKE_SOURCE_DIR})
# The source compiler benchmark (bench/compile/run.sh): `--target xbcompilebench`.
if(TARGET xbcompiler)
  add_executable(xbcompilebench EXCLUDE_FROM_ALL bench/compile/compile_bench.cpp $<TARGET_OBJECTS:xbcore>
    $<TARGET_OBJECTS:xbasm> $<TARGET_OBJECTS:xbcompiler>)
  target_include_directories(xbcompilebench PRIVATE ${CMAKE_SOURCE_DIR})
endif()
add_executable(xbgcbench EXCLUDE_FROM_ALL bench/gc_bench.cpp $<TARGET_OBJECTS:xbcore> $<TARGET_OBJECTS:xbasm>)
target_include_directories(xbgcbench PRIVATE ${CMAKE_SOURCE_DIR})
# The index engine against SQLite's indexes (bench/ntx_run.sh).
file(GLOB XB_NTX_BENCH_SOURCES CONFIGURE_DEPENDS bench/ntx/*.cpp)
if(XB_NTX_BENCH_SOURCES)
  add_executable(xbntxbench EXCLUDE_FROM_ALL ${XB_NTX_BENCH_SOURCES} $<TARGET_OBJECTS:xbcore>)
  target_include_directories(xbntxbench PRIVATE ${CMAKE_SOURCE_DIR})
endif()
# Opcode-pair counts over pcode programs (tools/pairs): `--target xbpairs`.
add_executable(xbpairs EXCLUDE_FROM_ALL tools/pairs/pair_count.cpp $<TARGET_OBJECTS:xbcore> $<TARGET_OBJECTS:xbasm>)
target_include_directories(xbpairs PRIVATE ${CMAKE_SOURCE_DIR})
# Every benchmark and the pair counter in one target, which the test command
# builds on the 64-bit preset so that a change of interface cannot leave a
# benchmark that no longer compiles.
add_custom_target(xbbenches)
foreach(t xbbench xbdbfbench xbmacrobench xbcompilebench xbgcbench xbntxbench xbpairs)
  if(TARGET ${t})
    add_dependencies(xbbenches ${t})
  endif()
endforeach()
