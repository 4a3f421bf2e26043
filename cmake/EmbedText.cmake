# Writes a C++ source that holds text files as string constants, so that data kept as plain
# files in the source tree is compiled into the program.
#   cmake -DOUTPUT=out.cpp -DHEADER=name.h "-DENTRIES=symbol=file;symbol=file" -P EmbedText.cmake
set(source "// Generated from data files of the source tree; do not edit.\n#include \"${HEADER}\"\n\nnamespace quillary {\n")
foreach(entry IN LISTS ENTRIES)
    string(REPLACE "=" ";" parts "${entry}")
    list(GET parts 0 symbol)
    list(GET parts 1 file)
    file(READ "${file}" text)
    if(text MATCHES "\\)embed\"")
        message(FATAL_ERROR "${file} holds the raw-string delimiter")
    endif()
    string(APPEND source "\nconst std::string_view ${symbol} = R\"embed(${text})embed\";\n")
endforeach()
string(APPEND source "\n}  // namespace quillary\n")
file(WRITE "${OUTPUT}.tmp" "${source}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
