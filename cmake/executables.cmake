# The programs built from the runtime:
#   comtest  the program the image carries: the runtime, the standard modules,
#            the application module(s) modules/app_*.cpp and its entry file.
#   xbrun    the runtime, the source compiler, the pcode assembler and the
#            compiled modules; runs source and assembler files (--list shows
#            the compiled modules, the application module among them).
#   xbc      the compiler driver: writes assembler text, C++ modules, or
#            executables made of a prebuilt runner and the compiled program.
#   xbrunner the prebuilt runner xbc copies (xbrunnerw: its windowed twin,
#            Windows only).
# xbrun, xbdb, xbc and xbrunner are console programs on every target.
# A target is defined only once its entry file exists, so the tree configures
# while the entry files are still being written.
#
# On Windows both are GUI-subsystem programs (-mwindows through
# WIN32_EXECUTABLE), linked statically (see CMakeLists.txt), and carry the
# application manifest and the "CRHANDPOINT" cursor (tools/win32/app.rc).
# The entry files define a plain `int main()` that hands over to the runtime's
# process entry: the mingw-w64 start-up code of a GUI program calls main() when
# the program defines one (WinMain is only the fallback), so no WinMain is
# needed. The unit tests (cmake/tests.cmake) stay console programs.

set(XB_WIN32_RESOURCES "")
if(WIN32)
  enable_language(RC)
  set(XB_WIN32_RESOURCES ${CMAKE_SOURCE_DIR}/tools/win32/app.rc)
  # windres finds the manifest and the cursor through the include path.
  set_source_files_properties(${XB_WIN32_RESOURCES} PROPERTIES
    OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/tools/win32/app.manifest;${CMAKE_SOURCE_DIR}/tools/win32/handpoint.cur")
endif()

function(xb_program name)
  add_executable(${name} ${ARGN} ${XB_WIN32_RESOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  if(WIN32)
    set_target_properties(${name} PROPERTIES WIN32_EXECUTABLE TRUE)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tools/win32)
  endif()
endfunction()

if(EXISTS ${CMAKE_SOURCE_DIR}/tools/comtest_main.cpp)
  xb_program(comtest tools/comtest_main.cpp ${XB_APP_MODULES}
    $<TARGET_OBJECTS:xbcore> $<TARGET_OBJECTS:xbstdmodules>)
endif()

# A console-subsystem program (on Windows too).
function(xb_console_program name)
  add_executable(${name} ${ARGN} ${XB_WIN32_RESOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  if(WIN32)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tools/win32)
  endif()
endfunction()

# What xbrun, xbc and the runner share: the program's inputs, the payload an
# executable carries, the image of modules held in memory.
file(GLOB XB_DRIVER_SOURCES CONFIGURE_DEPENDS tools/xbc/*.cpp)
list(FILTER XB_DRIVER_SOURCES EXCLUDE REGEX "_main\\.cpp$")
if(XB_DRIVER_SOURCES)
  add_library(xbdriver OBJECT ${XB_DRIVER_SOURCES})
  target_include_directories(xbdriver PUBLIC ${CMAKE_SOURCE_DIR})
endif()

if(EXISTS ${CMAKE_SOURCE_DIR}/tools/xbrun_main.cpp)
  xb_console_program(xbrun tools/xbrun_main.cpp tools/xbrun_shell.cpp
    tools/shell_lines.cpp tools/shell_echo.cpp tools/shell_input.cpp ${XB_APP_MODULES}
    $<TARGET_OBJECTS:xbcore> $<TARGET_OBJECTS:xbasm> $<TARGET_OBJECTS:xbcompiler> $<TARGET_OBJECTS:xbdriver>
    $<TARGET_OBJECTS:xbstdmodules>)
  # Line editing and history in the shell when libedit can be linked for
  # this target (not on Windows; the plain line reader stands in).
  if(NOT WIN32)
    include(CheckCXXSourceCompiles)
    set(CMAKE_REQUIRED_LIBRARIES edit)
    if(XB_ARCH STREQUAL "i386")  # the check must link as the target does
      set(CMAKE_REQUIRED_FLAGS -m32)
      set(CMAKE_REQUIRED_LINK_OPTIONS -m32)
    endif()
    check_cxx_source_compiles("#include <editline/readline.h>
int main() { char* l = readline(\"\"); add_history(l); return 0; }" XB_HAVE_LIBEDIT)
    unset(CMAKE_REQUIRED_LIBRARIES)
    unset(CMAKE_REQUIRED_FLAGS)
    unset(CMAKE_REQUIRED_LINK_OPTIONS)
    if(XB_HAVE_LIBEDIT)
      target_compile_definitions(xbrun PRIVATE XB_HAVE_LIBEDIT=1)
      target_link_libraries(xbrun PRIVATE edit)
    endif()
  endif()
endif()

if(EXISTS ${CMAKE_SOURCE_DIR}/tools/xbc/runner_main.cpp)
  xb_console_program(xbrunner tools/xbc/runner_main.cpp
    $<TARGET_OBJECTS:xbcore> $<TARGET_OBJECTS:xbasm> $<TARGET_OBJECTS:xbcompiler> $<TARGET_OBJECTS:xbdriver>
    $<TARGET_OBJECTS:xbstdmodules>)
  if(WIN32)
    xb_program(xbrunnerw tools/xbc/runner_main.cpp
      $<TARGET_OBJECTS:xbcore> $<TARGET_OBJECTS:xbasm> $<TARGET_OBJECTS:xbcompiler> $<TARGET_OBJECTS:xbdriver>
      $<TARGET_OBJECTS:xbstdmodules>)
    target_compile_definitions(xbrunnerw PRIVATE XB_RUNNER_GUI=1)
  endif()
endif()

# xbc finds the runners beside itself: building it builds them.
if(EXISTS ${CMAKE_SOURCE_DIR}/tools/xbc/xbc_main.cpp)
  xb_console_program(xbc tools/xbc/xbc_main.cpp
    $<TARGET_OBJECTS:xbcore> $<TARGET_OBJECTS:xbasm> $<TARGET_OBJECTS:xbcompiler> $<TARGET_OBJECTS:xbdriver>
    $<TARGET_OBJECTS:xbstdmodules>)
  add_dependencies(xbc xbrunner)
  if(WIN32)
    add_dependencies(xbc xbrunnerw)
  endif()
endif()

# xbdb: the table and index tool (info, dump, check, reindex). A console
# program on every target, unlike comtest.
if(EXISTS ${CMAKE_SOURCE_DIR}/tools/xbdb_main.cpp)
  add_executable(xbdb tools/xbdb_main.cpp ${XB_APP_MODULES}
    $<TARGET_OBJECTS:xbcore> $<TARGET_OBJECTS:xbasm> $<TARGET_OBJECTS:xbstdmodules>)
  target_include_directories(xbdb PRIVATE ${CMAKE_SOURCE_DIR})
  set_target_properties(xbdb PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endif()

# xbfuncdoc: writes docs/functions.md from the list of native functions
# (lib/functions.def); needs nothing of the runtime.
if(EXISTS ${CMAKE_SOURCE_DIR}/tools/funcdoc_main.cpp)
  add_executable(xbfuncdoc tools/funcdoc_main.cpp lib/function_list.cpp)
  target_include_directories(xbfuncdoc PRIVATE ${CMAKE_SOURCE_DIR})
  set_target_properties(xbfuncdoc PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endif()
