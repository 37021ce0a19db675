# What the generators of the manual page and the completion read from the
# built tool. Include after setting TOOL.
#
# kerrowbend_help(<out> [command]): the --help of the tool or of a command.
function(kerrowbend_help out)
  execute_process(COMMAND ${TOOL} ${ARGN} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${TOOL} ${ARGN} --help gave ${status}")
  endif()
  set(${out} "${help}" PARENT_SCOPE)
endfunction()

# kerrowbend_commands(<out>): the tool's commands, as its --help lists them.
function(kerrowbend_commands out)
  kerrowbend_help(help)
  string(REGEX REPLACE ".*\nSubcommands:\n" "" listed "${help}")
  string(REGEX MATCHALL "(^|\n)  [a-z]+" names "${listed}")
  list(TRANSFORM names STRIP)
  set(${out} ${names} PARENT_SCOPE)
endfunction()

# kerrowbend_options(<options> <valued> <help>): the long options a help
# text lists, and of those the ones that take a value, each as
# "--name=VALUE" with the value's form as the help gives it.
function(kerrowbend_options options valued help)
  string(REGEX MATCHALL "\n  (-h,)?--[a-z-]+( [^ \n]+)?" entries "\n${help}")
  set(names "")
  set(values "")
  foreach(entry IN LISTS entries)
    string(REGEX MATCH "--[a-z-]+" name "${entry}")
    list(APPEND names ${name})
    if(entry MATCHES "--[a-z-]+ ([^ \n]+)")
      list(APPEND values "${name}=${CMAKE_MATCH_1}")
    endif()
  endforeach()
  set(${options} ${names} PARENT_SCOPE)
  set(${valued} ${values} PARENT_SCOPE)
endfunction()
