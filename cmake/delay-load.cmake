# delay_load(target name...): the system libraries `name`.dll are bound when the target first calls into
# them instead of when it starts, so the program can choose where they come from before they load.
# MSVC's linker does this itself. With mingw-w64, dlltool makes a delay-load import library from the list
# of functions in the ordinary one, and the runtime's __delayLoadHelper2 binds it; both go in the build.
function(delay_load target)
    if(MSVC)
        foreach(name ${ARGN})
            target_link_options(${target} PRIVATE /DELAYLOAD:${name}.dll)
        endforeach()
        target_link_libraries(${target} PRIVATE delayimp)
        return()
    endif()

    set(folder ${CMAKE_BINARY_DIR}/delay-load)
    file(MAKE_DIRECTORY ${folder})
    foreach(name ${ARGN})
        find_library(DELAY_LOAD_IMPORT_${name} ${name})
        set(import ${DELAY_LOAD_IMPORT_${name}})
        if(NOT import)
            message(FATAL_ERROR "no import library for ${name}")
        endif()
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${import})

        execute_process(COMMAND ${CMAKE_NM} -g --defined-only ${import}
                        OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
        if(failed)
            message(FATAL_ERROR "${CMAKE_NM} could not list ${import}")
        endif()
        # Each function's stub is a text symbol, named as C names it: with a leading "_" on 32-bit x86.
        string(REGEX MATCHALL " T [^\n]+" functions "${symbols}")
        set(exports "LIBRARY ${name}.dll\nEXPORTS\n")
        foreach(function ${functions})
            string(REGEX REPLACE "^ T " "" function "${function}")
            if(CMAKE_SIZEOF_VOID_P EQUAL 4)
                string(REGEX REPLACE "^_" "" function "${function}")
            endif()
            string(APPEND exports "${function}\n")
        endforeach()
        file(WRITE ${folder}/${name}.def "${exports}")

        # -k: the stdcall functions are exported without their "@n".
        execute_process(COMMAND ${CMAKE_DLLTOOL} -k -d ${name}.def -D ${name}.dll -y lib${name}-delay.a
                        WORKING_DIRECTORY ${folder} RESULT_VARIABLE failed)
        if(failed)
            message(FATAL_ERROR "${CMAKE_DLLTOOL} could not make the delay-load library for ${name}")
        endif()
        target_link_libraries(${target} PRIVATE ${folder}/lib${name}-delay.a)
    endforeach()
endfunction()
