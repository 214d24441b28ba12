# The page's files (web/page/) compiled into the program as byte arrays, so that it serves them
# with no folder to find at run time and nothing else can be served.
file(GLOB WEB_PAGE_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/web/page/*)
set(WEB_PAGE_SOURCE ${CMAKE_BINARY_DIR}/web/PageFiles.cpp)
add_custom_command(OUTPUT ${WEB_PAGE_SOURCE}
  COMMAND ${CMAKE_COMMAND} -DOUT=${WEB_PAGE_SOURCE} -DDIR=${CMAKE_SOURCE_DIR}/web/page -P ${CMAKE_SOURCE_DIR}/web/EmbedPage.cmake
  DEPENDS ${WEB_PAGE_FILES} ${CMAKE_SOURCE_DIR}/web/EmbedPage.cmake
  COMMENT "Embedding the browser page")
