# Writes bash completion for kerrowbend-host from the built tool: its
# commands, each command's options as its --help lists them, the choices
# of an option whose value form lists them ("single|multi"), files for
# values that are files and for the module argument, and validate's checks
# and groups for --check. Run as:
# cmake -DTOOL=<kerrowbend-host> -DOUT=<file> -P completion.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/help_text.cmake)

kerrowbend_help(help)
kerrowbend_options(top_options unused "${help}")
kerrowbend_commands(commands)
execute_process(COMMAND ${TOOL} validate --list OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${TOOL} validate --list gave ${status}")
endif()
string(REGEX MATCHALL "(^|\n)[a-z]+/[a-z-]+" checks "${listing}")
list(TRANSFORM checks STRIP)
set(groups ${checks})
list(TRANSFORM groups REPLACE "/.*" "/")
list(REMOVE_DUPLICATES groups)

list(JOIN commands "|" command_pattern)
list(JOIN commands " " command_words)
list(JOIN top_options " " top_words)
set(cases "")
foreach(command IN LISTS commands)
  kerrowbend_help(command_help ${command})
  kerrowbend_options(options valued "${command_help}")
  list(JOIN options " " words)
  set(values "")
  foreach(entry IN LISTS valued)
    string(REGEX MATCH "^[^=]+" option "${entry}")
    string(REGEX REPLACE "^[^=]+=" "" form "${entry}")
    if(option STREQUAL "--check")
      list(JOIN groups " " offered)
      list(JOIN checks " " offered_checks)
      string(APPEND values "        ${option}) COMPREPLY=($(compgen -W \"${offered} ${offered_checks}\" -- \"$cur\")) ;;\n")
    elseif(form MATCHES "^[a-z0-9]+(\\|[a-z0-9]+)+$")
      string(REPLACE "|" " " offered "${form}")
      string(APPEND values "        ${option}) COMPREPLY=($(compgen -W \"${offered}\" -- \"$cur\")) ;;\n")
    elseif(form MATCHES "^(FILE|PATH)")
      string(APPEND values "        ${option}) COMPREPLY=($(compgen -f -- \"$cur\")) ;;\n")
    else()
      # A number, a vector or a name: nothing to offer but what is typed.
      string(APPEND values "        ${option}) COMPREPLY=() ;;\n")
    endif()
  endforeach()
  # A command with a positional argument takes the module file.
  set(positional "COMPREPLY=()")
  if(command_help MATCHES "\nPositionals:\n")
    set(positional "COMPREPLY=($(compgen -f -- \"$cur\"))")
  endif()
  string(APPEND cases "    ${command})
      case $prev in
${values}        *)
          if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W \"${words}\" -- \"$cur\"))
          else
            ${positional}
          fi
          ;;
      esac
      ;;
")
endforeach()

file(WRITE ${OUT} "# bash completion for kerrowbend-host -*- shell-script -*-
# Made from the tool's own --help when it was built.

_kerrowbend_host() {
  local cur=\${COMP_WORDS[COMP_CWORD]} prev=\${COMP_WORDS[COMP_CWORD - 1]}
  local command='' i
  for ((i = 1; i < COMP_CWORD; i++)); do
    case \${COMP_WORDS[i]} in
      ${command_pattern})
        command=\${COMP_WORDS[i]}
        break
        ;;
    esac
  done
  case $command in
    '')
      COMPREPLY=($(compgen -W \"${command_words} ${top_words}\" -- \"$cur\"))
      ;;
${cases}  esac
}
complete -o filenames -F _kerrowbend_host kerrowbend-host
")
