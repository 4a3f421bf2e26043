#include "restore_points_command.h"

#include <ctime>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>

#include "core/text_encoding.h"
#include "scan_command.h"
#include "targets/wine/prefix_restore_points.h"

namespace quillary::cli {
namespace {

CPrefixRestorePoints RestorePointsOf(COpenTarget& target) {
    return CPrefixRestorePoints(target.FileIo(), target.Folder(), target.Context().DataFolder(),
                                target.Context().Clock());
}

std::string LocalTimeText(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    char text[32];
    if (::localtime_r(&seconds, &local) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0) {
        return std::to_string(seconds);
    }
    return text;
}

// A description on one line of the table.
std::string OneLine(std::u16string_view description) {
    std::string line = Utf16ToUtf8(description);
    for (char& ch : line) {
        if (static_cast<unsigned char>(ch) < 0x20) {
            ch = ' ';
        }
    }
    return line;
}

// Text filled with blanks to width, on the right, or on the left when alignRight is set.
std::string Padded(std::string text, std::size_t width, bool alignRight = false) {
    if (text.size() < width) {
        text.insert(alignRight ? 0 : text.size(), width - text.size(), ' ');
    }
    return text;
}

void PrintRow(const std::string& id, const std::string& time, const std::string& complete,
              const std::string& description) {
    std::cout << Padded(id, 6, true) << "  " << Padded(time, 19) << "  " << Padded(complete, 8)
              << "  " << description << "\n";
}

}  // namespace

int RunListRestorePoints(COpenTarget& target, bool json) {
    const CPrefixRestorePoints restorePoints = RestorePointsOf(target);
    const RestorePointList list = restorePoints.List();
    for (const std::string& problem : list.problems) {
        std::cerr << "quillary-cli: not a restore point: " << problem << "\n";
    }
    if (json) {
        nlohmann::ordered_json document = nlohmann::ordered_json::array();
        for (const PrefixRestorePoint& point : list.points) {
            document.push_back({{"id", point.sequenceNumber},
                                {"time", std::chrono::duration_cast<std::chrono::seconds>(
                                             point.created.time_since_epoch())
                                             .count()},
                                {"complete", point.complete},
                                {"description", Utf16ToUtf8(point.description)}});
        }
        std::cout << document.dump(2) << "\n";
        return kExitDone;
    }
    std::cout << "Target: " << target.Folder().string() << "\n";
    if (list.points.empty()) {
        std::cout << "No restore points";
        if (!restorePoints.StoreFolder().empty()) {
            std::cout << " in " << restorePoints.StoreFolder().string();
        }
        std::cout << ".\n";
        return kExitDone;
    }
    std::cout << "Restore points in " << restorePoints.StoreFolder().string() << ":\n\n";
    PrintRow("ID", "Time", "Complete", "Description");
    for (const PrefixRestorePoint& point : list.points) {
        PrintRow(std::to_string(point.sequenceNumber), LocalTimeText(point.created),
                 point.complete ? "yes" : "no", OneLine(point.description));
    }
    return kExitDone;
}

int RunRestoreRestorePoint(COpenTarget& target, std::int64_t id) {
    CPrefixRestorePoints restorePoints = RestorePointsOf(target);
    const RestoreResult result = restorePoints.Restore(id);
    switch (result.outcome) {
        case RestoreOutcome::Restored:
            std::cout << "Restored restore point " << id << " of " << target.Folder().string()
                      << ".\n"
                      << "The registry files it replaced are kept as restore point "
                      << result.undoSequenceNumber << ": `quillary-cli restore-points --restore "
                      << result.undoSequenceNumber << "` undoes this.\n";
            return kExitDone;
        case RestoreOutcome::UnknownRestorePoint:
            std::cerr << "quillary-cli: " << result.message
                      << " (`quillary-cli restore-points` lists them)\n";
            return kExitBadArguments;
        case RestoreOutcome::WineRunning:
            std::cerr << "quillary-cli: " << result.message << "\n";
            return kExitTargetBusy;
        case RestoreOutcome::SnapshotDamaged:
        case RestoreOutcome::Failed:
            break;
    }
    std::cerr << "quillary-cli: cannot restore restore point " << id << ": " << result.message
              << "\n";
    return kExitRestoreFailed;
}

}  // namespace quillary::cli
