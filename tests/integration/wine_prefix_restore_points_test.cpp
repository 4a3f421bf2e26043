// Restore points of a prefix made by `wineboot -i`, put back and read by Debian's real Wine.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/temp_folder.h"
#include "targets/posix/posix_file_io.h"
#include "targets/wine/prefix_restore_points.h"
#include "targets/wine/wineserver_lock.h"
#include "wine_prefix_copy.h"

namespace quillary {
namespace {

using testing::CWinePrefixCopy;

// `wineserver -p` returns before the server holds its lock.
bool AwaitWineServer(const std::filesystem::path& prefix) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!FindRunningWineServer(prefix)) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

TEST(WinePrefixRestorePointsTest, WineReadsARestoredPrefixAndItsServerStopsARestore) {
    CWinePrefixCopy copy(testing::FreshWinePrefix(), testing::WinePrefixCopies() / "RestorePoints");
    ASSERT_EQ(copy.Error(), "");
    testing::CTempFolder data;
    CSystemClock clock;
    CPosixFileIo files;
    CPrefixRestorePoints restorePoints(files, copy.Path(), data.Path(), clock);

    RestorePointInfo request;
    request.eventType = BeginSystemChange;
    StateMgrStatus status;
    ASSERT_TRUE(restorePoints.SRSetRestorePointW(request, &status)) << restorePoints.LastError();
    request.eventType = EndSystemChange;
    request.sequenceNumber = status.sequenceNumber;
    ASSERT_TRUE(restorePoints.SRSetRestorePointW(request, &status)) << restorePoints.LastError();

    const testing::CommandResult added =
        copy.Wine({"reg", "add", "HKCU\\Software\\Later", "/v", "v", "/d", "later", "/f"});
    ASSERT_EQ(added.exitCode, 0) << added.out << added.err;
    copy.StopWineServer();

    // While a server runs for the prefix, its files are not the registry: nothing is put back.
    ASSERT_EQ(copy.WineServer({"-p"}).exitCode, 0);
    ASSERT_TRUE(AwaitWineServer(copy.Path()));
    EXPECT_EQ(restorePoints.Restore(request.sequenceNumber).outcome, RestoreOutcome::WineRunning);
    copy.StopWineServer();
    ASSERT_NE(copy.ReadFile("user.reg").find("[Software\\\\Later]"), std::string::npos);

    const RestoreResult restored = restorePoints.Restore(request.sequenceNumber);
    ASSERT_EQ(restored.outcome, RestoreOutcome::Restored) << restored.message;
    EXPECT_NE(copy.Wine({"reg", "query", "HKCU\\Software\\Later"}).exitCode, 0);
    const testing::CommandResult environment = copy.Wine({"reg", "query", "HKCU\\Environment"});
    EXPECT_EQ(environment.exitCode, 0) << environment.out << environment.err;
    copy.StopWineServer();

    // Putting back the files the restore replaced undoes it.
    ASSERT_EQ(restorePoints.Restore(restored.undoSequenceNumber).outcome, RestoreOutcome::Restored);
    const testing::CommandResult later = copy.Wine({"reg", "query", "HKCU\\Software\\Later"});
    EXPECT_NE(later.out.find("later"), std::string::npos) << later.out << later.err;
}

}  // namespace
}  // namespace quillary
