# Warnings are errors on every compiler we build with.
function(tavro_warnings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 /WX /permissive- /utf-8)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
    endif()
endfunction()

# Definitions every Windows translation unit shares.
function(tavro_windows_defs target)
    if(WIN32)
        target_compile_definitions(${target} PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00
                                   WINVER=0x0A00)
    endif()
endfunction()
