#pragma once

// What belongs to the system in a Wine prefix. Wine has no protected keys (its sfc.dll lacks
// SfcIsKeyProtected, so the answer is "no such function"), but every program and library
// that Wine installs itself carries a mark in its DOS header ("Wine builtin DLL", or "Wine
// placeholder DLL" for a stand-in), which tells a system file from one a user installed.

#include "platform/system_protection.h"
#include "targets/posix/mapped_file_system.h"

namespace quillary {

class CWineSystemProtection final : public ISystemProtection {
public:
    explicit CWineSystemProtection(CMappedFileSystem& files) : files_(files) {}

    std::optional<bool> SfcIsKeyProtected(HKey, std::u16string_view, RegSam) override {
        return std::nullopt;
    }
    bool SfcIsFileProtected(std::u16string_view path) override;

private:
    CMappedFileSystem& files_;
};

}  // namespace quillary
