# Fails unless the module file's dynamic symbol table defines exactly one
# symbol of ours: _mod_descrip. Run as: cmake -DMODULE=<file> -P this-file
execute_process(COMMAND nm -D --defined-only ${MODULE}
                OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm could not read ${MODULE}")
endif()
string(REGEX REPLACE "\n$" "" symbols "${symbols}")
string(REPLACE "\n" ";" lines "${symbols}")
set(names "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] +" "" name "${line}")
  list(APPEND names "${name}")
endforeach()
if(NOT names STREQUAL "_mod_descrip")
  message(FATAL_ERROR "expected only _mod_descrip to be exported, got: ${names}")
endif()
message(STATUS "exports: ${names}")
