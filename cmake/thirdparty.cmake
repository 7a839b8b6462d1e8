# Third-party code is built from Debian's installed sources, never copied into the tree.

# GoogleTest, from the googletest package.
set(GOOGLETEST_SRC /usr/src/googletest CACHE PATH "GoogleTest sources")
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${GOOGLETEST_SRC} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# TinyXML, unpacked from Debian's source package by scripts/setup.sh (Debian's patches select STL mode).
set(TINYXML_SRC /usr/share/tinyxml-src CACHE PATH "TinyXML sources")
if(EXISTS ${TINYXML_SRC}/tinyxml.cpp)
  add_library(tinyxml STATIC ${TINYXML_SRC}/tinyxml.cpp ${TINYXML_SRC}/tinyxmlparser.cpp
                             ${TINYXML_SRC}/tinyxmlerror.cpp)
  target_include_directories(tinyxml SYSTEM PUBLIC ${TINYXML_SRC})
  target_compile_definitions(tinyxml PUBLIC TIXML_USE_STL)
  target_compile_options(tinyxml PRIVATE -w)
else()
  message(WARNING "TinyXML sources not found in ${TINYXML_SRC}; run scripts/setup.sh")
endif()
