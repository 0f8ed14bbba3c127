# The layering rules of the libraries, run as the test "layering":
#   cmake -DLAYERS=<build>/layers.cmake -P CheckLayers.cmake
# LAYERS, written when the build is configured, holds each library's and program's sources and
# links. Every quoted include of a project header must name a header of the same library or
# of one it links, directly or not (so nothing includes upward), and must be listed in some
# library; the Qt-free ones reach no Qt at all and only the UI ones reach QtWidgets.

cmake_minimum_required(VERSION 3.25)
include(${LAYERS})

# Who owns each listed file, by its path from the source folder.
foreach(t IN LISTS VELRISA_LAYERS)
    foreach(f IN LISTS LAYER_${t}_SOURCES)
        file(RELATIVE_PATH rel ${VELRISA_SOURCES} ${f})
        set(owner_${rel} ${t})
    endforeach()
endforeach()

# Everything a target reaches through its links, generator expressions unwrapped.
function(reach t out)
    set(done)
    set(pending ${t})
    while(pending)
        list(POP_FRONT pending current)
        if(current IN_LIST done)
            continue()
        endif()
        list(APPEND done ${current})
        foreach(l IN LISTS LAYER_${current}_LINKS)
            string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" l "${l}")
            if(NOT l MATCHES "^\\$<")
                list(APPEND pending ${l})
            endif()
        endforeach()
    endwhile()
    list(REMOVE_ITEM done ${t})
    set(${out} ${done} PARENT_SCOPE)
endfunction()

set(failures)
foreach(t IN LISTS VELRISA_LAYERS)
    reach(${t} reached)

    if(t IN_LIST VELRISA_WITHOUT_QT)
        foreach(l IN LISTS reached)
            if(l MATCHES "^Qt6?::")
                list(APPEND failures "${t} must link no Qt, yet reaches ${l}")
            endif()
        endforeach()
    endif()
    if(NOT t IN_LIST VELRISA_UI AND "Qt6::Widgets" IN_LIST reached)
        list(APPEND failures "${t} is below the windows, yet reaches Qt6::Widgets")
    endif()

    foreach(f IN LISTS LAYER_${t}_SOURCES)
        file(RELATIVE_PATH rel ${VELRISA_SOURCES} ${f})
        file(STRINGS ${f} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
        foreach(line IN LISTS lines)
            string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*$" "\\1" included "${line}")
            # Generated headers (version.h) live in the build folder: not the project's sources.
            if(NOT EXISTS ${VELRISA_SOURCES}/${included})
                continue()
            endif()
            set(owner ${owner_${included}})
            if(NOT owner)
                list(APPEND failures "${rel} (${t}) includes ${included}, which no library lists")
            elseif(NOT owner STREQUAL t AND NOT owner IN_LIST reached)
                list(APPEND failures "${rel} (${t}) includes ${included} of ${owner}, which ${t} does not link")
            endif()
        endforeach()
    endforeach()
endforeach()

if(failures)
    list(JOIN failures "\n  " text)
    message(FATAL_ERROR "The libraries break their layering:\n  ${text}")
endif()
list(LENGTH VELRISA_LAYERS n)
message(STATUS "Layering holds for ${n} libraries and programs")
