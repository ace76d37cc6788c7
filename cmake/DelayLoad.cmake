# Delay-loaded system DLLs for the shipped program.
#
# The installer runs elevated from wherever it was downloaded to. A DLL named in its import table
# that is not one of the system's KnownDLLs (winhttp.dll, comctl32.dll) is looked for beside the
# executable first, before the program's first line runs: a file planted in Downloads would run
# with administrator rights. Delay-loaded, such a DLL is loaded on its first call, after startup
# has limited the DLL search to the system folder (SetDefaultDllDirectories).
#
# tavro_delay_loaded_library(NAME DLL): an INTERFACE target tavro_import_NAME that links the
# ordinary import library, or the delay-load one for targets whose TAVRO_DELAY_LOAD property is
# true (the property is read on the program being linked).

function(tavro_delay_loaded_library name dll)
    set(target tavro_import_${name})
    add_library(${target} INTERFACE)
    if(MSVC)
        target_link_libraries(${target} INTERFACE ${name}
            $<$<BOOL:$<TARGET_PROPERTY:TAVRO_DELAY_LOAD>>:delayimp>)
        target_link_options(${target} INTERFACE
            $<$<BOOL:$<TARGET_PROPERTY:TAVRO_DELAY_LOAD>>:/DELAYLOAD:${dll}>)
        return()
    endif()
    # MinGW: a delay-load import library made by dlltool from the exports of the ordinary one.
    find_library(import_library NAMES lib${name}.a REQUIRED NO_CACHE)
    execute_process(COMMAND ${CMAKE_NM} -g --defined-only ${import_library}
                    OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCHALL "[0-9a-fA-F]+ T [A-Za-z_][A-Za-z0-9_]*" exports "${symbols}")
    set(definition "LIBRARY ${dll}\nEXPORTS\n")
    foreach(entry IN LISTS exports)
        string(REGEX REPLACE ".* T " "" entry "${entry}")
        string(APPEND definition "${entry}\n")
    endforeach()
    set(folder ${CMAKE_BINARY_DIR}/delay-load)
    file(WRITE ${folder}/${name}.def "${definition}")
    find_program(TAVRO_DLLTOOL NAMES x86_64-w64-mingw32-dlltool REQUIRED)
    execute_process(COMMAND ${TAVRO_DLLTOOL} --input-def ${folder}/${name}.def --dllname ${dll}
                            --output-delaylib ${folder}/lib${name}_delay.a
                    COMMAND_ERROR_IS_FATAL ANY)
    set(delayed $<BOOL:$<TARGET_PROPERTY:TAVRO_DELAY_LOAD>>)
    target_link_libraries(${target} INTERFACE
        $<${delayed}:${folder}/lib${name}_delay.a> $<${delayed}:delayimp> $<$<NOT:${delayed}>:${name}>)
endfunction()
