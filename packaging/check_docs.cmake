# Checks the generated completion and manual page against the tool they
# were made from: in bash, the completion offers the tool's commands and
# options, and for each command exactly the options its --help lists, the
# choices of an option that has them, and validate's checks for --check;
# the page holds every command's every option. Run as:
# cmake -DTOOL=<kerrowbend-host> -DCOMPLETION=<file> -DPAGE=<file.1.gz> -DGZIP=<gzip>
#       -P check_docs.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/help_text.cmake)

# What the completion offers for the words typed so far, the last being the
# one completed; sorted.
function(completed out)
  list(JOIN ARGN " " words)
  list(LENGTH ARGN count)
  math(EXPR last "${count}")
  execute_process(
    COMMAND bash -c "source '${COMPLETION}'; COMP_WORDS=(kerrowbend-host ${words}); \
COMP_CWORD=${last}; _kerrowbend_host; printf '%s\\n' \"\${COMPREPLY[@]}\""
    OUTPUT_VARIABLE offered RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "the completion failed in bash for '${words}': ${status}")
  endif()
  string(STRIP "${offered}" offered)
  string(REPLACE "\n" ";" offered "${offered}")
  list(SORT offered)
  set(${out} "${offered}" PARENT_SCOPE)
endfunction()

function(expect_offered words expected)
  separate_arguments(typed UNIX_COMMAND "${words}")
  if(words MATCHES " $")
    list(APPEND typed "''")
  endif()
  completed(offered ${typed})
  list(SORT expected)
  if(NOT offered STREQUAL expected)
    message(FATAL_ERROR "completing 'kerrowbend-host ${words}' offers '${offered}', "
                        "expected '${expected}'")
  endif()
endfunction()

execute_process(COMMAND ${GZIP} -dc ${PAGE} OUTPUT_VARIABLE page RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT page MATCHES "^\\.TH KERROWBEND\\\\-HOST 1 ")
  message(FATAL_ERROR "${PAGE} is no manual page: ${status}")
endif()

kerrowbend_help(help)
kerrowbend_options(top unused "${help}")
kerrowbend_commands(commands)
if(NOT commands STREQUAL "info;validate;preview")
  message(FATAL_ERROR "the tool's --help lists the commands '${commands}'")
endif()
expect_offered(" " "${commands};${top}")
expect_offered("pre" "preview")
foreach(command IN LISTS commands)
  kerrowbend_help(command_help ${command})
  kerrowbend_options(options valued "${command_help}")
  expect_offered("${command} --" "${options}")
  string(FIND "${page}" ".SS ${command}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the manual page has no section for ${command}")
  endif()
  foreach(option IN LISTS options)
    string(REPLACE "-" "\\-" escaped "${option}")
    string(FIND "${page}" "${escaped}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "the manual page does not mention ${command} ${option}")
    endif()
  endforeach()
endforeach()
expect_offered("preview --node " "single;multi")
expect_offered("preview --show n" "normals")
expect_offered("preview --invert " "0;1")
expect_offered("preview --size " "")
execute_process(COMMAND ${TOOL} validate --list --check known/ OUTPUT_VARIABLE listing)
string(REGEX MATCHALL "(^|\n)known/[a-z-]+" known "${listing}")
list(TRANSFORM known STRIP)
expect_offered("validate --check kno" "known/;${known}")
message(STATUS "the completion and the manual page follow the tool's --help")
