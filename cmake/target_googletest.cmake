# GoogleTest and GoogleMock for a cross-built tree, from Debian's sources (package
# googletest), built here with the tree's own tool chain; they define the GTest:: names
# that find_package(GTest) gives on the host.
set(gw_googletest_source /usr/src/googletest)
if(NOT EXISTS ${gw_googletest_source}/CMakeLists.txt)
  message(FATAL_ERROR "${gw_googletest_source} is missing: install the Debian package googletest")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${gw_googletest_source} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
