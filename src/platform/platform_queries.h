#pragma once

// The platform questions the program asks its companion library: the system's bitness and
// version, the language in use, the data folder, start-up queries and a number kept across
// runs. Each platform answers them in its own way.

#include <cstdint>
#include <string>
#include <string_view>

namespace quillary {

// The interface font the pages start from; callers then set height, weight and face.
struct BaseFont {
    std::int32_t height = -12;  // logical height; negative: character height
    std::int32_t weight = 400;
    std::u16string face;
};

class IPlatformQueries {
public:
    virtual ~IPlatformQueries() = default;

    // True on a 64-bit system: then registry accesses name a view.
    virtual bool Is64BitWindows() const = 0;
    // The version an unmanifested program sees: 5 for XP and 2003, 6 for Vista and every
    // later version.
    virtual int WindowsMajorVersion() const = 0;
    virtual int WindowsMinorVersion() const = 0;
    // The index of the language in use in the language table (0 is English).
    virtual int CurrentLanguageIndex() const = 0;
    virtual BaseFont InterfaceFont() const = 0;

    // The folder of the program's own files, created when it is missing; empty when it cannot
    // be made.
    virtual std::u16string DataFolder() = 0;
    // Creates a folder with its missing parents; callers test for it again afterwards.
    virtual void CreateFolder(std::u16string_view path) = 0;

    // Offered the whole command line (each argument followed by one blank) before start-up
    // reads it; non-zero tells the program to quit at once.
    virtual int CommandLineHook(std::u16string_view joinedArguments) = 0;

    // The width in pixels of text in the interface font at the given height, at most limit.
    virtual int TextWidth(std::u16string_view text, std::int32_t fontHeight, int limit) const = 0;
    // An address the program opens in the browser.
    virtual std::u16string WebAddress(int selector) const = 0;

    // True on the first start of the program for this user; later calls answer false.
    virtual bool IsFirstRun() = 0;
    // True when a scan was asked for to start as soon as the main window is up.
    virtual bool IsStartScanRequested() = 0;
    // Told after the scan command was posted; the request is then spent.
    virtual void AcknowledgeStartScan() = 0;

    // The problem count of the last scan, kept across runs.
    virtual void StoreLastScanProblemCount(int count) = 0;
    virtual int LastScanProblemCount() const = 0;
};

}  // namespace quillary
