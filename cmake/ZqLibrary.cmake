# zq_add_layer(NAME DIR DEPS libs...)
# Builds one static library from every .cpp of a folder (not its subfolders, which are libraries
# of their own), so a new file needs no list edited. A folder's main.cpp is its executable's
# and stays out of the library.
function(zq_add_layer name dir)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
  list(REMOVE_ITEM srcs ${dir}/main.cpp)
  if(NOT srcs)
    set(srcs ${PROJECT_SOURCE_DIR}/cmake/empty.cpp)
  endif()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()
