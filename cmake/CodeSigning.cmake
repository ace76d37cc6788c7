# Authenticode signing of the shipped program, right after it is linked.
#
# The certificate and its private key never live in the repository: the build setting names
# them (TAVRO_SIGNING_CERT, TAVRO_SIGNING_KEY), and a password, when the key has one, comes from
# the environment variable TAVRO_SIGNING_PASSWORD at build time, never from the cache.
#   PEM:      TAVRO_SIGNING_CERT=cert.pem (the signer, then any intermediate CAs) and
#             TAVRO_SIGNING_KEY=key.pem
#   PKCS#12:  TAVRO_SIGNING_CERT=signer.p12 (or .pfx), TAVRO_SIGNING_KEY empty
# Linux builds sign with osslsigncode; Visual Studio builds with signtool (PKCS#12 only). With
# TAVRO_TIMESTAMP_URL, the signature gets an RFC 3161 timestamp from that server; when the server
# does not answer, the build signs without one and says so.

# tavro_signing_tool(OUT_VAR): the signing program of this build, found once.
function(tavro_signing_tool out_var)
    if(MSVC)
        find_program(TAVRO_SIGNTOOL NAMES signtool REQUIRED)
        set(${out_var} ${TAVRO_SIGNTOOL} PARENT_SCOPE)
    else()
        find_program(TAVRO_OSSLSIGNCODE NAMES osslsigncode REQUIRED)
        set(${out_var} ${TAVRO_OSSLSIGNCODE} PARENT_SCOPE)
    endif()
endfunction()

# tavro_check_signing_files(CERT KEY): stops configure when the files cannot be used.
function(tavro_check_signing_files cert key)
    if(NOT EXISTS "${cert}")
        message(FATAL_ERROR "TAVRO_SIGNING_CERT: ${cert} does not exist")
    endif()
    if(cert MATCHES "\\.(p12|pfx)$")
        if(key)
            message(FATAL_ERROR "TAVRO_SIGNING_KEY: a PKCS#12 file (${cert}) carries its own key; "
                                "leave TAVRO_SIGNING_KEY empty")
        endif()
    elseif(MSVC)
        message(FATAL_ERROR "TAVRO_SIGNING_CERT: signtool takes a PKCS#12 file (.p12 or .pfx)")
    elseif(NOT EXISTS "${key}")
        message(FATAL_ERROR "TAVRO_SIGNING_KEY: a PEM certificate needs its private key "
                            "(TAVRO_SIGNING_KEY=key.pem); '${key}' does not exist")
    endif()
endfunction()

# tavro_sign_program(TARGET OUTPUT file CERT cert [KEY key] [TIMESTAMP_URL url] [FROM file]):
# after TARGET links, signs FROM (default: the program itself) into OUTPUT (default: in place).
function(tavro_sign_program target)
    cmake_parse_arguments(S "" "OUTPUT;CERT;KEY;TIMESTAMP_URL;FROM" "" ${ARGN})
    tavro_check_signing_files("${S_CERT}" "${S_KEY}")
    tavro_signing_tool(tool)
    if(NOT S_FROM)
        set(S_FROM $<TARGET_FILE:${target}>)
    endif()
    if(NOT S_OUTPUT)
        set(S_OUTPUT ${S_FROM})
    endif()
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -DTOOL=${tool} -DPROGRAM=${S_FROM} -DOUTPUT=${S_OUTPUT}
                -DCERT=${S_CERT} -DKEY=${S_KEY} -DTIMESTAMP_URL=${S_TIMESTAMP_URL}
                -P ${PROJECT_SOURCE_DIR}/cmake/sign-program.cmake
        VERBATIM)
endfunction()

# tavro_describe_signing(PRODUCTION_SERVERS): tells whether the build signs the installer, and
# warns when a build for the production servers would ship it unsigned.
function(tavro_describe_signing production_servers)
    if(TAVRO_SIGNING_CERT)
        tavro_check_signing_files("${TAVRO_SIGNING_CERT}" "${TAVRO_SIGNING_KEY}")
        if(TAVRO_TIMESTAMP_URL)
            set(stamp "timestamp from ${TAVRO_TIMESTAMP_URL}")
        else()
            set(stamp "no timestamp server (TAVRO_TIMESTAMP_URL)")
        endif()
        message(STATUS "TAVRO_SIGNING_CERT: this build signs TavroInstaller.exe (SHA-256) with "
                       "${TAVRO_SIGNING_CERT}; ${stamp}")
    elseif(production_servers)
        message(WARNING "TAVRO_SIGNING_CERT is empty: this build for the production API servers "
                        "makes an unsigned TavroInstaller.exe. Give the signing certificate "
                        "(see docs/signing.md).")
    else()
        message(STATUS "TAVRO_SIGNING_CERT is empty: this build makes an unsigned "
                       "TavroInstaller.exe")
    endif()
endfunction()
