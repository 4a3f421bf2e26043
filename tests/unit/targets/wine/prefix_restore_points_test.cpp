// Restore points of a Wine prefix: copies of its registry files made, listed and put back, in
// prefixes and data folders made in a temporary folder.

#include "targets/wine/prefix_restore_points.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "fake_wine_server.h"
#include "support/temp_folder.h"
#include "targets/posix/posix_file_io.h"
#include "targets/wine/wine_prefix_registry.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;
using testing::FakeWineServer;
using testing::UpstreamServerFolder;

const system_clock::time_point kNow = sys_days(year(2026) / 12 / 10) + hours(5) + minutes(12);

std::string RegFile(std::string_view relativeTo, std::string_view body) {
    return "WINE REGISTRY Version 2\n;; All keys relative to " + std::string(relativeTo) +
           "\n\n#arch=win64\n" + std::string(body);
}

const std::string kSystemReg =
    RegFile("REGISTRY\\\\Machine", "\n[Software\\\\Vendor] 1796858500\n\"Bits\"=\"64\"\n");
const std::string kUserReg =
    RegFile("REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000", "\n[Software\\\\App] 1796858500\n");
const std::string kUserdefReg = RegFile("REGISTRY\\\\User\\\\.Default", "");

RestorePointInfo Request(std::uint32_t event, std::uint32_t type, std::int64_t sequence,
                         std::u16string_view description = u"") {
    RestorePointInfo request;
    request.eventType = event;
    request.restorePointType = type;
    request.sequenceNumber = sequence;
    std::copy(description.begin(), description.end(), request.description.begin());
    return request;
}

class PrefixRestorePointsTest : public ::testing::Test {
protected:
    PrefixRestorePointsTest() {
        folder_.Write("prefix/system.reg", kSystemReg);
        folder_.Write("prefix/user.reg", kUserReg);
        folder_.Write("prefix/userdef.reg", kUserdefReg);
    }

    std::string Read(const fs::path& path) const {
        std::ifstream file(path, std::ios::binary);
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }
    std::string ReadPrefix(std::string_view name) const { return Read(prefix_ / name); }
    void WritePrefix(std::string_view name, std::string_view text) const {
        folder_.Write("prefix/" + std::string(name), text);
    }
    fs::path Copy(std::int64_t sequence, std::string_view name) const {
        return restorePoints_.StoreFolder() / std::to_string(sequence) / name;
    }

    // Begins and, unless told otherwise, completes a restore point; its sequence number.
    std::int64_t Make(std::u16string_view description = u"Before cleaning", bool end = true) {
        StateMgrStatus status;
        EXPECT_TRUE(restorePoints_.SRSetRestorePointW(
            Request(BeginSystemChange, ApplicationInstall, 0, description), &status))
            << restorePoints_.LastError();
        if (end) {
            StateMgrStatus ended;
            EXPECT_TRUE(restorePoints_.SRSetRestorePointW(
                Request(EndSystemChange, ApplicationInstall, status.sequenceNumber), &ended))
                << restorePoints_.LastError();
        }
        return status.sequenceNumber;
    }

    testing::CTempFolder folder_;
    fs::path prefix_ = folder_.Path() / "prefix";
    CManualClock clock_{kNow};
    CPosixFileIo files_;
    CPrefixRestorePoints restorePoints_{files_, prefix_, folder_.Path() / "data", clock_};
};

TEST_F(PrefixRestorePointsTest, BeginCopiesTheFilesAndEndCompletesTheRestorePoint) {
    StateMgrStatus status;
    ASSERT_TRUE(restorePoints_.SRSetRestorePointW(
        Request(BeginSystemChange, ApplicationInstall, 0, u"Before cleaning\n\\ caf\u00e9"),
        &status))
        << restorePoints_.LastError();
    EXPECT_EQ(status.status, ErrorSuccess);
    EXPECT_EQ(status.sequenceNumber, 1);
    EXPECT_EQ(restorePoints_.StoreFolder(), folder_.Path() / "data" / "Restore Points");
    EXPECT_EQ(Read(Copy(1, "system.reg")), kSystemReg);
    EXPECT_EQ(Read(Copy(1, "user.reg")), kUserReg);
    EXPECT_EQ(Read(Copy(1, "userdef.reg")), kUserdefReg);

    RestorePointList list = restorePoints_.List();
    ASSERT_EQ(list.points.size(), 1u);
    EXPECT_TRUE(list.problems.empty());
    EXPECT_EQ(list.points[0].sequenceNumber, 1);
    EXPECT_EQ(list.points[0].restorePointType, ApplicationInstall);
    EXPECT_EQ(list.points[0].description, u"Before cleaning\n\\ caf\u00e9");
    EXPECT_EQ(list.points[0].created, kNow);
    EXPECT_FALSE(list.points[0].complete);

    StateMgrStatus ended;
    ASSERT_TRUE(restorePoints_.SRSetRestorePointW(
        Request(EndSystemChange, ApplicationInstall, status.sequenceNumber), &ended));
    EXPECT_EQ(ended.sequenceNumber, 1);
    EXPECT_TRUE(restorePoints_.List().points[0].complete);
    // Ending it again names no restore point in progress.
    EXPECT_FALSE(restorePoints_.SRSetRestorePointW(
        Request(EndSystemChange, ApplicationInstall, status.sequenceNumber), &ended));
    EXPECT_EQ(ended.status, ErrorInvalidData);

    EXPECT_EQ(Make(), 2);
}

