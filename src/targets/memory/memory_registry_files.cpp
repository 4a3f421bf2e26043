// The registry functions that read and write files: RegSaveKeyW writes a key's tree as
// registry text, RegReplaceKeyW queues a file whose contents replace a key at the next start.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/text_encoding.h"
#include "targets/memory/memory_registry.h"
#include "targets/memory/memory_registry_parts.h"
#include "targets/memory/reg_text.h"

namespace quillary {
namespace {

std::filesystem::path HostPath(std::u16string_view file) {
    const std::string utf8 = Utf16ToUtf8(file);
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// Writes a new file; fails when it exists already.
LStatus WriteNewFile(std::u16string_view file, const std::string& contents) {
    const std::filesystem::path path = HostPath(file);
    std::FILE* stream = std::fopen(path.c_str(), "wbx");
    if (stream == nullptr) {
        return std::filesystem::exists(path) ? ErrorAlreadyExists : ErrorAccessDenied;
    }
    const bool written =
        std::fwrite(contents.data(), 1, contents.size(), stream) == contents.size();
    const bool closed = std::fclose(stream) == 0;
    if (!written || !closed) {
        std::filesystem::remove(path);
        return ErrorWriteProtect;
    }
    return ErrorSuccess;
}

LStatus ReadRegTextFile(std::u16string_view file, RegTextDocument* document) {
    std::ifstream stream(HostPath(file), std::ios::binary);
    if (!stream) {
        return ErrorFileNotFound;
    }
    std::ostringstream contents;
    contents << stream.rdbuf();
    *document = ParseRegText(contents.str());
    return document->errors.empty() ? ErrorSuccess : ErrorBadDatabase;
}

}  // namespace

LStatus CMemoryRegistry::RegSaveKeyW(HKey key, std::u16string_view file) {
    std::lock_guard lock(mutex_);
    Handle* handle = nullptr;
    std::shared_ptr<CRegistryNode> node;
    if (const LStatus status = Resolve(key, KeyRead, &handle, &node); status != ErrorSuccess) {
        return status;
    }
    return WriteNewFile(file, FormatRegTree(*node));
}

LStatus CMemoryRegistry::RegReplaceKeyW(HKey key, std::u16string_view subKey,
                                        std::u16string_view newFile, std::u16string_view oldFile) {
    std::lock_guard lock(mutex_);
    HKey opened = HKey::None;
    if (const LStatus status = OpenOrCreate(key, subKey, 0, KeyRead, nullptr, &opened, nullptr);
        status != ErrorSuccess) {
        return status;
    }
    const std::u16string path = handles_.at(static_cast<std::uint32_t>(opened))->Primary()->Path();
    handles_.erase(static_cast<std::uint32_t>(opened));
    RegTextDocument document;
    if (const LStatus status = ReadRegTextFile(newFile, &document); status != ErrorSuccess) {
        return status;
    }
    pendingReplacements_.push_back(
        PendingReplacement{path, std::u16string(newFile), std::u16string(oldFile)});
    return ErrorSuccess;
}

LStatus CMemoryRegistry::ApplyPendingReplacements() {
    std::lock_guard lock(mutex_);
    std::vector<PendingReplacement> pending = std::move(pendingReplacements_);
    pendingReplacements_.clear();
    for (const PendingReplacement& replacement : pending) {
        std::vector<std::u16string_view> walked;
        const std::shared_ptr<CRegistryNode> node =
            NodeAt(SplitTreePath(replacement.path), 0, &walked);
        RegTextDocument document;
        if (!node) {
            return ErrorFileNotFound;
        }
        if (const LStatus status = ReadRegTextFile(replacement.newFile, &document);
            status != ErrorSuccess) {
            return status;
        }
        if (const LStatus status = WriteNewFile(replacement.oldFile, FormatRegTree(*node));
            status != ErrorSuccess) {
            return status;
        }
        while (node->ChildCount() > 0) {
            node->RemoveChild(node->ChildAt(0)->Name());
        }
        while (!node->Values().empty()) {
            node->DeleteValue(node->Values().front().name);
        }
        for (RegTextKey& key : document.keys) {
            CRegistryNode* target = node.get();
            for (std::u16string_view name : SplitTreePath(key.path)) {
                CRegistryNode* child = target->FindChild(name);
                target = child != nullptr ? child : target->AddChild(name);
                target->lastWriteTime = Now();
            }
            target->className = key.className;
            target->isLink = key.isLink;
            target->denial = key.denial;
            for (RegValue& value : key.values) {
                target->SetValue(value.name, value.type, std::move(value.data));
            }
        }
        Touch(*node);
    }
    return ErrorSuccess;
}

}  // namespace quillary
