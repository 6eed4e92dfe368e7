# Adds every direct child folder of the current source folder that has a CMakeLists.txt,
# so that each tool, test group or benchmark can own its folder without touching a shared list.
function(demo_add_child_dirs)
  file(GLOB children LIST_DIRECTORIES true RELATIVE "${CMAKE_CURRENT_SOURCE_DIR}" "${CMAKE_CURRENT_SOURCE_DIR}/*")
  list(SORT children)
  foreach(child IN LISTS children)
    if(IS_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}/${child}" AND EXISTS "${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt")
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# A static library of every .cpp in the current folder (minus those matching EXCLUDE), so that
# adding a file to a room needs no edit here. An empty room becomes an interface library.
# LIBS are linked publicly.
function(demo_room_library name)
  cmake_parse_arguments(ARG "" "EXCLUDE" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  if(ARG_EXCLUDE)
    list(FILTER sources EXCLUDE REGEX "${ARG_EXCLUDE}")
  endif()
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC "${CMAKE_SOURCE_DIR}/src")
    target_link_libraries(${name} PRIVATE demo_warnings PUBLIC ${ARG_LIBS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE "${CMAKE_SOURCE_DIR}/src")
    target_link_libraries(${name} INTERFACE ${ARG_LIBS})
  endif()
endfunction()
