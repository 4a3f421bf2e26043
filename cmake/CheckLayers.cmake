# Reads every #include "..." under src/ and apps/ and fails on one that reaches a folder its
# layer may not include from. Run as: cmake -DSOURCE_DIR=<repository> -P CheckLayers.cmake
# A file of src/<layer>/ may include the folders QuillaryLayers.cmake gives its layer; a file
# of apps/ may include any folder of src/ but ui/, its own folder's headers and the demo
# prefix generator of examples/.
cmake_minimum_required(VERSION 3.25)
if(NOT SOURCE_DIR)
    message(FATAL_ERROR "CheckLayers: SOURCE_DIR is not set")
endif()
include(${CMAKE_CURRENT_LIST_DIR}/QuillaryLayers.cmake)

file(GLOB src_folders LIST_DIRECTORIES true RELATIVE ${SOURCE_DIR}/src ${SOURCE_DIR}/src/*)
set(known_folders)
foreach(folder IN LISTS src_folders)
    if(IS_DIRECTORY ${SOURCE_DIR}/src/${folder})
        list(APPEND known_folders ${folder})
    endif()
endforeach()

file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR}
     ${SOURCE_DIR}/src/*.h ${SOURCE_DIR}/src/*.cpp ${SOURCE_DIR}/src/*.inc
     ${SOURCE_DIR}/apps/*.h ${SOURCE_DIR}/apps/*.cpp)

set(violations 0)
set(checked 0)
foreach(source IN LISTS sources)
    if(source MATCHES "^src/([a-z_]+)/")
        set(layer ${CMAKE_MATCH_1})
        if(NOT layer IN_LIST QUILLARY_LAYERS)
            message(SEND_ERROR "${source}: src/${layer} is not a layer; name it in QuillaryLayers.cmake")
            math(EXPR violations "${violations} + 1")
            continue()
        endif()
        set(allowed ${QUILLARY_LAYER_${layer}})
    else()
        set(allowed ${known_folders})
        list(REMOVE_ITEM allowed ui)
    endif()
    get_filename_component(own_folder ${SOURCE_DIR}/${source} DIRECTORY)
    file(STRINGS ${SOURCE_DIR}/${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS includes)
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" included "${line}")
        math(EXPR checked "${checked} + 1")
        if(EXISTS ${own_folder}/${included})
            # A header beside the including file: same folder, same layer.
            continue()
        endif()
        if(source MATCHES "^apps/" AND EXISTS ${SOURCE_DIR}/examples/${included})
            # The programs may write the demo prefix.
            continue()
        endif()
        if(NOT included MATCHES "^([a-z_]+)/")
            message(SEND_ERROR "${source}: \"${included}\" names no folder of src/")
            math(EXPR violations "${violations} + 1")
            continue()
        endif()
        set(folder ${CMAKE_MATCH_1})
        if(NOT folder IN_LIST allowed)
            message(SEND_ERROR "${source}: includes \"${included}\", but ${source} may include only from: ${allowed}")
            math(EXPR violations "${violations} + 1")
        endif()
    endforeach()
endforeach()

list(LENGTH sources files)
if(violations GREATER 0)
    message(FATAL_ERROR "CheckLayers: ${violations} include(s) against the layer order")
endif()
message(STATUS "CheckLayers: ${checked} includes in ${files} files keep the layer order")
