#include "scan_command.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <nlohmann/json.hpp>

#include "app/scan_records.h"
#include "categories/category_factory.h"
#include "core/text_encoding.h"
#include "engine/category_table.h"
#include "interrupts.h"

namespace quillary::cli {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr std::size_t kStatusWidth = 60;

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& ch : lower)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return lower;
}

// Shows the running category, its percentage and the status line on one terminal line.
class CTerminalProgress final : public IScanObserver {
public:
    explicit CTerminalProgress(const CTextTables& texts) : texts_(texts) {}
    ~CTerminalProgress() override { Clear(); }

    void OnCategoryStarting(std::uint32_t bit, bool) override {
        std::lock_guard lock(mutex_);
        for (const CategoryRow& row : kCategories) {
            if (row.bit == bit)
                category_ = Utf16ToUtf8(texts_.CategoryName(row.index));
        }
        percent_ = 0;
        status_.clear();
        DrawLocked(true);
    }
    void OnCategoryProgress(int percent) override {
        std::lock_guard lock(mutex_);
        percent_ = percent;
        DrawLocked(false);
    }
    void OnStatus(std::u16string_view text) override {
        std::lock_guard lock(mutex_);
        status_ = Utf16ToUtf8(text);
        DrawLocked(false);
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        if (drawn_)
            std::fprintf(stderr, "\r\033[K");
        drawn_ = false;
    }

private:
    void DrawLocked(bool force) {
        auto now = std::chrono::steady_clock::now();
        if (!force && now - lastDraw_ < kRedrawInterval)
            return;
        lastDraw_ = now;
        std::string status = status_;
        if (status.size() > kStatusWidth)
            status = "..." + status.substr(status.size() - kStatusWidth);
        std::fprintf(stderr, "\r\033[K%s %3d%%  %s", category_.c_str(), percent_, status.c_str());
        std::fflush(stderr);
        drawn_ = true;
    }

    const CTextTables& texts_;
    std::mutex mutex_;
    std::string category_;
    std::string status_;
    int percent_ = 0;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
};

// Says that the scan read a prefix whose registry may not be changed now, and why.
std::string ReadOnlyNotice(const std::string& reason) {
    return "The prefix is read-only: " + reason +
           ". Repairs will be refused until it can be written.";
}

void PrintTable(COpenTarget& target, std::uint32_t selection, bool stopped,
                const std::optional<std::string>& readOnly) {
    CScanDriver& scans = target.Context().Scans();
    const CTextTables& texts = target.Context().TextTables();
    std::cout << "Target: " << target.Folder().string() << "\n";
    std::size_t total = 0;
    for (const CategoryRow& row : kCategories) {
        if (!(selection & row.bit))
            continue;
        std::span<const std::unique_ptr<CProblem>> problems = scans.ProblemsOf(row.bit);
        total += problems.size();
        std::cout << "\n"
                  << Utf16ToUtf8(texts.CategoryName(row.index)) << " (" << problems.size() << ")\n";
        for (const auto& problem : problems) {
            std::cout << "  " << Utf16ToUtf8(problem->DetailLine(0)) << "\n      "
                      << Utf16ToUtf8(texts.DetailText(*problem)) << "\n";
        }
    }
    std::cout << "\n";
    if (readOnly)
        std::cout << ReadOnlyNotice(*readOnly) << "\n";
    std::cout << total << (total == 1 ? " problem" : " problems") << " found"
              << (stopped ? " before the scan was stopped" : "") << ".\n";
}

