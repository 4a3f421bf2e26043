# Small helpers that keep every CMakeLists.txt declarative: one call declares a library or a
# test program with its explicit dependencies.

add_library(quillary_options INTERFACE)
target_compile_options(quillary_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow
                       -Wnon-virtual-dtor -Wconversion -Wno-sign-conversion)
if(QUILLARY_WERROR)
    target_compile_options(quillary_options INTERFACE -Werror)
endif()
if(QUILLARY_SANITIZE AND QUILLARY_THREAD_SANITIZER)
    message(FATAL_ERROR "the address and thread sanitizers cannot be combined: choose one")
endif()
if(QUILLARY_SANITIZE)
    target_compile_options(quillary_options INTERFACE -fsanitize=address,undefined
                           -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    target_link_options(quillary_options INTERFACE -fsanitize=address,undefined)
endif()
if(QUILLARY_THREAD_SANITIZER)
    target_compile_options(quillary_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(quillary_options INTERFACE -fsanitize=thread)
endif()

include(QuillaryLayers)

# The include folder a library of src/<layer> compiles with: links to the folders of src/ that
# its layer may include from, and nothing else, so that a wrong #include fails the build.
function(quillary_layer_view layer out)
    if(NOT DEFINED QUILLARY_LAYER_${layer})
        message(FATAL_ERROR "unknown layer ${layer}")
    endif()
    set(view ${CMAKE_BINARY_DIR}/layers/${layer})
    file(MAKE_DIRECTORY ${view})
    foreach(folder IN LISTS QUILLARY_LAYER_${layer})
        if(NOT EXISTS ${view}/${folder})
            file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${folder} ${view}/${folder} SYMBOLIC)
        endif()
    endforeach()
    set(${out} ${view} PARENT_SCOPE)
endfunction()

# quillary_library(<name> SOURCES ... [LAYER <layer>] [DEPS ...] [PRIVATE_DEPS ...]
#                  [INCLUDES ...])
# A library of src/ names its LAYER and sees only that layer's view; its users add src/
# themselves. A library outside src/ (examples, benchmarks, test support) sees all of src/
# and passes it on.
function(quillary_library name)
    cmake_parse_arguments(ARG "" "LAYER" "SOURCES;DEPS;PRIVATE_DEPS;INCLUDES" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    if(ARG_LAYER)
        quillary_layer_view(${ARG_LAYER} view)
        target_include_directories(${name} PRIVATE ${view})
    else()
        target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    endif()
    target_include_directories(${name} PUBLIC ${ARG_INCLUDES})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS} quillary_options PRIVATE ${ARG_PRIVATE_DEPS})
endfunction()

# quillary_test(<name> SOURCES ... DEPS ... [LABELS ...] [PROPERTIES ...])
# LABELS replaces the default label `unit`; PROPERTIES are set on every test of the program.
function(quillary_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LABELS;PROPERTIES" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} quillary_test_support GTest::gtest_main
                          GTest::gmock)
    if(NOT ARG_LABELS)
        set(ARG_LABELS unit)
    endif()
    gtest_discover_tests(${name}
        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
        TEST_LIST ${name}_TESTS
        PROPERTIES ${ARG_PROPERTIES}
        DISCOVERY_TIMEOUT 60)
    # The labels are set by a script of our own, read after the discovered tests: the discovery
    # script would split a list of labels into separate properties.
    set(labels_script ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
    file(WRITE ${labels_script}
         "if(${name}_TESTS)\n"
         "    set_tests_properties(\${${name}_TESTS} PROPERTIES LABELS \"${ARG_LABELS}\")\n"
         "endif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${labels_script})
endfunction()

# quillary_embed_text(<output.cpp> HEADER <header> ENTRIES <symbol>=<file> ...)
# Compiles text files into string_view constants declared in <header>.
function(quillary_embed_text output)
    cmake_parse_arguments(ARG "" "HEADER" "ENTRIES" ${ARGN})
    set(files)
    foreach(entry IN LISTS ARG_ENTRIES)
        string(REPLACE "=" ";" parts "${entry}")
        list(GET parts 1 file)
        list(APPEND files "${file}")
    endforeach()
    add_custom_command(OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -DOUTPUT=${output} -DHEADER=${ARG_HEADER}
                "-DENTRIES=${ARG_ENTRIES}" -P ${PROJECT_SOURCE_DIR}/cmake/EmbedText.cmake
        DEPENDS ${files} ${PROJECT_SOURCE_DIR}/cmake/EmbedText.cmake
        COMMENT "Embedding ${ARG_HEADER} data"
        VERBATIM)
endfunction()
