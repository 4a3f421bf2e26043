#pragma once

// The scan report: the problems of the last scan as an XML document, "KVLscanlog.xml" in the
// data folder, for the user to read or to mail, and the address the user mails it to.

#include <filesystem>
#include <string>
#include <string_view>

#include "core/settings.h"
#include "engine/scan_driver.h"
#include "engine/text_tables.h"
#include "platform/file_io.h"
#include "platform/registry.h"

namespace quillary {

inline constexpr std::string_view kScanReportFileName = "KVLscanlog.xml";

// The value of the settings key that holds the address the report is mailed to.
inline constexpr std::u16string_view kReportRecipientValueName = u"ReportRecipient";

// What the report is made of; the references must outlive the call.
struct ScanReportSource {
    // The last scan's categories and problems, reported in category index order.
    const CScanDriver& scans;
    // Category names and brief descriptions, and each problem's detail text.
    const CTextTables& texts;
    // The date of the last scan (StrLastScan) and its problem count (LastScanProblemCount).
    const SettingsValues& settings;
    // The language's texts: IDS_ERROR and IDS_ERRORS follow each category's problem count.
    TextLookup language;
    // The program's version text; empty when unknown.
    std::u16string_view programVersion;
};

// The report document, UTF-8 with an XML declaration, indented. Text that XML 1.0 cannot hold
// is replaced so that the document always parses: a lone surrogate and the non-characters
// U+FFFE and U+FFFF become U+FFFD, and a control character other than tab, line feed and
// carriage return becomes a visible escape ("\x01"). On failure the error names the writer
// step that failed and document is empty.
[[nodiscard]] FileError BuildScanReport(const ScanReportSource& source, std::string& document);

// Builds the report and replaces path with it atomically through files. On failure the file
// is left as it was.
[[nodiscard]] FileError WriteScanReport(IFileIo& files, const std::filesystem::path& path,
                                        const ScanReportSource& source);

// The address the report is mailed to, from the settings key of the config store; empty when
// the user has not given one.
std::u16string ReadReportRecipient(IRegistry& configStore);
// Stores the address in the settings key, creating the key when it is missing.
[[nodiscard]] bool StoreReportRecipient(IRegistry& configStore, std::u16string_view recipient);

}  // namespace quillary
