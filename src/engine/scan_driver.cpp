#include "engine/scan_driver.h"

#include <bit>
#include <chrono>

#include "core/text_format.h"

namespace quillary {
namespace {

// The scan page shows itself before the first category starts.
constexpr auto kStartPause = std::chrono::milliseconds(351);

int IndexOfBit(std::uint32_t bit) {
    if (!std::has_single_bit(bit) || bit >= (1u << kCategoryCount))
        return -1;
    return std::countr_zero(bit);
}

}  // namespace

std::uint32_t CategoryBitOfRow(int row) {
    if (row < 1 || row > 14)
        return 1;
    return 1u << row;
}

CScanDriver::CScanDriver(CategoryFactory factory, ScanDriverOptions options)
    : factory_(std::move(factory)), options_(std::move(options)) {}

CScanDriver::~CScanDriver() {
    StopScan();
}

bool CScanDriver::StartScan(std::uint32_t selection) {
    if (scanRunning_)
        return false;
    WaitForScan();
    selection &= (1u << kCategoryCount) - 1;
    int count = std::popcount(selection);
    if (observer_) {
        observer_->OnOverallProgress(0);
        observer_->OnCategoryProgress(0);
    }
    if (count == 0)
        return false;
    if (options_.beforeScan)
        options_.beforeScan();
    CreateCategories(selection, count);
    scanRunning_ = true;
    worker_ = std::jthread([this] { RunScan(); });
    return true;
}

void CScanDriver::StopScan() {
    if (worker_.joinable())
        stopEvent_.Set();
    WaitForScan();
}

void CScanDriver::WaitForScan() {
    if (worker_.joinable())
        worker_.join();
}

void CScanDriver::CreateCategories(std::uint32_t selection, int count, bool attach) {
    for (auto& category : categories_)
        category.reset();
    stopEvent_.Reset();
    for (const CategoryRow& row : kCategories) {
        if (!(selection & row.bit))
            continue;
        std::unique_ptr<CCategory> category = factory_(row.index);
        if (category && attach)
            category->Attach(&stopEvent_, observer_, &repairContext_);
        categories_[static_cast<std::size_t>(row.index)] = std::move(category);
        if (options_.pumpMessages)
            options_.pumpMessages();
    }
    selection_ = selection;
    selectedCount_ = count;
}

int CScanDriver::RunCategory(CCategory* category, std::uint32_t bit, bool isScan,
                             const std::function<int(CCategory&)>& cleaningLoop) {
    if (!category)
        return 0;
    if (observer_) {
        if (isScan)
            observer_->OnFoundChanged();
        observer_->OnCategoryStarting(bit, isScan);
    }
    int result = isScan ? category->Scan() : (cleaningLoop ? cleaningLoop(*category) : 0);
    if (result == CCategory::kScanStopped)
        return result;
    if (observer_) {
        observer_->OnOverallProgress(++overallPosition_);
        if (isScan)
            observer_->OnCategoryFinished(bit);
    }
    return result;
}

void CScanDriver::RunScan() {
    if (options_.pacing)
        std::this_thread::sleep_for(kStartPause);
    overallPosition_ = 0;
    if (observer_) {
        observer_->OnOverallProgressRange(selectedCount_);
        observer_->OnOverallProgress(0);
        for (const CategoryRow& row : kCategories) {
            observer_->OnRowPicture(row.index, kRowPictureNone);
        }
    }
    int result = 0;
    for (const CategoryRow& row : kCategories) {
        bool selected = (selection_ & row.bit) != 0;
        if (observer_) {
            observer_->OnRowPicture(row.index,
                                    selected ? kRowPictureSelected : kRowPictureNotSelected);
        }
        std::size_t before = CountFound();
        // Once a category has stopped, the later ones are not run but still shown.
        if (result != CCategory::kScanStopped) {
            result =
                RunCategory(categories_[static_cast<std::size_t>(row.index)].get(), row.bit, true);
        }
        int found = static_cast<int>(CountFound() - before);
        if (observer_) {
            std::u16string title = options_.text ? options_.text(row.scanTitleId) : u"";
            observer_->OnRowLabel(row.index, Format(u"%s (%d)", title, found));
            if (found > 0) {
                observer_->OnRowPicture(row.index, kRowPictureFound);
            } else if (selected) {
                observer_->OnRowPicture(row.index, kRowPictureClean);
            }
        }
    }
    scanRunning_ = false;
    if (observer_)
        observer_->OnScanEnded(result == CCategory::kScanStopped);
}

std::size_t CScanDriver::CountFound() const {
    std::size_t found = 0;
    for (const auto& category : categories_) {
        if (category)
            found += category->Problems().size();
    }
    return found;
}

std::size_t CScanDriver::CountSelected() const {
    std::size_t selected = 0;
    for (const auto& category : categories_) {
        if (category)
            selected += category->CountSelected();
    }
    return selected;
}

CCategory* CScanDriver::CategoryOf(std::uint32_t bit) const {
    int index = IndexOfBit(bit);
    return index < 0 ? nullptr : categories_[static_cast<std::size_t>(index)].get();
}

std::span<const std::unique_ptr<CProblem>> CScanDriver::ProblemsOf(std::uint32_t bit) const {
    CCategory* category = CategoryOf(bit);
    if (!category)
        return {};
    return category->Problems();
}

}  // namespace quillary
