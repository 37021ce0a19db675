# Writes kerrowbend-host's manual page, gzipped, from the built tool's
# --help and each command's: the tool's description and usage, then one
# section per command holding its help as the tool prints it (80 columns,
# as off a terminal). Run as:
# cmake -DTOOL=<kerrowbend-host> -DVERSION=<version> -DGZIP=<gzip> -DOUT=<file.1.gz>
#       -P manual_page.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/help_text.cmake)

# Help text as roff that shows it as printed: backslashes and minus signs
# escaped, and no line taken for a request.
function(as_roff out text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

kerrowbend_help(help)
string(REGEX MATCH "^[^\n]*" summary "${help}")
string(REGEX REPLACE "\\.$" "" summary "${summary}")
string(SUBSTRING "${summary}" 0 1 first)
string(TOLOWER "${first}" first)
string(SUBSTRING "${summary}" 1 -1 rest)
as_roff(summary "${first}${rest}")
as_roff(overview "${help}")
kerrowbend_commands(commands)
list(JOIN commands "|" command_list)

set(page ".TH KERROWBEND\\-HOST 1 \"\" \"kerrowbend ${VERSION}\" \"User Commands\"
.SH NAME
kerrowbend\\-host \\- ${summary}
.SH SYNOPSIS
.B kerrowbend\\-host
{${command_list}} [\\fIOPTIONS\\fR]
.br
.B kerrowbend\\-host
\\-\\-help | \\-\\-version
.SH DESCRIPTION
.nf
${overview}.fi
.SH COMMANDS
")
foreach(command IN LISTS commands)
  kerrowbend_help(command_help ${command})
  as_roff(command_help "${command_help}")
  string(APPEND page ".SS ${command}\n.nf\n${command_help}.fi\n")
endforeach()
string(APPEND page ".SH EXIT STATUS
0 when the command did what was asked; 1 when the module, a file or a check
failed; 2 for a mistake in the command line.
")

get_filename_component(name ${OUT} NAME_WE)
set(plain ${OUT}.roff)
file(WRITE ${plain} "${page}")
execute_process(COMMAND ${GZIP} -9 -n -c ${plain} OUTPUT_FILE ${OUT} RESULT_VARIABLE status)
file(REMOVE ${plain})
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${GZIP} could not compress the manual page: ${status}")
endif()