void PrintJson(COpenTarget& target, bool stopped, const std::optional<std::string>& readOnly) {
    CScanDriver& scans = target.Context().Scans();
    const CTextTables& texts = target.Context().TextTables();
    nlohmann::ordered_json document;
    document["target"] = target.Folder().string();
    document["stopped"] = stopped;
    document["readOnly"] = readOnly ? nlohmann::ordered_json(*readOnly) : nullptr;
    nlohmann::ordered_json problems = nlohmann::ordered_json::array();
    nlohmann::ordered_json counts = nlohmann::ordered_json::array();
    for (const CategoryRow& row : kCategories) {
        std::span<const std::unique_ptr<CProblem>> found = scans.ProblemsOf(row.bit);
        counts.push_back(found.size());
        for (const auto& problem : found) {
            nlohmann::ordered_json details = nlohmann::ordered_json::array();
            for (const std::u16string& line : problem->detailLines) {
                details.push_back(Utf16ToUtf8(line));
            }
            problems.push_back({{"category", row.index},
                                {"entryType", problem->EntryType},
                                {"key", Utf16ToUtf8(problem->Key)},
                                {"valueName", Utf16ToUtf8(problem->ValueName)},
                                {"valueData", Utf16ToUtf8(problem->ValueData)},
                                {"alternateKey", Utf16ToUtf8(problem->AlternateKey)},
                                {"is32Bit", problem->is32BitEntry ? 1 : 0},
                                {"selected", problem->selected ? 1 : 0},
                                {"details", details},
                                {"detailText", Utf16ToUtf8(texts.DetailText(*problem))}});
        }
    }
    document["problems"] = problems;
    document["counts"] = counts;
    std::cout << document.dump(2) << "\n";
}

}  // namespace

std::optional<std::uint32_t> ParseCategoryList(std::string_view list, std::string* error) {
    std::uint32_t selection = 0;
    while (!list.empty()) {
        std::size_t comma = list.find(',');
        std::string item = Lower(std::string(list.substr(0, comma)));
        list.remove_prefix(comma == std::string_view::npos ? list.size() : comma + 1);
        while (!item.empty() && item.back() == ' ')
            item.pop_back();
        while (!item.empty() && item.front() == ' ')
            item.erase(0, 1);
        if (item.empty())
            continue;
        if (item == "all") {
            selection |= (1u << kCategoryCount) - 1;
            continue;
        }
        bool known = false;
        for (const CategoryRow& row : kCategories) {
            // "CActiveX" is named "activex".
            std::string name = Lower(Utf16ToUtf8(row.className.substr(1)));
            if (item == name || item == std::to_string(row.index)) {
                selection |= row.bit;
                known = true;
            }
        }
        if (!known) {
            *error = "unknown category \"" + item + "\"";
            return std::nullopt;
        }
    }
    if (selection == 0) {
        *error = "no category selected";
        return std::nullopt;
    }
    return selection;
}

bool ScanToEnd(CAppContext& context, std::uint32_t selection) {
    CScanDriver& scans = context.Scans();
    RecordScanStart(context.Settings(), context.Clock().Now());
    if (scans.StartScan(selection)) {
        // An interrupt ends the scan between two items, as the scan page's stop does.
        CInterruptRelay relay(scans.StopEvent());
        scans.WaitForScan();
        RecordScanEnd(context.Settings(), scans.CountFound());
    }
    return InterruptRequested();
}

int RunScanCommand(COpenTarget& target, const ScanOptions& options) {
    CAppContext& context = target.Context();
    std::uint32_t selection =
        context.Settings().Values().SelectedCategories & ((1u << kCategoryCount) - 1);
    if (options.categories) {
        std::string error;
        std::optional<std::uint32_t> chosen = ParseCategoryList(*options.categories, &error);
        if (!chosen) {
            std::cerr << "quillary-cli: " << error << "\n";
            return kExitBadArguments;
        }
        selection = *chosen;
    }

    std::optional<CTerminalProgress> progress;
    if (::isatty(STDERR_FILENO))
        progress.emplace(context.TextTables());
    CScanDriver& scans = context.Scans();
    scans.SetObserver(progress ? &*progress : nullptr);
    const bool stopped = ScanToEnd(context, selection);
    scans.SetObserver(nullptr);
    if (progress)
        progress->Clear();

    // Asked after the scan: what counts is whether the repair that may follow can write.
    const std::optional<std::string> readOnly = PrefixRegistry(target).WriteRefusal();
    if (options.json) {
        if (readOnly)
            std::cerr << "quillary-cli: " << ReadOnlyNotice(*readOnly) << "\n";
        PrintJson(target, stopped, readOnly);
    } else {
        PrintTable(target, selection, stopped, readOnly);
    }
    for (const std::string& failure : context.Exit(!options.saveResults)) {
        std::cerr << "quillary-cli: " << failure << "\n";
    }
    // The time of the scan and the running total of problems found are kept.
    if (options.saveResults && !context.Settings().SaveSettings())
        std::cerr << "quillary-cli: cannot store the time of the scan\n";
    return stopped ? kExitInterrupted : kExitDone;
}

}  // namespace quillary::cli
