# bv_add_library(NAME SOURCES ... [PUBLIC_LIBS ...] [PRIVATE_LIBS ...])
# One static library per folder; the folder's parent is on the include path, so headers are
# included as "support/BVLog.h".
function(bv_add_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}/generated)
    target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
    # Folders whose code has not been written yet still build, from an empty unit.
    if(NOT ARG_SOURCES)
        target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/empty.cpp)
    endif()
    bv_target_defaults(${name})
endfunction()
