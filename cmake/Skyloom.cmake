# skyloom_library(<target> [SHARED] DEPS <targets...>)
# Builds every .cpp in the calling folder into one library. Headers sit beside
# their sources and are included by path from the repository root.
function(skyloom_library target)
  cmake_parse_arguments(ARG "SHARED;MODULE" "" "DEPS;SYSTEM_LIBS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  if(ARG_SHARED)
    add_library(${target} SHARED ${srcs})
  elseif(ARG_MODULE)
    add_library(${target} MODULE ${srcs})
  elseif(srcs)
    add_library(${target} STATIC ${srcs})
    set_property(GLOBAL APPEND PROPERTY SKYLOOM_ALL_LIBS ${target})
  else()
    add_library(${target} INTERFACE)
    target_link_libraries(${target} INTERFACE ${ARG_DEPS} ${ARG_SYSTEM_LIBS})
    return()
  endif()
  target_link_libraries(${target} PUBLIC ${ARG_DEPS} ${ARG_SYSTEM_LIBS} Threads::Threads)
endfunction()

# skyloom_subdirs(): add every sub-folder that has a CMakeLists.txt.
function(skyloom_subdirs)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child ${children})
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# Every library built by skyloom_library joins this list, so tests and tools
# can link the lot without naming each one.
define_property(GLOBAL PROPERTY SKYLOOM_ALL_LIBS BRIEF_DOCS "all libs" FULL_DOCS "all static libraries of the project")
macro(skyloom_register_lib target)
  set_property(GLOBAL APPEND PROPERTY SKYLOOM_ALL_LIBS ${target})
endmacro()
