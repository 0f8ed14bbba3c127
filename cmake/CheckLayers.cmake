# The layering rules of the libraries, run as the test "arquitectura":
#   cmake -DCAPAS=<build>/layers.cmake -P CheckLayers.cmake
# CAPAS, written when the build is configured, holds each library's and program's sources and
# links. Every quoted include of a project header must name a header of the same library or
# of one it links, directly or not (so nothing includes upward), and must be listed in some
# library; the Qt-free ones reach no Qt at all and only the UI ones reach QtWidgets.

cmake_minimum_required(VERSION 3.25)
include(${CAPAS})

# Who owns each listed file, by its path from the source folder.
foreach(t IN LISTS VELRISA_LAYERS)
    foreach(f IN LISTS CAPA_${t}_SOURCES)
        file(RELATIVE_PATH rel ${VELRISA_FUENTES} ${f})
        set(dueno_${rel} ${t})
    endforeach()
endforeach()

# Everything a target reaches through its links, generator expressions unwrapped.
function(alcance t out)
    set(hechos)
    set(pendientes ${t})
    while(pendientes)
        list(POP_FRONT pendientes actual)
        if(actual IN_LIST hechos)
            continue()
        endif()
        list(APPEND hechos ${actual})
        foreach(l IN LISTS CAPA_${actual}_LINKS)
            string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" l "${l}")
            if(NOT l MATCHES "^\\$<")
                list(APPEND pendientes ${l})
            endif()
        endforeach()
    endwhile()
    list(REMOVE_ITEM hechos ${t})
    set(${out} ${hechos} PARENT_SCOPE)
endfunction()

set(fallos)
foreach(t IN LISTS VELRISA_LAYERS)
    alcance(${t} alcanzados)

    if(t IN_LIST VELRISA_WITHOUT_QT)
        foreach(l IN LISTS alcanzados)
            if(l MATCHES "^Qt6?::")
                list(APPEND fallos "${t} must link no Qt, yet reaches ${l}")
            endif()
        endforeach()
    endif()
    if(NOT t IN_LIST VELRISA_UI AND "Qt6::Widgets" IN_LIST alcanzados)
        list(APPEND fallos "${t} is below the windows, yet reaches Qt6::Widgets")
    endif()

    foreach(f IN LISTS CAPA_${t}_SOURCES)
        file(RELATIVE_PATH rel ${VELRISA_FUENTES} ${f})
        file(STRINGS ${f} lineas REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
        foreach(linea IN LISTS lineas)
            string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*$" "\\1" incluido "${linea}")
            # Generated headers (version.h) live in the build folder: not the project's sources.
            if(NOT EXISTS ${VELRISA_FUENTES}/${incluido})
                continue()
            endif()
            set(dueno ${dueno_${incluido}})
            if(NOT dueno)
                list(APPEND fallos "${rel} (${t}) includes ${incluido}, which no library lists")
            elseif(NOT dueno STREQUAL t AND NOT dueno IN_LIST alcanzados)
                list(APPEND fallos "${rel} (${t}) includes ${incluido} of ${dueno}, which ${t} does not link")
            endif()
        endforeach()
    endforeach()
endforeach()

if(fallos)
    list(JOIN fallos "\n  " texto)
    message(FATAL_ERROR "The libraries break their layering:\n  ${texto}")
endif()
list(LENGTH VELRISA_LAYERS n)
message(STATUS "Layering holds for ${n} libraries and programs")
