# Finding the libraries the build needs. A library that is not found does
# not stop the configure where it is looked for: each is noted with the
# Debian package that brings it, and the end of the top-level CMakeLists.txt
# stops the configure once, naming every missing package and scripts/setup,
# which installs them.

# kerrowbend_find_package(<Package> DEBIAN <debian-package> [find_package arguments])
# Sets <Package>_FOUND in the caller.
function(kerrowbend_find_package package)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "DEBIAN" "")
  find_package(${package} ${ARG_UNPARSED_ARGUMENTS} QUIET)
  if(NOT ${package}_FOUND)
    set_property(GLOBAL APPEND PROPERTY KERROWBEND_MISSING_PACKAGES ${ARG_DEBIAN})
  endif()
  set(${package}_FOUND ${${package}_FOUND} PARENT_SCOPE)
endfunction()

# kerrowbend_find_pkg_config(<prefix> <module> DEBIAN <debian-package>)
# A library known to pkg-config, as the imported target PkgConfig::<prefix>.
function(kerrowbend_find_pkg_config prefix module)
  cmake_parse_arguments(PARSE_ARGV 2 ARG "" "DEBIAN" "")
  # Found here rather than through kerrowbend_find_package, whose scope
  # would keep the variables pkg_check_modules reads.
  find_package(PkgConfig QUIET)
  if(PkgConfig_FOUND)
    pkg_check_modules(${prefix} QUIET IMPORTED_TARGET ${module})
  else()
    set_property(GLOBAL APPEND PROPERTY KERROWBEND_MISSING_PACKAGES pkg-config)
  endif()
  if(NOT ${prefix}_FOUND)
    set_property(GLOBAL APPEND PROPERTY KERROWBEND_MISSING_PACKAGES ${ARG_DEBIAN})
  endif()
  set(${prefix}_FOUND ${${prefix}_FOUND} PARENT_SCOPE)
endfunction()
