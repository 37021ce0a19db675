# Installs the build into a fresh prefix under WORK and runs the installed
# tool from another folder without --module, as a user does after
# `cmake --install`; then a copy of the tool with no module anywhere near
# it, which must say where it looked and how to name one. The installed
# tool defines none of the allocator's entry points (only the heap counter,
# never installed, takes their place), and so skips the check that counts
# heap blocks. Run as:
# cmake -DBUILD=<build folder> -DWORK=<scratch folder> -DNM=<nm> [-DSANITIZE=<sanitizers>]
#       -P this-file
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/elsewhere ${WORK}/lonely)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${WORK}/prefix
                OUTPUT_QUIET RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install into ${WORK}/prefix failed: ${status}")
endif()
foreach(file bin/kerrowbend-host lib/kerrowbend/kerrowbend.p)
  if(NOT EXISTS ${WORK}/prefix/${file})
    message(FATAL_ERROR "the install has no ${file}")
  endif()
endforeach()

set(installed_tool ${WORK}/prefix/bin/kerrowbend-host)
execute_process(COMMAND ${NM} -D --defined-only ${installed_tool} OUTPUT_VARIABLE symbols
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} could not read ${installed_tool}: ${status}")
endif()
# A sanitizer's runtime, linked in whole by clang, brings its own.
if(NOT SANITIZE)
  foreach(entry malloc free calloc realloc posix_memalign aligned_alloc memalign valloc pvalloc)
    if(symbols MATCHES " ${entry}(@[^\n]*)?\n")
      message(FATAL_ERROR "the installed tool defines ${entry}")
    endif()
  endforeach()
endif()
execute_process(COMMAND ${installed_tool} validate --check resources/memory-balance
                        ${WORK}/prefix/lib/kerrowbend/kerrowbend.p
                OUTPUT_VARIABLE report RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT report MATCHES "^SKIP resources/memory-balance: ")
  message(FATAL_ERROR "the installed tool's validate gave ${status}, expected resources/"
                      "memory-balance skipped: ${report}")
endif()

# tool: the tool to run; expect: "picture" or the text its error must hold.
function(run_preview tool expect)
  execute_process(COMMAND ${tool} preview --size 16 --out x.png
                  WORKING_DIRECTORY ${WORK}/elsewhere
                  RESULT_VARIABLE status ERROR_VARIABLE errors)
  set(png ${WORK}/elsewhere/x.png)
  if(expect STREQUAL "picture")
    if(NOT status EQUAL 0 OR NOT EXISTS ${png})
      message(FATAL_ERROR "${tool} preview gave ${status} and no picture: ${errors}")
    endif()
    file(READ ${png} signature LIMIT 8 HEX)
    if(NOT signature STREQUAL "89504e470d0a1a0a")
      message(FATAL_ERROR "${tool} preview wrote no PNG (it starts ${signature})")
    endif()
    file(REMOVE ${png})
    return()
  endif()
  string(FIND "${errors}" "${expect}" at)
  if(status EQUAL 0 OR at EQUAL -1 OR EXISTS ${png})
    message(FATAL_ERROR "${tool} preview gave ${status}, expected an error holding "
                        "\"${expect}\" and no picture; stderr: ${errors}")
  endif()
endfunction()

run_preview(${WORK}/prefix/bin/kerrowbend-host picture)
file(COPY ${WORK}/prefix/bin/kerrowbend-host DESTINATION ${WORK}/lonely)
run_preview(${WORK}/lonely/kerrowbend-host
            "no module file at '${WORK}/lonely/kerrowbend.p' nor at '${WORK}/lib/kerrowbend/kerrowbend.p'; name one with --module PATH")
message(STATUS "installed tool found its module; a lone copy named --module")
