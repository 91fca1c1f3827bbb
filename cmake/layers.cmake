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
