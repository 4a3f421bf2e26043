// Restore points before bulk changes: the daily ration kept in SYSRES, the version gate, and
// the begin-then-end protocol against a service that records what it is asked.

#include "repair/restore_point.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <stdexcept>

#include "core/settings.h"
#include "support/fake_platform_queries.h"
#include "support/registry_fixture.h"

namespace quillary {
namespace {

using namespace std::chrono;
using testing::MakeRegistry;
using testing::ValueBytes;

constexpr std::u16string_view kSysresPath = u"Software\\Kestrow\\ORV\\SYSRES";

// Thursday, 10 December 2026, 05:12:55.250 UTC.
const system_clock::time_point kNow =
    sys_days(year(2026) / 12 / 10) + hours(5) + minutes(12) + seconds(55) + milliseconds(250);

// Records every request and answers as it is told.
class FakeRestorePoints final : public IRestorePoints {
public:
    bool SRSetRestorePointW(const RestorePointInfo& request, StateMgrStatus* status) override {
        requests.push_back(request);
        if (throwOnCall) {
            throw std::runtime_error("service failed");
        }
        const bool fail = requests.size() == failCall;
        status->status = fail ? ErrorInternalError : ErrorSuccess;
        status->sequenceNumber = fail ? 0 : 42;
        return !fail;
    }

    std::vector<RestorePointInfo> requests;
    std::size_t failCall = 0;  // the call, counted from 1, that fails; 0 for none
    bool throwOnCall = false;
};

class VersionedPlatform final : public testing::FakePlatformQueries {
public:
    int WindowsMinorVersion() const override { return minorVersion; }
    int minorVersion = 1;
};

std::u16string DescriptionOf(const RestorePointInfo& request) {
    return std::u16string(request.description.data());
}

class RestorePointTest : public ::testing::Test {
protected:
    RestorePointTest() {
        // The default description shows local time: make local time UTC.
        ::setenv("TZ", "UTC0", 1);
        ::tzset();
    }

    CRestorePointMaker Maker(IRestorePoints* service) {
        return CRestorePointMaker({*config_, platform_, clock_, service, u"Quillary"});
    }
    CRestorePointMaker Maker() { return Maker(&service_); }

    void StoreLastTime(std::span<const std::uint8_t> bytes) {
        HKey key = HKey::None;
        ASSERT_EQ(config_->RegCreateKeyExW(HKeyCurrentUser, kSysresPath, {}, 0, KeyAllAccess, &key,
                                           nullptr),
                  ErrorSuccess);
        ASSERT_EQ(config_->RegSetValueExW(key, kLastRestorePointTimeName, RegBinary, bytes.data(),
                                          static_cast<std::uint32_t>(bytes.size())),
                  ErrorSuccess);
        config_->RegCloseKey(key);
    }
    void StoreLastTime(system_clock::time_point time) {
        StoreLastTime(EncodeSystemTime(SystemTimeOf(time)));
    }
    std::optional<std::vector<std::uint8_t>> StoredTime() {
        return ValueBytes(*config_, HKeyCurrentUser, kSysresPath, kLastRestorePointTimeName);
    }

