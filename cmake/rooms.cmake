# The rooms of the tree and, for each, the rooms below it that its files may
# include besides its own. The build and check_rooms.cmake read this one
# table, so the two cannot disagree.
set(KERROWBEND_ROOMS host kernel module single_node multi_node hostsim heapcount tools tests bench
    fuzz)
set(KERROWBEND_ROOM_host_BELOW "")
set(KERROWBEND_ROOM_kernel_BELOW "")
set(KERROWBEND_ROOM_module_BELOW host kernel)
set(KERROWBEND_ROOM_single_node_BELOW host kernel module)
set(KERROWBEND_ROOM_multi_node_BELOW host kernel module)
# The simulated host loads the module file at run time, as a host does; it
# knows the contract and nothing of the module's code.
set(KERROWBEND_ROOM_hostsim_BELOW host)
# The heap counter stands apart: it only takes the C allocator's place.
set(KERROWBEND_ROOM_heapcount_BELOW "")
# The tool runs the module only through the simulated host.
set(KERROWBEND_ROOM_tools_BELOW host hostsim heapcount)
# The module's own rooms are here for the suites that test them directly
# and for the modules broken on purpose, built from the module's sources;
# the tool's for the suite that reads the preview's layout from its code,
# where pixels could not tell a cut label from a short one.
set(KERROWBEND_ROOM_tests_BELOW host kernel module single_node multi_node hostsim heapcount tools)
set(KERROWBEND_ROOM_bench_BELOW host kernel hostsim)
set(KERROWBEND_ROOM_fuzz_BELOW host hostsim)

# Everything below is for the build; check_rooms.cmake includes this file
# in script mode for the table alone.
if(CMAKE_SCRIPT_MODE_FILE)
  return()
endif()

# A room's headers, as the INTERFACE target kerrowbend_<room>_headers that
# carries those of the rooms below it. Sources include by path from the
# project root ("kernel/vector.h"), so each room gets an include folder of
# its own in the build tree holding a link to that room alone: a target
# sees only the rooms it links, and an include that reaches above or beside
# its room is not found.
foreach(room IN LISTS KERROWBEND_ROOMS)
  set(dir ${PROJECT_BINARY_DIR}/include-rooms/${room})
  file(MAKE_DIRECTORY ${dir})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${room} ${dir}/${room} SYMBOLIC)
  add_library(kerrowbend_${room}_headers INTERFACE)
  target_include_directories(kerrowbend_${room}_headers INTERFACE ${dir})
  list(TRANSFORM KERROWBEND_ROOM_${room}_BELOW PREPEND kerrowbend_ OUTPUT_VARIABLE below)
  list(TRANSFORM below APPEND _headers)
  target_link_libraries(kerrowbend_${room}_headers INTERFACE ${below})
endforeach()

# What every target built into a module file compiles with: no exceptions,
# since none may unwind into the host; hidden symbols, since the version
# script exports _mod_descrip alone and inline functions must not clash with
# other modules loaded into the same host; and position-independent code for
# the shared object. The tool, the simulated host and the tests are ordinary
# programs and keep the compiler's defaults.
add_library(kerrowbend_module_options INTERFACE)
target_compile_options(kerrowbend_module_options INTERFACE -fno-exceptions -fvisibility=hidden
                                                           -fvisibility-inlines-hidden)
set_target_properties(kerrowbend_module_options PROPERTIES INTERFACE_POSITION_INDEPENDENT_CODE ON)
