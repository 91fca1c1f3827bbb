# rekmo_exports(TARGET FOLDER...): the users of TARGET (and its own sources)
# see the headers of FOLDER, and only those, as "FOLDER/header.hpp". Each
# folder is linked into an include folder of the target's own in the build
# tree, so a file that includes a header of a library its target does not
# link fails to compile, where the project root would have let it through.
# Where the file system cannot make a link (Windows without the right to),
# the folder is copied once; tests/layers.py checks the same rules by text.
function(rekmo_exports target)
  set(dir ${PROJECT_BINARY_DIR}/include/${target})
  file(MAKE_DIRECTORY ${dir})
  foreach(folder IN LISTS ARGN)
    if(NOT EXISTS ${dir}/${folder})
      file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${dir}/${folder} SYMBOLIC RESULT failed)
      if(failed)
        file(COPY ${PROJECT_SOURCE_DIR}/${folder} DESTINATION ${dir} FILES_MATCHING PATTERN "*.hpp")
      endif()
    endif()
  endforeach()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${dir})
  else()
    target_include_directories(${target} PUBLIC ${dir})
  endif()
endfunction()

# The sources of a target built for one vector level each: SSE41 and AVX2
# name a source apiece, built with that instruction set's option and
# REKMO_VECTOR defined, on x86-64 with GCC or Clang when REKMO_VECTOR is on.
# Elsewhere they are left out, and the scalar code runs alone.
function(rekmo_vector_levels target)
  cmake_parse_arguments(LEVEL "" "SSE41;AVX2" "" ${ARGN})
  if(NOT (REKMO_VECTOR AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$"
          AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang"))
    return()
  endif()
  target_sources(${target} PRIVATE ${LEVEL_SSE41} ${LEVEL_AVX2})
  set_source_files_properties(${LEVEL_SSE41} PROPERTIES COMPILE_OPTIONS -msse4.1)
  # 64-bit Windows keeps its stack 16-byte aligned, and MinGW-w64's GCC would
  # spill 32-byte registers with aligned moves: the assembler makes every
  # aligned vector move an unaligned one, which costs nothing when aligned.
  if(MINGW)
    set_source_files_properties(${LEVEL_AVX2} PROPERTIES COMPILE_OPTIONS "-mavx2;-Wa,-muse-unaligned-vector-move")
  else()
    set_source_files_properties(${LEVEL_AVX2} PROPERTIES COMPILE_OPTIONS -mavx2)
  endif()
  target_compile_definitions(${target} PRIVATE REKMO_VECTOR)
endfunction()
