# The API server list is linked into the program, not read at run time.
#
# tavro_api_server_source(OUT_VAR NAME URL...) checks six base URLs and writes a source file
# defining tavro::apiServers; OUT_VAR receives its path. A production list holds "https://host"
# entries; a development list may also use "http://host:port" (local release servers), and says
# so at configure time.
#
# tavro_engine links the list of the build setting TAVRO_API_SERVERS (library tavro_api_servers).
# A target that compiles another list's source among its own sources uses that list instead: the
# linker takes a library member only for a symbol that is still undefined.
function(tavro_api_server_source out_var name)
    set(servers ${ARGN})
    list(LENGTH servers count)
    if(NOT count EQUAL 6)
        message(FATAL_ERROR "${name}: an API server list holds exactly six base URLs, not ${count}")
    endif()
    set(TAVRO_API_SERVERS_INIT "")
    set(development OFF)
    foreach(server IN LISTS servers)
        if(server MATCHES "^https://[A-Za-z0-9.-]+$")
        elseif(server MATCHES "^http://[A-Za-z0-9.-]+:[0-9]+$")
            set(development ON)
        else()
            message(FATAL_ERROR "${name}: API server '${server}' is neither https://host nor "
                                "http://host:port (no path, no trailing slash)")
        endif()
        string(APPEND TAVRO_API_SERVERS_INIT "    \"${server}\",\n")
    endforeach()
    if(development AND name STREQUAL "TAVRO_API_SERVERS")
        message(STATUS "TAVRO_API_SERVERS holds plain-HTTP servers: a development build")
    endif()
    set(output ${CMAKE_CURRENT_BINARY_DIR}/${name}_api_servers.cpp)
    configure_file(${PROJECT_SOURCE_DIR}/src/api/api_servers.cpp.in ${output} @ONLY)
    set(${out_var} ${output} PARENT_SCOPE)
endfunction()

# tavro_local_api_servers(OUT_VAR FIRST_PORT): six development base URLs on 127.0.0.1, at
# FIRST_PORT and the five ports after it (tests whose servers listen there).
function(tavro_local_api_servers out_var first_port)
    math(EXPR last_port "${first_port} + 5")
    set(servers)
    foreach(port RANGE ${first_port} ${last_port})
        list(APPEND servers http://127.0.0.1:${port})
    endforeach()
    set(${out_var} ${servers} PARENT_SCOPE)
endfunction()
