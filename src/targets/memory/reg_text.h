#pragma once

// A readable text form of registry keys, close to the Registry Editor's export files:
//
//   ; a comment
//   [HKEY_LOCAL_MACHINE\Software\Example]
//   #class="class name"          (optional)
//   #deny=write                   (optional: write or all; an access-denied mark for tests)
//   @="the default value"
//   "Text"="C:\\Program Files\\x.exe"
//   "Expand"=str(2):"%SystemRoot%\\x.dll"
//   "Lines"=str(7):"one\0two\0"
//   "Number"=dword:0000002a
//   "Big"=qword:0000000100000000
//   "Bytes"=hex:01,02,03          (a line may end in a backslash after a comma and go
//                                 on in the next line)
//   "Odd"=hex(1):41,00,42
//   [HKEY_LOCAL_MACHINE\Software\Link]
//   #link=\Registry\Machine\Software\Example
//
// Strings hold the text and get one terminating NUL; str(N) gives the type in hex. Escapes in
// quoted text: \\ \" \n \r \t \0 and \xHHHH (one UTF-16 unit). In a key path, components are
// separated by one backslash and %HHHH stands for a UTF-16 unit that a path cannot spell.
// Tests state their registries in it; the in-memory store saves keys in it.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "targets/memory/registry_tree.h"

namespace quillary {

struct RegTextKey {
    std::u16string path;  // as written between the brackets, escapes decoded
    std::u16string className;
    bool isLink = false;
    AccessDenial denial = AccessDenial::None;
    std::vector<RegValue> values;
};

struct RegTextError {
    std::size_t line = 0;
    std::string message;
};

struct RegTextDocument {
    std::vector<RegTextKey> keys;
    std::vector<RegTextError> errors;
};

// Parses UTF-8 text. Every line that cannot be understood is reported with its number.
RegTextDocument ParseRegText(std::string_view utf8);

// Writes a node and everything below it, with paths relative to the node ("[]" is the node
// itself). Volatile keys are left out, as a saved registry leaves them out.
std::string FormatRegTree(const CRegistryNode& node);

// The line describing an error, "line N: message".
std::string DescribeRegTextError(const RegTextError& error);

}  // namespace quillary
