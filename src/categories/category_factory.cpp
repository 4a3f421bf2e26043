#include "categories/category_factory.h"

#include <array>
#include <utility>

#include "categories/activex.h"
#include "categories/app_paths.h"
#include "categories/deep_scan.h"
#include "categories/file_types.h"
#include "categories/fonts.h"
#include "categories/help_files.h"
#include "categories/history_lists.h"
#include "categories/shared_files.h"
#include "categories/shortcuts.h"
#include "categories/software.h"
#include "categories/sounds.h"
#include "categories/start_menu.h"
#include "categories/startup.h"
#include "engine/category_table.h"

namespace quillary {
namespace {

using Maker = std::unique_ptr<CCategory> (*)(ScanEnvironment&);

template <typename Scanner>
std::unique_ptr<CCategory> Make(ScanEnvironment& environment) {
    return std::make_unique<Scanner>(environment);
}

// The shortcut scanners need a reader of shortcut files.
template <typename Scanner>
std::unique_ptr<CCategory> MakeWithLinks(ScanEnvironment& environment) {
    if (!environment.shellLinks)
        return nullptr;
    return std::make_unique<Scanner>(environment, *environment.shellLinks);
}

// Category index and the scanner made for it.
constexpr std::array<std::pair<int, Maker>, 14> kScanners = {{
    {0, Make<CActiveX>},
    {1, Make<CAppPaths>},
    {2, Make<CFileTypes>},
    {3, Make<CFonts>},
    {4, Make<CHelpFiles>},
    {5, Make<CHistoryLists>},
    {6, Make<CSharedFiles>},
    {7, MakeWithLinks<CShortcuts>},
    {8, Make<CSoftware>},
    {9, Make<CSounds>},
    {10, MakeWithLinks<CStartMenu>},
    {11, Make<CStartup>},
    {12, Make<CDeepScanLM>},
    {13, Make<CDeepScanCU>},
}};

}  // namespace

std::unique_ptr<CCategory> MakeCategory(int index, ScanEnvironment& environment) {
    for (const auto& [scannerIndex, make] : kScanners) {
        if (scannerIndex == index)
            return make(environment);
    }
    return nullptr;
}

std::uint32_t AvailableCategories() {
    std::uint32_t bits = 0;
    for (const auto& [index, make] : kScanners) {
        bits |= kCategories[static_cast<std::size_t>(index)].bit;
    }
    return bits;
}

}  // namespace quillary
