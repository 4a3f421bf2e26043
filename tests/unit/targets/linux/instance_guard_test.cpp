#include "targets/linux/instance_guard.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <future>

#include "support/temp_folder.h"

namespace quillary {
namespace {

constexpr std::string_view kName = "Local\\ORV_4E7965C1-F27A-44e1-90D1-46EBDFE07955";

TEST(InstanceGuardTest, ASecondInstanceReachesTheFirst) {
    testing::CTempFolder temp;
    std::filesystem::path folder = temp.Path() / "run";
    auto first = std::make_unique<CInstanceGuard>(kName, folder);
    ASSERT_TRUE(first->Acquire(std::chrono::milliseconds(0))) << first->Error();
    std::promise<InstanceRequest> received;
    ASSERT_TRUE(first->Listen([&](InstanceRequest request) { received.set_value(request); }));

    CInstanceGuard second(kName, folder);
    EXPECT_FALSE(second.Acquire(std::chrono::milliseconds(100)));
    EXPECT_FALSE(second.IsFirstInstance());
    ASSERT_TRUE(second.SendToFirst(InstanceRequest::ScheduledScan));
    auto request = received.get_future();
    ASSERT_EQ(request.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(request.get(), InstanceRequest::ScheduledScan);

    // An instance that is ending lets go within the wait.
    std::thread ending([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        first.reset();
    });
    EXPECT_TRUE(second.Acquire(std::chrono::seconds(5)));
    ending.join();
    EXPECT_FALSE(CInstanceGuard(kName, folder).SendToFirst(InstanceRequest::BringForward));
}

TEST(InstanceGuardTest, RefusesAFolderOthersCanWrite) {
    testing::CTempFolder temp;
    std::filesystem::path folder = temp.MakeFolder("shared");
    ::chmod(folder.c_str(), 0777);
    CInstanceGuard guard(kName, folder);
    EXPECT_FALSE(guard.Acquire(std::chrono::milliseconds(0)));
    EXPECT_NE(guard.Error().find("private"), std::string::npos);
}

}  // namespace
}  // namespace quillary