TEST_F(PrefixRestorePointsTest, ACancelledChangeRemovesItsRestorePoint) {
    const std::int64_t kept = Make();
    const std::int64_t begun = Make(u"cancelled", false);
    StateMgrStatus status;
    ASSERT_TRUE(restorePoints_.SRSetRestorePointW(
        Request(EndSystemChange, CancelledOperation, begun), &status));
    EXPECT_FALSE(fs::exists(Copy(begun, "")));
    const RestorePointList list = restorePoints_.List();
    ASSERT_EQ(list.points.size(), 1u);
    EXPECT_EQ(list.points[0].sequenceNumber, kept);
    EXPECT_TRUE(list.problems.empty());

    // A completed restore point is no longer in progress: it cannot be cancelled.
    EXPECT_FALSE(restorePoints_.SRSetRestorePointW(
        Request(EndSystemChange, CancelledOperation, kept), &status));
    EXPECT_EQ(status.status, ErrorInvalidData);
    EXPECT_TRUE(fs::exists(Copy(kept, "system.reg")));
}

TEST_F(PrefixRestorePointsTest, RequestsItCannotServeAreRefused) {
    struct Case {
        const char* name;
        RestorePointInfo request;
        LStatus status;
    } cases[] = {
        {"end of an unknown number", Request(EndSystemChange, ApplicationInstall, 7),
         ErrorInvalidData},
        {"end of number 0", Request(EndSystemChange, ApplicationInstall, 0), ErrorInvalidData},
        {"unknown event", Request(102, ApplicationInstall, 0), ErrorInvalidParameter},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        StateMgrStatus status;
        EXPECT_FALSE(restorePoints_.SRSetRestorePointW(row.request, &status));
        EXPECT_EQ(status.status, row.status);
        EXPECT_FALSE(restorePoints_.LastError().empty());
    }

    CPrefixRestorePoints noDataFolder(files_, prefix_, {}, clock_);
    StateMgrStatus status;
    EXPECT_FALSE(noDataFolder.SRSetRestorePointW(Request(BeginSystemChange, ApplicationInstall, 0),
                                                 &status));
    EXPECT_EQ(status.status, ErrorServiceDisabled);
}

TEST_F(PrefixRestorePointsTest, RestorePutsTheFilesBackAndKeepsTheReplacedOnes) {
    // The prefix had no userdef.reg when the restore point was made.
    fs::remove(prefix_ / "userdef.reg");
    const std::int64_t made = Make();
    WritePrefix("user.reg", RegFile("REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000", ""));
    WritePrefix("userdef.reg", kUserdefReg);
    const std::string changedUser = ReadPrefix("user.reg");
    clock_.Advance(hours(2));

    const RestoreResult result = restorePoints_.Restore(made);
    ASSERT_EQ(result.outcome, RestoreOutcome::Restored) << result.message;
    EXPECT_EQ(ReadPrefix("system.reg"), kSystemReg);
    EXPECT_EQ(ReadPrefix("user.reg"), kUserReg);
    EXPECT_FALSE(fs::exists(prefix_ / "userdef.reg"));
    // The restored files are Wine's to read: the store opens them without complaint.
    std::string error;
    auto store = CWinePrefixRegistry::Open(files_, prefix_, &error);
    ASSERT_TRUE(store) << error;
    EXPECT_TRUE(store->Diagnostics().empty());

    // The files it replaced are a restore point of their own, and putting that back undoes
    // the restore.
    ASSERT_NE(result.undoSequenceNumber, 0);
    const RestorePointList list = restorePoints_.List();
    ASSERT_EQ(list.points.size(), 2u);
    const PrefixRestorePoint& undo = list.points[1];
    EXPECT_EQ(undo.sequenceNumber, result.undoSequenceNumber);
    EXPECT_EQ(undo.restorePointType, RestoreRestorePoint);
    EXPECT_TRUE(undo.complete);
    EXPECT_EQ(undo.created, kNow + hours(2));
    EXPECT_EQ(undo.description, u"Before restoring restore point 1");

    ASSERT_EQ(restorePoints_.Restore(undo.sequenceNumber).outcome, RestoreOutcome::Restored);
    EXPECT_EQ(ReadPrefix("user.reg"), changedUser);
    EXPECT_EQ(ReadPrefix("userdef.reg"), kUserdefReg);
}

