#pragma once

// What the scan page learns from a scan and how it follows one. The calls come from the
// worker thread, in the order of the scan, and the scan waits for each to return, so a page
// that marshals them to its own thread must block until they are handled.

#include <cstdint>
#include <string_view>

namespace quillary {

// Pictures of a category's row on the scan page (resource bitmaps).
inline constexpr int kRowPictureNone = 0;
inline constexpr int kRowPictureSelected = 48;
inline constexpr int kRowPictureNotSelected = 259;
inline constexpr int kRowPictureFound = 260;
inline constexpr int kRowPictureClean = 262;

class IScanObserver {
public:
    virtual ~IScanObserver() = default;

    // Before each category's scan, and after each problem recorded: redraw the count.
    virtual void OnFoundChanged() {}
    // A category is about to run: a scan, or a cleaning run's repairs.
    virtual void OnCategoryStarting(std::uint32_t /*bit*/, bool /*isScan*/) {}
    // A category finished its scan; not told after a stop.
    virtual void OnCategoryFinished(std::uint32_t /*bit*/) {}
    // The scan ended, after a stop request or at its end.
    virtual void OnScanEnded(bool /*stopped*/) {}
    // A cleaning run ended, after a stop request or at its end.
    virtual void OnCleaningEnded(bool /*stopped*/) {}

    virtual void OnRowPicture(int /*index*/, int /*picture*/) {}
    virtual void OnRowLabel(int /*index*/, std::u16string_view /*label*/) {}
    virtual void OnOverallProgressRange(int /*maximum*/) {}
    virtual void OnOverallProgress(int /*position*/) {}
    // The running category's progress, 0-100.
    virtual void OnCategoryProgress(int /*percent*/) {}
    virtual void OnStatus(std::u16string_view /*text*/) {}
};

}  // namespace quillary
