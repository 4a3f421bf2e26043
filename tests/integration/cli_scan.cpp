#include "cli_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>

namespace quillary::testing {

namespace fs = std::filesystem;

std::string Describe(const std::vector<Reported>& problems) {
    std::string text;
    for (const Reported& problem : problems) {
        text += "\n  category " + std::to_string(problem.category) + " type " +
                std::to_string(problem.entryType) + (problem.is32Bit ? " (32-bit) " : " ") +
                problem.key + " [" + problem.valueName + "] = " + problem.valueData;
    }
    return text;
}

std::vector<Reported> Added(std::vector<Reported> before, const std::vector<Reported>& after) {
    std::vector<Reported> added;
    for (const Reported& problem : after) {
        auto same = std::find(before.begin(), before.end(), problem);
        if (same == before.end()) {
            added.push_back(problem);
        } else {
            before.erase(same);
        }
    }
    return added;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

std::string WhyFailed(const std::string& what, const CommandResult& result) {
    return what + " failed (" + std::to_string(result.exitCode) + "): " + result.out + result.err;
}

void ScanWithCli(const fs::path& prefix, const std::string& categories,
                 std::vector<Reported>* problems) {
    const fs::path data = prefix / "quillary-data";
    fs::create_directories(data / "run");
    const CommandResult scan = RunCommand(
        {QUILLARY_CLI, "scan", "--prefix", prefix.string(), "--categories", categories, "--json"},
        {"XDG_DATA_HOME=" + data.string(), "XDG_CONFIG_HOME=" + (data / "config").string(),
         "XDG_RUNTIME_DIR=" + (data / "run").string()});
    ASSERT_EQ(scan.exitCode, 0) << WhyFailed("quillary-cli scan", scan);
    const nlohmann::json document = nlohmann::json::parse(scan.out, nullptr, false);
    ASSERT_FALSE(document.is_discarded()) << "not JSON: " << scan.out;
    problems->clear();
    for (const nlohmann::json& problem : document.at("problems")) {
        problems->push_back(
            {problem.at("category").get<int>(), problem.at("entryType").get<int>(),
             problem.at("key").get<std::string>(), problem.at("valueName").get<std::string>(),
             problem.at("valueData").get<std::string>(), problem.at("is32Bit").get<int>() != 0});
    }
}

}  // namespace quillary::testing