    std::unique_ptr<CMemoryRegistry> config_ = MakeRegistry("");
    VersionedPlatform platform_;
    CManualClock clock_{kNow};
    FakeRestorePoints service_;
};

TEST(SystemTimeTest, EncodesEightLittleEndianFieldsInWindowsOrder) {
    const SystemTime fields = SystemTimeOf(kNow);
    EXPECT_EQ(fields, (SystemTime{2026, 12, 4, 10, 5, 12, 55, 250}));
    const std::array<std::uint8_t, 16> expected = {0xEA, 0x07, 12, 0, 4,  0, 10,  0,
                                                   5,    0,    12, 0, 55, 0, 250, 0};
    EXPECT_EQ(EncodeSystemTime(fields), expected);
    EXPECT_EQ(DecodeSystemTime(expected), fields);
}

TEST(SystemTimeTest, CalendarSecondsRefusesFieldsOutOfRange) {
    EXPECT_EQ(CalendarSeconds(SystemTimeOf(kNow)),
              duration_cast<seconds>(kNow.time_since_epoch()).count());
    EXPECT_EQ(CalendarSeconds({1899, 12, 0, 31, 23, 59, 59, 0}), 0);
    EXPECT_EQ(CalendarSeconds({2026, 13, 0, 1, 0, 0, 0, 0}), std::nullopt);
    EXPECT_EQ(CalendarSeconds({2026, 4, 0, 31, 0, 0, 0, 0}), std::nullopt);
    EXPECT_EQ(CalendarSeconds({2026, 4, 0, 30, 24, 0, 0, 0}), std::nullopt);
}

TEST_F(RestorePointTest, BeginsThenEndsWithTheBegunNumberAndRecordsTheTime) {
    CRestorePointMaker maker = Maker();
    ASSERT_TRUE(maker.CreateRestorePoint(u"Before cleaning"));

    ASSERT_EQ(service_.requests.size(), 2u);
    const RestorePointInfo& begin = service_.requests[0];
    EXPECT_EQ(begin.eventType, BeginSystemChange);
    EXPECT_EQ(begin.restorePointType, ApplicationInstall);
    EXPECT_EQ(begin.sequenceNumber, 0);
    EXPECT_EQ(DescriptionOf(begin), u"Before cleaning");
    const RestorePointInfo& end = service_.requests[1];
    EXPECT_EQ(end.eventType, EndSystemChange);
    EXPECT_EQ(end.restorePointType, ApplicationInstall);
    EXPECT_EQ(end.sequenceNumber, 42);
    EXPECT_EQ(DescriptionOf(end), u"Before cleaning");

    const auto expected = EncodeSystemTime(SystemTimeOf(kNow));
    EXPECT_EQ(StoredTime(), std::vector<std::uint8_t>(expected.begin(), expected.end()));

    // The next one is not due for a day: the call succeeds and asks nothing.
    clock_.Advance(hours(1));
    EXPECT_TRUE(maker.CreateRestorePoint(u"again"));
    EXPECT_EQ(service_.requests.size(), 2u);
}

TEST_F(RestorePointTest, DueOnlyAfterMoreThanTwentyFourWholeHours) {
    struct Case {
        const char* name;
        system_clock::duration age;
        bool due;
    } cases[] = {
        {"a second old", seconds(1), false},
        {"24 hours 59 minutes", hours(24) + minutes(59), false},
        {"25 hours", hours(25), true},
        {"clock set back", -minutes(1), true},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        StoreLastTime(kNow - row.age);
        EXPECT_EQ(Maker().RestorePointDue(), row.due);
    }
}

TEST_F(RestorePointTest, DueWhenTheRecordIsMissingOrNotATime) {
    EXPECT_TRUE(Maker().RestorePointDue());
    // The check never makes the key.
    EXPECT_FALSE(testing::KeyExists(*config_, HKeyCurrentUser, kSysresPath));

    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
    } cases[] = {
        {"8 bytes", {0xEA, 0x07, 12, 0, 4, 0, 10, 0}},
        {"17 bytes", std::vector<std::uint8_t>(17, 0)},
        {"month 13", {0xEA, 0x07, 13, 0, 4, 0, 10, 0, 5, 0, 12, 0, 55, 0, 0, 0}},
        {"year 1899", {0x6B, 0x07, 12, 0, 0, 0, 10, 0, 5, 0, 12, 0, 55, 0, 0, 0}},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        StoreLastTime(row.bytes);
        EXPECT_TRUE(Maker().RestorePointDue());
    }
}

TEST_F(RestorePointTest, AShortRecordIsRewrittenWithSixteenBytes) {
    StoreLastTime(std::vector<std::uint8_t>{0xEA, 0x07, 12, 0, 4, 0, 10, 0});
    ASSERT_TRUE(Maker().CreateRestorePoint(u"x"));
    EXPECT_EQ(service_.requests.size(), 2u);
    ASSERT_TRUE(StoredTime().has_value());
    EXPECT_EQ(StoredTime()->size(), 16u);
}

TEST_F(RestorePointTest, OnlyVersionsWithSystemRestoreAreAsked) {
    struct Case {
        int major;
        int minor;
        bool asked;
    } cases[] = {
        {4, 10, false}, {4, 90, true}, {5, 0, false}, {5, 1, true}, {6, 0, true}, {10, 0, true},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(::testing::Message() << row.major << "." << row.minor);
        config_ = MakeRegistry("");
        service_.requests.clear();
        platform_.majorVersion = row.major;
        platform_.minorVersion = row.minor;
        EXPECT_EQ(Maker().CreateRestorePoint(u"x"), row.asked);
        EXPECT_EQ(service_.requests.size(), row.asked ? 2u : 0u);
        EXPECT_EQ(StoredTime().has_value(), row.asked);
    }
}

TEST_F(RestorePointTest, FailuresAreReportedAndLeaveNoRecord) {
    // A refused begin: nothing more is asked.
    service_.failCall = 1;
    EXPECT_FALSE(Maker().CreateRestorePoint(u"x"));
    EXPECT_EQ(service_.requests.size(), 1u);
    EXPECT_FALSE(StoredTime().has_value());

    // A refused end: the begun restore point is cancelled.
    service_.requests.clear();
    service_.failCall = 2;
    EXPECT_FALSE(Maker().CreateRestorePoint(u"x"));
    ASSERT_EQ(service_.requests.size(), 3u);
    EXPECT_EQ(service_.requests[2].eventType, EndSystemChange);
    EXPECT_EQ(service_.requests[2].restorePointType, CancelledOperation);
    EXPECT_EQ(service_.requests[2].sequenceNumber, 42);
    EXPECT_FALSE(StoredTime().has_value());

    // A service that throws, and a system without one.
    service_.failCall = 0;
    service_.throwOnCall = true;
    EXPECT_FALSE(Maker().CreateRestorePoint(u"x"));
    EXPECT_FALSE(Maker(nullptr).CreateRestorePoint(u"x"));
    EXPECT_FALSE(StoredTime().has_value());
}

TEST_F(RestorePointTest, DescriptionsAreCutToSixtyThreeCharacters) {
    const std::u16string eighty(80, u'd');
    std::u16string pairAtTheCut(62, u'p');
    pairAtTheCut += u"\U0001F600 and more";

    struct Case {
        const char* name;
        std::u16string given;
        std::u16string sent;
    } cases[] = {
        {"80 characters", eighty, eighty.substr(0, 63)},
        {"a surrogate pair across the cut", pairAtTheCut, pairAtTheCut.substr(0, 62)},
        {"empty: the default", u"", u"Quillary Thu, Dec 10, 26  05:12"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        config_ = MakeRegistry("");
        service_.requests.clear();
        ASSERT_TRUE(Maker().CreateRestorePoint(row.given));
        ASSERT_FALSE(service_.requests.empty());
        EXPECT_EQ(DescriptionOf(service_.requests[0]), row.sent);
        // The rest of the record stays zero, so the text is always terminated.
        EXPECT_EQ(service_.requests[0].description.back(), u'\0');
    }
}

TEST_F(RestorePointTest, ALongTitleLeavesTheDefaultDescriptionCut) {
    CRestorePointMaker maker({*config_, platform_, clock_, &service_, std::u16string(70, u't')});
    EXPECT_EQ(maker.DefaultDescription(), std::u16string(63, u't'));
}

}  // namespace
}  // namespace quillary
