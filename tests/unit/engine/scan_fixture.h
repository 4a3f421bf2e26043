#pragma once

// A scan environment over a small target: a registry stated in reg text, a temporary folder
// mapped as C:, the built-in rules, the exclusion lists and a log that keeps its lines.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/category.h"
#include "platform/posix/mapped_file_system.h"
#include "support/fake_platform_queries.h"
#include "support/registry_fixture.h"
#include "support/temp_folder.h"

namespace quillary::testing {

class NoProtection : public ISystemProtection {
public:
    std::optional<bool> SfcIsKeyProtected(HKey, std::u16string_view subKey, RegSam) override {
        if (protectedKey.empty())
            return std::nullopt;
        return subKey == protectedKey;
    }
    bool SfcIsFileProtected(std::u16string_view) override { return false; }
    std::u16string protectedKey;
};

class CScanFixture {
public:
    explicit CScanFixture(std::string_view registryText, bool is64Bit = true)
        : registry_(MakeRegistry(registryText, [&] {
              MemoryRegistryOptions options;
              options.is64Bit = is64Bit;
              return options;
          }())) {
        folder_.MakeFolder("c/windows/system32");
        MappedFileSystemSetup setup;
        setup.drives = {{u'C', folder_.Path() / "c", DriveFixed, {}}};
        setup.is64Bit = is64Bit;
        files_ = std::make_unique<CMappedFileSystem>(std::move(setup));
        target_ = {registry_.get(), is64Bit, {}};
        platform_.is64Bit = is64Bit;
        settings_.SetChkSkipEmptyKeys = 0;
        rules_ = std::make_unique<CBuiltinRules>(*files_, protection_, platform_, settings_);
        references_ =
            std::make_unique<CFileReferenceResolver>(*files_, target_, *rules_, settings_);
        environment_ = std::make_unique<ScanEnvironment>(ScanEnvironment{
            target_, *files_, platform_, settings_, *rules_, *references_, exclusions_,
            [](std::u16string_view id) { return u"text of " + std::u16string(id); },
            [this](std::u16string_view line) { log.emplace_back(line); }});
    }

    ScanEnvironment& Environment() { return *environment_; }
    CMemoryRegistry& Registry() { return *registry_; }
    SettingsValues& Settings() { return settings_; }
    CExclusionLists& Exclusions() { return exclusions_; }
    NoProtection& Protection() { return protection_; }
    const CTempFolder& Folder() const { return folder_; }

    std::vector<std::u16string> log;

private:
    CTempFolder folder_;
    std::unique_ptr<CMemoryRegistry> registry_;
    std::unique_ptr<CMappedFileSystem> files_;
    RegistryTarget target_;
    FakePlatformQueries platform_;
    SettingsValues settings_;
    NoProtection protection_;
    CExclusionLists exclusions_;
    std::unique_ptr<CBuiltinRules> rules_;
    std::unique_ptr<CFileReferenceResolver> references_;
    std::unique_ptr<ScanEnvironment> environment_;
};

}  // namespace quillary::testing
