# Runs the server-list check of cmake/ApiServers.cmake on one list, as configure would:
#   cmake -DNAME=setting -DSERVERS=url|url|... -DSOURCE_DIR=repo -DOUT_DIR=dir -P this file
# Prints "accepted" with the generated source, or fails with configure's message.
set(PROJECT_SOURCE_DIR ${SOURCE_DIR})
set(CMAKE_CURRENT_BINARY_DIR ${OUT_DIR})
include(${SOURCE_DIR}/cmake/ApiServers.cmake)
string(REPLACE "|" ";" servers "${SERVERS}")
tavro_api_server_source(source ${NAME} ${servers})
message(STATUS "accepted: ${source}")
