# The public keys that may sign releases are linked into the program, not read at run time.
#
# tavro_release_key_source(OUT_VAR NAME KEY...) checks KEYID=BASE64 entries (BASE64: the DER
# SubjectPublicKeyInfo of a P-256 public key, as tools/release/make-release-key prints it) and
# writes a source file defining tavro::builtInReleaseKeys; OUT_VAR receives its path. No entries:
# the program takes releases unsigned.
#
# tavro_engine links the list of the build setting TAVRO_RELEASE_KEYS (library
# tavro_release_keys). A target that compiles another list's source among its own sources uses
# that list instead: the linker takes a library member only for a symbol that is still undefined.

# Every P-256 SubjectPublicKeyInfo starts with the same 36 base64 characters (the algorithm and
# curve identifiers, and the uncompressed-point byte) and is 124 characters long.
set(TAVRO_P256_SPKI_BASE64_PREFIX "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAE")

function(tavro_release_key_source out_var name)
    set(entries ${ARGN})
    set(TAVRO_RELEASE_KEYS_INIT "")
    set(ids)
    foreach(entry IN LISTS entries)
        if(NOT entry MATCHES "^([A-Za-z0-9._-]+)=([A-Za-z0-9+/]+=*)$")
            message(FATAL_ERROR "${name}: '${entry}' is not KEYID=BASE64 (a key id of A-Z, a-z, "
                                "0-9, '.', '_' and '-', then the key's base64)")
        endif()
        set(id ${CMAKE_MATCH_1})
        set(key ${CMAKE_MATCH_2})
        string(LENGTH "${id}" id_length)
        string(LENGTH "${key}" key_length)
        string(FIND "${key}" "${TAVRO_P256_SPKI_BASE64_PREFIX}" prefix_at)
        if(id_length GREATER 32)
            message(FATAL_ERROR "${name}: key id '${id}' is longer than 32 characters")
        endif()
        if(NOT key_length EQUAL 124 OR NOT prefix_at EQUAL 0)
            message(FATAL_ERROR "${name}: key '${id}' is not the DER SubjectPublicKeyInfo of a "
                                "P-256 public key in base64 (openssl pkey -pubin -outform DER | "
                                "base64 -w0)")
        endif()
        if(id IN_LIST ids)
            message(FATAL_ERROR "${name}: key id '${id}' is given twice")
        endif()
        list(APPEND ids ${id})
        string(APPEND TAVRO_RELEASE_KEYS_INIT "    {\"${id}\", \"${key}\"},\n")
    endforeach()
    list(LENGTH ids TAVRO_RELEASE_KEY_COUNT)
    set(output ${CMAKE_CURRENT_BINARY_DIR}/${name}_release_keys.cpp)
    configure_file(${PROJECT_SOURCE_DIR}/src/api/release_keys.cpp.in ${output} @ONLY)
    set(${out_var} ${output} PARENT_SCOPE)
endfunction()

# tavro_describe_release_keys(PRODUCTION_SERVERS): tells whether the build verifies releases, and
# warns when a build for the production servers would take them unsigned.
function(tavro_describe_release_keys production_servers)
    set(ids)
    foreach(entry IN LISTS TAVRO_RELEASE_KEYS)
        string(REGEX REPLACE "=.*" "" id "${entry}")
        list(APPEND ids ${id})
    endforeach()
    if(ids)
        list(JOIN ids ", " id_text)
        message(STATUS "TAVRO_RELEASE_KEYS: this build verifies signed releases (keys: ${id_text})")
    elseif(production_servers)
        message(WARNING "TAVRO_RELEASE_KEYS is empty: this build for the production API servers "
                        "trusts releases unsigned. Give the release keys (see docs/releases.md).")
    else()
        message(STATUS "TAVRO_RELEASE_KEYS is empty: this build takes releases unsigned")
    endif()
endfunction()
