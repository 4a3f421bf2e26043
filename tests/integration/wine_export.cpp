#include "wine_export.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "core/registry_access.h"
#include "core/text_encoding.h"
#include "support/registry_fixture.h"

namespace quillary::testing {

ExportedKeys ExportRoots(const CWinePrefixCopy& copy, const std::vector<std::string>& roots) {
    copy.WineServer({"-p"});
    ExportedKeys keys;
    for (const std::string& root : roots) {
        std::string error;
        keys = ParseExport(copy.ExportKey(root, &error), std::move(keys));
        EXPECT_EQ(error, "") << root;
    }
    copy.StopWineServer();
    return keys;
}

ExportedKeys ParseExport(const std::string& text, ExportedKeys keys) {
    std::vector<std::string>* current = nullptr;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.starts_with("[")) {
            current = &keys[line];
        } else if (current != nullptr && !line.empty()) {
            current->push_back(line);
        }
    }
    return keys;
}

ExportedKeys KeysOfTheFiles(ExportedKeys keys, IRegistry& store) {
    std::erase_if(keys, [&](const auto& key) {
        const std::u16string path = Utf8ToUtf16(key.first.substr(1, key.first.size() - 2));
        const RegistryPath split = SplitRegistryPath(path);
        const std::optional<HKey> root = RootKeyFromName(split.rootName);
        return !root || !KeyExists(store, *root, split.subKey);
    });
    for (auto& [key, lines] : keys) {
        std::erase_if(
            lines, [](const std::string& line) { return line.starts_with("\"DriverDateData\"="); });
    }
    return keys;
}

}  // namespace quillary::testing