TEST_F(PrefixRestorePointsTest, NothingIsMadeOrRestoredWhileWineRuns) {
    const std::int64_t made = Make();
    WritePrefix("user.reg", "changed by Wine");
    {
        FakeWineServer server(UpstreamServerFolder(prefix_));
        StateMgrStatus status;
        EXPECT_FALSE(restorePoints_.SRSetRestorePointW(
            Request(BeginSystemChange, ApplicationInstall, 0), &status));
        EXPECT_EQ(status.status, ErrorBadEnvironment);
        EXPECT_EQ(restorePoints_.LastError(), kWineRunningMessage);

        const RestoreResult result = restorePoints_.Restore(made);
        EXPECT_EQ(result.outcome, RestoreOutcome::WineRunning);
        EXPECT_EQ(result.message, kWineRunningMessage);
        EXPECT_EQ(ReadPrefix("user.reg"), "changed by Wine");
        EXPECT_EQ(restorePoints_.List().points.size(), 1u);
    }
    EXPECT_EQ(restorePoints_.Restore(made).outcome, RestoreOutcome::Restored);
    EXPECT_EQ(ReadPrefix("user.reg"), kUserReg);
}

TEST_F(PrefixRestorePointsTest, ADamagedRestorePointChangesNothing) {
    struct Case {
        const char* name;
        void (*damage)(const fs::path& folder);
        const char* says;
    } cases[] = {
        {"a copy is missing", [](const fs::path& folder) { fs::remove(folder / "user.reg"); },
         "its copy of user.reg is missing"},
        {"a copy changed",
         [](const fs::path& folder) {
             std::fstream file(folder / "system.reg", std::ios::in | std::ios::out);
             file.seekp(30);
             file.put('#');
         },
         "its copy of system.reg is not as it was taken"},
        {"a copy cut short",
         [](const fs::path& folder) { fs::resize_file(folder / "system.reg", 20); },
         "its copy of system.reg is not as it was taken"},
        {"the index is garbage",
         [](const fs::path& folder) {
             std::ofstream(folder / "restore point.txt") << "\x01\x02 not an index";
         },
         "its index is not a restore point's"},
        {"the index lost a file's line",
         [](const fs::path& folder) {
             std::ifstream in(folder / "restore point.txt");
             std::string text((std::istreambuf_iterator<char>(in)), {});
             text.erase(text.find("user.reg="));
             std::ofstream(folder / "restore point.txt") << text;
         },
         "its index has no valid user.reg"},
    };
    WritePrefix("user.reg", "changed since");
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        const std::int64_t made = Make();
        const std::size_t listed = restorePoints_.List().points.size();
        row.damage(Copy(made, ""));

        const RestoreResult result = restorePoints_.Restore(made);
        EXPECT_EQ(result.outcome, RestoreOutcome::SnapshotDamaged);
        EXPECT_NE(result.message.find(row.says), std::string::npos) << result.message;
        EXPECT_EQ(ReadPrefix("user.reg"), "changed since");
        EXPECT_EQ(ReadPrefix("system.reg"), kSystemReg);
        // No restore point of the current files was made either.
        EXPECT_LE(restorePoints_.List().points.size(), listed);
    }
}

TEST_F(PrefixRestorePointsTest, UnknownNumbersAreNotRestorePoints) {
    Make();
    for (const std::int64_t sequence : {std::int64_t{0}, std::int64_t{-1}, std::int64_t{2}}) {
        SCOPED_TRACE(sequence);
        EXPECT_EQ(restorePoints_.Restore(sequence).outcome, RestoreOutcome::UnknownRestorePoint);
    }
}

TEST_F(PrefixRestorePointsTest, ListingSkipsForeignFoldersAndNamesBrokenOnes) {
    Make();
    const fs::path store = restorePoints_.StoreFolder();
    fs::create_directories(store / "notes");
    fs::create_directories(store / "007");
    fs::create_directories(store / "5");  // a restore point whose index was never written
    std::ofstream(store / "README") << "not a restore point";

    const RestorePointList list = restorePoints_.List();
    ASSERT_EQ(list.points.size(), 1u);
    EXPECT_EQ(list.points[0].sequenceNumber, 1);
    ASSERT_EQ(list.problems.size(), 1u);
    EXPECT_NE(list.problems[0].find("5"), std::string::npos);
    // A new restore point takes a number past every folder in use.
    EXPECT_EQ(Make(), 6);
}

}  // namespace
}  // namespace quillary
