# Draws the gallery's pictures with kerrowbend-host:
#   cmake -DTOOL=kerrowbend-host -DOUT=FOLDER [-DPAGE=README.md -DKEPT=FOLDER] -P gallery.cmake
# With PAGE, every picture the page shows must have been drawn and every
# picture drawn must be on the page; with KEPT too, the folder of pictures
# kept beside the page must hold those drawn and nothing else, so that a
# picture renamed or dropped does not stay behind.
cmake_minimum_required(VERSION 3.25)
foreach(required TOOL OUT)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "gallery.cmake: -D${required}=... is required")
  endif()
endforeach()

file(MAKE_DIRECTORY "${OUT}")

set(drawn "")
# picture(NAME OPTION...): one preview, small enough to keep in the repository.
function(picture name)
  execute_process(COMMAND "${TOOL}" preview --size 192 ${ARGN} --out "${OUT}/${name}.png"
                  RESULT_VARIABLE result ERROR_VARIABLE error)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${name}: ${error}")
  endif()
  set(drawn ${drawn} ${name}.png PARENT_SCOPE)
endfunction()

# The single node pulling toward the key light by more and more.
foreach(weight 0 0.25 0.5 1)
  picture(single-weight-${weight} --weight ${weight})
endforeach()
# "Invert Vector" decides whether the normals turn toward the reference
# object's axis or away from it.
picture(invert-on --invert 1 --weight 0.5)
picture(invert-off --invert 0 --weight 0.5)
# A painted weight: full at the top, none at the bottom.
picture(weight-map-gradient --weight-map Gradient --show normals)
# A reference object of the user's own, pointing behind the sphere.
picture(reference-object --object Rim:0.8,0.2,-0.6 --reference-object Rim --invert 0 --weight 0.5)
# The same two stages in both orders: each works on the one before.
picture(multi-light-then-ground --node multi --stage -0.55,0.6,0.58:0.5 --stage 0,-1,0:0.5)
picture(multi-ground-then-light --node multi --stage 0,-1,0:0.5 --stage -0.55,0.6,0.58:0.5)

if(DEFINED PAGE)
  file(READ "${PAGE}" page)
  string(REGEX MATCHALL "gallery/[A-Za-z0-9._-]+\\.png" shown "${page}")
  foreach(link IN LISTS shown)
    string(REGEX REPLACE "^gallery/" "" name "${link}")
    if(NOT name IN_LIST drawn)
      message(FATAL_ERROR "${PAGE} shows ${link}, which the gallery does not draw")
    endif()
  endforeach()
  foreach(name IN LISTS drawn)
    if(NOT "gallery/${name}" IN_LIST shown)
      message(FATAL_ERROR "the gallery draws ${name}, which ${PAGE} does not show")
    endif()
  endforeach()
endif()

if(DEFINED KEPT)
  file(GLOB kept RELATIVE "${KEPT}" "${KEPT}/*.png")
  foreach(name IN LISTS kept)
    if(NOT name IN_LIST drawn)
      message(FATAL_ERROR "${KEPT} holds ${name}, which the gallery no longer draws")
    endif()
  endforeach()
  foreach(name IN LISTS drawn)
    if(NOT name IN_LIST kept)
      message(FATAL_ERROR "${KEPT} lacks ${name}: redraw the gallery with its target")
    endif()
  endforeach()
endif()
