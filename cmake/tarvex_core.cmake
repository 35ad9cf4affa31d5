# The Tarvex core and the boundary kit as every extension builds them: the language settings, the
# core's sources and the compile flags, written once. Included by the root CMakeLists.txt (the
# _tarvex extension and the core's unit tests), plugins/qiskit/CMakeLists.txt and the call-floor
# benchmark.
#
# The boundary kit (src/boundary_kit) is header-only and compiled into each extension; its
# process-wide cells are inline variables, so every extension must hide its symbols (as set here)
# or two extensions in one process could share, or stand in for, each other's cells.

set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
set(CMAKE_CXX_VISIBILITY_PRESET hidden)
set(CMAKE_VISIBILITY_INLINES_HIDDEN ON)

option(TARVEX_WERROR "Treat compiler warnings as errors" OFF)

get_filename_component(TARVEX_SOURCE_DIR "${CMAKE_CURRENT_LIST_DIR}/../src" ABSOLUTE)
set(TARVEX_CORE_SOURCES
  ${TARVEX_SOURCE_DIR}/graph/quantum_dag.cpp
  ${TARVEX_SOURCE_DIR}/graph/schedule.cpp
  ${TARVEX_SOURCE_DIR}/graph/export.cpp
  ${TARVEX_SOURCE_DIR}/graph/idle_windows.cpp
  ${TARVEX_SOURCE_DIR}/graph/dd_pass.cpp
  ${TARVEX_SOURCE_DIR}/graph/alap_schedule.cpp
  ${TARVEX_SOURCE_DIR}/graph/padding_plan.cpp
  ${TARVEX_SOURCE_DIR}/graph/block_decoupling.cpp
  ${TARVEX_SOURCE_DIR}/graph/block_program.cpp
  ${TARVEX_SOURCE_DIR}/graph/block_order.cpp
  ${TARVEX_SOURCE_DIR}/graph/block_schedule.cpp
)

# tarvex_compile_flags(TARGET): the flags of every target of ours. The plugin reproduces Qiskit's
# padding arithmetic step by step, so no fused multiply-add may merge two steps, in the core or at a
# boundary.
function(tarvex_compile_flags target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -ffp-contract=off)
  if(TARVEX_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# tarvex_core_library(TARGET): the core as a static library. Its include path is src/ alone, with
# no Python headers, so the core cannot include Python.h.
function(tarvex_core_library target)
  add_library(${target} STATIC ${TARVEX_CORE_SOURCES})
  target_include_directories(${target} PUBLIC ${TARVEX_SOURCE_DIR})
  tarvex_compile_flags(${target})
endfunction()

# tarvex_python_extension(TARGET): an extension module built on the boundary kit.
function(tarvex_python_extension target)
  target_include_directories(${target} PRIVATE ${TARVEX_SOURCE_DIR})
  tarvex_compile_flags(${target})
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # Debian's debug headers (include/python3.Xd) are links to the release headers beside a
    # pyconfig.h of their own. GCC resolves links in system header paths by default and would then
    # read the release pyconfig.h: the module would be built without Py_DEBUG, and its reference
    # counting would not add up in the debug interpreter's totals.
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:C,CXX>:-fno-canonical-system-headers>)
  endif()
endfunction()
