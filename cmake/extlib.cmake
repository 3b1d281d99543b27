# The sample library: a library built from the runtime, which programs call
# through LIBLOAD/LIBSYMBOL/LIBCALL (docs/external-calls.md).
#
#   xbcore_pic  the runtime and the standard modules compiled a second time,
#               position-independent, with hidden visibility (a library's
#               runtime must not bind to the program's, nor show its names)
#   xbextlib    the library: the five entries (tools/extlib/exports.cpp),
#               the sample module (modules/lib_sample.cpp) and xbcore_pic.
#               Linux: xbextlib.so exporting exactly the five
#               (tools/extlib/exports.map); Windows: xbextlib.dll with the
#               decorated stdcall names (tools/extlib/extlib.def)
#   xbpartlib   a test library lacking DllGetEval (tools/extlib/partial.cpp)
#
# The second compilation of the runtime doubles its build time, so it is
# its own target: built only with the tests (xbtests depends on it) or on
# request. XB_EXTLIB=OFF leaves it out (the library tests then skip).
option(XB_EXTLIB "Build the sample library and its tests" ON)
if(NOT XB_EXTLIB)
  return()
endif()

add_library(xbcore_pic OBJECT EXCLUDE_FROM_ALL ${XB_CORE_SOURCES} ${XB_STD_MODULES})
target_include_directories(xbcore_pic PUBLIC ${CMAKE_SOURCE_DIR})

function(xb_library name)
  add_library(${name} SHARED EXCLUDE_FROM_ALL ${ARGN})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  set_target_properties(${name} PROPERTIES PREFIX ""
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR} RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endfunction()

xb_library(xbextlib tools/extlib/exports.cpp modules/lib_sample.cpp $<TARGET_OBJECTS:xbcore_pic>)
xb_library(xbpartlib tools/extlib/partial.cpp)

foreach(t xbcore_pic xbextlib xbpartlib)
  set_target_properties(${t} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  if(NOT WIN32)
    # after the directory's -fno-pie, so this one wins
    target_compile_options(${t} PRIVATE -fPIC)
  endif()
endforeach()

if(WIN32)
  target_sources(xbextlib PRIVATE tools/extlib/extlib.def)
  target_sources(xbpartlib PRIVATE tools/extlib/partial.def)
else()
  target_link_options(xbextlib PRIVATE -Wl,--version-script=${CMAKE_SOURCE_DIR}/tools/extlib/exports.map)
  set_property(TARGET xbextlib APPEND PROPERTY LINK_DEPENDS ${CMAKE_SOURCE_DIR}/tools/extlib/exports.map)
endif()

if(TARGET xbtests)
  add_dependencies(xbtests xbextlib xbpartlib)
  target_compile_definitions(xbtests PRIVATE
    XB_EXTLIB_PATH="$<TARGET_FILE:xbextlib>" XB_PARTLIB_PATH="$<TARGET_FILE:xbpartlib>")
endif()
