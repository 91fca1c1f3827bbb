# Whether to build the Python package (python/): REKMO_PYTHON is ON (pybind11
# and the Python headers must be found), OFF, or AUTO (built when they are).
# Linux only. The interpreter is Debian's /usr/bin/python3 unless
# Python3_EXECUTABLE names another: the module is built for that one.
set(REKMO_PYTHON AUTO CACHE STRING "Build the Python module: ON, OFF or AUTO (when pybind11 and the Python headers are found)")
set_property(CACHE REKMO_PYTHON PROPERTY STRINGS ON OFF AUTO)
set(REKMO_BUILD_PYTHON OFF)
if(REKMO_PYTHON AND NOT WIN32 AND NOT CMAKE_CROSSCOMPILING)
  if(NOT DEFINED Python3_EXECUTABLE AND EXISTS /usr/bin/python3)
    set(Python3_EXECUTABLE /usr/bin/python3)
  endif()
  if(REKMO_PYTHON STREQUAL "AUTO")
    find_package(Python3 COMPONENTS Interpreter Development.Module)
  else()
    find_package(Python3 REQUIRED COMPONENTS Interpreter Development.Module)
  endif()
  if(Python3_Development.Module_FOUND)
    set(PYBIND11_FINDPYTHON ON)
    if(REKMO_PYTHON STREQUAL "AUTO")
      find_package(pybind11 CONFIG QUIET)
    else()
      find_package(pybind11 CONFIG REQUIRED)
    endif()
    if(pybind11_FOUND)
      set(REKMO_BUILD_PYTHON ON)
    endif()
  endif()
elseif(REKMO_PYTHON STREQUAL "ON")
  message(FATAL_ERROR "REKMO_PYTHON=ON: the Python module is built for Linux only")
endif()
message(STATUS "Python module: ${REKMO_BUILD_PYTHON} (REKMO_PYTHON=${REKMO_PYTHON})")

if(REKMO_BUILD_PYTHON)
  # The libraries are linked into the extension module, a shared object.
  # Without interposition (nothing replaces their functions at run time) the
  # code compiles as it does for the programs alone: 4% fewer instructions
  # per record on E items than plain -fPIC.
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  add_compile_options($<$<CXX_COMPILER_ID:GNU,Clang>:-fno-semantic-interposition>)
  # The release archives hold the programs only: the module is installed by
  # `cmake --install` (its own component), not packed.
  set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};Unspecified;/")
endif()
