# Installs the build into a fresh prefix under WORK and runs each command
# of the installed tool from another folder without naming a module, as a
# user does after `cmake --install`; then a copy of the tool with no module
# anywhere near it, whose every command must say where it looked and how
# to name one. The installed
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

# info and validate look where preview does, and say the same when the
# module is in neither place, naming their own way to give one.
# tool: the tool to run; expect: what stdout must start with, or the text
# its error must hold; the rest: the command line.
function(run_command tool expect)
  execute_process(COMMAND ${tool} ${ARGN} WORKING_DIRECTORY ${WORK}/elsewhere
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE errors)
  string(FIND "${out}" "${expect}" at_out)
  string(FIND "${errors}" "${expect}" at_err)
  if(NOT (status EQUAL 0 AND at_out EQUAL 0) AND NOT (status EQUAL 1 AND at_err GREATER -1))
    message(FATAL_ERROR "${tool} ${ARGN} gave ${status}, expected \"${expect}\"; "
                        "stdout: ${out}; stderr: ${errors}")
  endif()
endfunction()

set(installed ${WORK}/prefix/bin/kerrowbend-host)
run_preview(${installed} picture)
run_command(${installed} "module          ${WORK}/prefix/lib/kerrowbend/kerrowbend.p" info)
run_command(${installed} "PASS descriptor/servers" validate --check descriptor/servers)
file(COPY ${installed} DESTINATION ${WORK}/lonely)
set(lonely ${WORK}/lonely/kerrowbend-host)
set(missing "no module file at '${WORK}/lonely/kerrowbend.p' nor at '${WORK}/lib/kerrowbend/kerrowbend.p'; name one with")
run_preview(${lonely} "${missing} --module PATH")
run_command(${lonely} "${missing} the MODULE argument" info)
run_command(${lonely} "${missing} the MODULE argument" validate)
# --list alone needs no module.
run_command(${lonely} "known/single-inputs  " validate --list --check known/)
message(STATUS "installed tool found its module; a lone copy said how to name one")
