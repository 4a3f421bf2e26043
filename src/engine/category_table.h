#pragma once

// The fourteen scan categories. The order of the table is the order of scanning, of the
// results list and of the category texts loaded at start-up.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quillary {

struct CategoryRow {
    int index;
    // The category's bit in a selection of categories (the OR of their bits).
    std::uint32_t bit;
    std::u16string_view className;
    // Text identifiers in the language file.
    std::u16string_view scanTitleId;
    std::u16string_view nameId;
    std::u16string_view descriptionId;
    std::u16string_view briefDescriptionId;
    // Picture of the results list, from the resource library.
    std::u16string_view iconFile;
};

inline constexpr std::size_t kCategoryCount = 14;

// clang-format off
inline constexpr std::array<CategoryRow, kCategoryCount> kCategories = {{
    {0, 0x1, u"CActiveX", u"IDS_STR_ACTIVEX", u"IDS_ACTIVEX_COM", u"IDS_DES_ACTIVEX_COM",
     u"IDS_BDES_ACTIVEX_COM", u"IconActiveX_32.bmp"},
    // The stored resource name of this picture ends in a blank.
    {1, 0x2, u"CAppPaths", u"IDS_STR_APP_PATHS", u"IDS_APPLICATION", u"IDS_DES_APPLICATION",
     u"IDS_BDES_APPLICATION", u"IconAppPaths_32.bmp "},
    {2, 0x4, u"CFileTypes", u"IDS_FILE_TYPES", u"IDS_FILE_TYPE", u"IDS_DES_FILE_TYPE",
     u"IDS_BDES_FILE_TYPE", u"IconFileTypes_32.bmp"},
    {3, 0x8, u"CFonts", u"IDS_STR_FONTS_SEC", u"IDS_FONTS", u"IDS_DES_FONTS",
     u"IDS_BDES_FONTS", u"IconFonts_32.bmp"},
    {4, 0x10, u"CHelpFiles", u"IDS_STR_HELP_SEC", u"IDS_HELP_FILES", u"IDS_DES_HELP_FILES",
     u"IDS_BDES_HELP_FILES", u"IconHelpFiles_32.bmp"},
    {5, 0x20, u"CHistoryLists", u"IDS_HISTORY_LISTS", u"IDS_HISTORYLIST", u"IDS_DES_HISTORYLIST",
     u"IDS_BDES_HISTORYLIST", u"IconHistoryLists_32.bmp"},
    {6, 0x40, u"CSharedFiles", u"IDS_STR_SHAREDDLLS", u"IDS_SHAREDFILES", u"IDS_DES_SHAREDFILES",
     u"IDS_BDES_SHAREDFILES", u"IconSharedFiles_32.bmp"},
    {7, 0x80, u"CShortcuts", u"IDS_SHORTCUTS", u"IDS_SHORTCUTS", u"IDS_DES_SHORTCUTS",
     u"IDS_BDES_SHORTCUTS", u"IconShortcuts_32.bmp"},
    {8, 0x100, u"CSoftware", u"IDS_SYSTEM_HEADING", u"IDS_SOFTWARE", u"IDS_DES_SOFTWARE",
     u"IDS_BDES_SOFTWARE", u"IconSoftware_32.bmp"},
    {9, 0x200, u"CSounds", u"IDS_SOUND_HEADING", u"IDS_SOUNDS", u"IDS_DES_SOUNDS",
     u"IDS_BDES_SOUNDS", u"IconSounds_32.bmp"},
    {10, 0x400, u"CStartMenu", u"IDS_START_MENU", u"IDS_STARTMENU", u"IDS_DES_STARTMENU",
     u"IDS_BDES_STARTMENU", u"IconStartMenu_32.bmp"},
    {11, 0x800, u"CStartup", u"IDS_STR_STARTUP_SEC", u"IDS_STARTUP", u"IDS_DES_STARTUP",
     u"IDS_BDES_STARTUP", u"IconStartup_32.bmp"},
    {12, 0x1000, u"CDeepScanLM", u"IDS_STR_DEEP_SCAN_LM", u"IDS_DEEP_SCAN", u"IDS_DES_DEEP_SCAN",
     u"IDS_BDES_DEEP_SCAN", u"IconDeepScanLM_32.bmp"},
    // The current-user deep scan carries the all-users deep scan (CDeepScanAU) inside it.
    {13, 0x2000, u"CDeepScanCU", u"IDS_STR_DEEP_SCAN_CU", u"IDS_CURRENTUSER",
     u"IDS_DES_CURRENTUSER", u"IDS_BDES_CURRENTUSER", u"IconDeepScanCU_32.bmp"},
}};
// clang-format on

// Every selection bit is 2^index, in index order.
static_assert([] {
    for (std::size_t index = 0; index < kCategoryCount; ++index) {
        if (kCategories[index].index != static_cast<int>(index) ||
            kCategories[index].bit != (1u << index)) {
            return false;
        }
    }
    return true;
}());

// The registry tweaks row that follows the categories in the results list and in a selection.
inline constexpr std::uint32_t kTweaksSelectionBit = 0x4000;
inline constexpr std::u16string_view kTweaksIconFile = u"IconRegTweak_32.bmp";

}  // namespace quillary
