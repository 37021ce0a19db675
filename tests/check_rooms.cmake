# Fails unless every C++ source includes from its own room and the rooms
# below it in cmake/rooms.cmake. The build already fails on such an
# include, since a target sees only the headers of the rooms it links; this
# names every offending line and the rule it breaks, where the compiler
# says only that a file was not found. Run as:
# cmake -DSOURCE_DIR=<project root> -P this-file
cmake_minimum_required(VERSION 3.25)
include(${SOURCE_DIR}/cmake/rooms.cmake)

set(problems "")
foreach(room IN LISTS KERROWBEND_ROOMS)
  set(allowed ${KERROWBEND_ROOM_${room}_BELOW} ${room})
  # "host/, kernel/ and module/"
  list(TRANSFORM allowed APPEND / OUTPUT_VARIABLE rule)
  list(POP_BACK rule last)
  list(JOIN rule ", " rule)
  if(rule)
    string(APPEND rule " and ")
  endif()
  string(APPEND rule ${last})
  file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/${room}/*.h
       ${SOURCE_DIR}/${room}/*.cpp)
  foreach(source IN LISTS sources)
    file(STRINGS ${SOURCE_DIR}/${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
    foreach(line IN LISTS includes)
      string(REGEX MATCH "[\"<]([^\">]*)[\">]" quoted "${line}")
      set(path ${CMAKE_MATCH_1})
      string(REGEX MATCH "^[^/]*" first "${path}")
      if(quoted MATCHES "^\"" AND NOT path MATCHES "/")
        list(APPEND problems
             "${source}: #include \"${path}\": project headers are included by their path from the root")
      elseif(first IN_LIST KERROWBEND_ROOMS AND NOT first IN_LIST allowed)
        list(APPEND problems "${source}: #include ${quoted}: ${room}/ may include only from ${rule}")
      endif()
    endforeach()
  endforeach()
endforeach()

# One problem a line; the leading spaces keep CMake from wrapping them.
if(problems)
  list(JOIN problems "\n  " problems)
  message(FATAL_ERROR " includes outside their rooms:\n  ${problems}")
endif()
message(STATUS "every include stays in its room and the rooms below it")
