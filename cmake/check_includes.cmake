# Fails when a source of LAYER includes a header of a layer above it (ABOVE:
# their folders, separated by "|"); else touches STAMP. Run by the build in
# the source tree: cmake -DLAYER=engine "-DABOVE=run|ui|app" -DSTAMP=... -P
file(GLOB sources ${LAYER}/*.cpp ${LAYER}/*.h)
set(upward "")
foreach(source IN LISTS sources)
  file(STRINGS ${source} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"(${ABOVE})/")
  foreach(line IN LISTS lines)
    string(APPEND upward "\n  ${source}: ${line}")
  endforeach()
endforeach()
if(upward)
  message(FATAL_ERROR "${LAYER}/ includes a layer above it (${ABOVE}):${upward}")
endif()
file(TOUCH ${STAMP})
