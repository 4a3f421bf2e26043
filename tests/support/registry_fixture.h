#pragma once

// Registries for tests, stated in a few lines of reg text (see targets/memory/reg_text.h):
//
//   auto registry = MakeRegistry(R"(
//       [HKEY_LOCAL_MACHINE\Software\Example]
//       "Path"="C:\\Program Files\\Example\\example.exe"
//   )");

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "targets/memory/memory_registry.h"

namespace quillary::testing {

// Adds the keys and values of the text to the registry; every key path begins with one of
// the five root names. A line the parser rejects fails the test.
void LoadRegistryText(CMemoryRegistry& registry, std::string_view text);

std::unique_ptr<CMemoryRegistry> MakeRegistry(std::string_view text,
                                              MemoryRegistryOptions options = {});

// Test helpers for checking results.
bool KeyExists(IRegistry& registry, HKey root, std::u16string_view path,
               RegSam view = KeyWow64_64Key);
// The raw bytes of a value; nullopt when it is missing.
std::optional<std::vector<std::uint8_t>> ValueBytes(IRegistry& registry, HKey root,
                                                    std::u16string_view path,
                                                    std::u16string_view name,
                                                    RegSam view = KeyWow64_64Key);

}  // namespace quillary::testing
