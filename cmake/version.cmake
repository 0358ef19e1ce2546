# The version stamp is taken at build time: a target regenerates it on every build and
# replaces the file only when the text changed, so at most one object is rebuilt a minute.
set(GW_VERSION_CPP ${CMAKE_BINARY_DIR}/generated/version_stamp.cpp)
add_custom_target(version_stamp
  COMMAND ${CMAKE_COMMAND} -DOUT=${GW_VERSION_CPP} -P ${CMAKE_SOURCE_DIR}/cmake/version_stamp.cmake
  BYPRODUCTS ${GW_VERSION_CPP}
  COMMENT "" VERBATIM)
