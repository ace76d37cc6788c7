# The API server list is linked into the program, not read at run time.
#
# tavro_api_server_source(OUT_VAR NAME URL...) checks six base URLs and writes a source file
# defining tavro::apiServers; OUT_VAR receives its path. The production list (NAME
# TAVRO_API_SERVERS) holds "https://host" entries only, so no production build can speak plain
# HTTP or reach a port of someone's choosing; every other list (TAVRO_DEVELOPMENT_API_SERVERS,
# the copies of tavro_installer_executable, test binaries) may also use "https://host:port" and
# "http://host:port" (local release servers).
#
# tavro_engine links the list of the build setting TAVRO_API_SERVERS, or of
# TAVRO_DEVELOPMENT_API_SERVERS when that is set (a development build; library tavro_api_servers).
# A target that compiles another list's source among its own sources uses that list instead: the
# linker takes a library member only for a symbol that is still undefined.
function(tavro_api_server_source out_var name)
    set(servers ${ARGN})
    list(LENGTH servers count)
    if(NOT count EQUAL 6)
        message(FATAL_ERROR "${name}: an API server list holds exactly six base URLs, not ${count}")
    endif()
    set(TAVRO_API_SERVERS_INIT "")
    foreach(server IN LISTS servers)
        if(server MATCHES "^https://[A-Za-z0-9.-]+$")
        elseif(server MATCHES "^https?://[A-Za-z0-9.-]+:[0-9]+$")
            if(name STREQUAL "TAVRO_API_SERVERS")
                message(FATAL_ERROR "TAVRO_API_SERVERS: '${server}' is not https://host; the "
                                    "production list holds six https://host entries only. Give "
                                    "a development or test list as TAVRO_DEVELOPMENT_API_SERVERS "
                                    "instead (or to a tavro_installer_executable copy)")
            endif()
        elseif(name STREQUAL "TAVRO_API_SERVERS")
            message(FATAL_ERROR "TAVRO_API_SERVERS: API server '${server}' is not https://host "
                                "(no port, no path, no trailing slash)")
        else()
            message(FATAL_ERROR "${name}: API server '${server}' is neither https://host, "
                                "https://host:port nor http://host:port (no path, no trailing "
                                "slash)")
        endif()
        string(APPEND TAVRO_API_SERVERS_INIT "    \"${server}\",\n")
    endforeach()
    set(output ${CMAKE_CURRENT_BINARY_DIR}/${name}_api_servers.cpp)
    configure_file(${PROJECT_SOURCE_DIR}/src/api/api_servers.cpp.in ${output} @ONLY)
    set(${out_var} ${output} PARENT_SCOPE)
endfunction()

# tavro_local_api_servers(OUT_VAR FIRST_PORT [HTTPS]): six development base URLs at FIRST_PORT
# and the five ports after it (tests whose servers listen there): http://127.0.0.1:PORT, or with
# HTTPS https://localhost:PORT (the name in the test certificates).
function(tavro_local_api_servers out_var first_port)
    math(EXPR last_port "${first_port} + 5")
    set(base http://127.0.0.1)
    if("HTTPS" IN_LIST ARGN)
        set(base https://localhost)
    endif()
    set(servers)
    foreach(port RANGE ${first_port} ${last_port})
        list(APPEND servers ${base}:${port})
    endforeach()
    set(${out_var} ${servers} PARENT_SCOPE)
endfunction()
