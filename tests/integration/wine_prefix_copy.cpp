#include "wine_prefix_copy.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <system_error>

#include "core/text_encoding.h"

namespace quillary::testing {
namespace {

namespace fs = std::filesystem;

// Files up to this size are copied; larger ones (the DLLs and programs Debian puts in
// system32 and its siblings, ~690 MB in all) are linked.
constexpr std::uintmax_t kLargestCopiedFile = 64 * 1024;

// drive_c with its folders made anew, small files copied and large ones linked. Links in the
// original (the profile's Documents, Desktop, … point into the Unix home) are made again
// with the same target.
void CopyDriveC(const fs::path& from, const fs::path& to, std::error_code& error) {
    fs::create_directory(to, error);
    for (auto it = fs::recursive_directory_iterator(from, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        const fs::path target = to / it->path().lexically_relative(from);
        if (it->is_symlink(error)) {
            fs::create_symlink(fs::read_symlink(it->path(), error), target, error);
        } else if (it->is_directory(error)) {
            fs::create_directory(target, error);
        } else if (it->file_size(error) <= kLargestCopiedFile) {
            fs::copy_file(it->path(), target, error);
        } else {
            fs::create_symlink(it->path(), target, error);
        }
        if (error) {
            return;
        }
    }
}

}  // namespace

fs::path FreshWinePrefix() {
    return fs::path(QUILLARY_WINE_TEST_FOLDER) / "fresh";
}

fs::path WinePrefixCopies() {
    return fs::path(QUILLARY_WINE_TEST_FOLDER) / "copies";
}

std::unique_ptr<CWinePrefixCopy> FreshCopy(const std::string& name) {
    auto copy = std::make_unique<CWinePrefixCopy>(FreshWinePrefix(), WinePrefixCopies() / name);
    EXPECT_EQ(copy->Error(), "");
    return copy;
}

CWinePrefixCopy::CWinePrefixCopy(const fs::path& original, fs::path folder)
    : folder_(std::move(folder)) {
    std::error_code error;
    if (!fs::is_regular_file(original / "system.reg", error)) {
        error_ = original.string() +
                 " holds no fresh Wine prefix: the fixture set-up that runs `wineboot -i` "
                 "did not run or failed (is wine installed?)";
        return;
    }
    fs::remove_all(folder_, error);
    fs::create_directories(folder_ / "dosdevices", error);
    // The registry, and the stamp that tells Wine this prefix is already set up for this
    // version of Wine (without it Wine would set the copy up all over again).
    for (const char* name : {"system.reg", "user.reg", "userdef.reg", ".update-timestamp"}) {
        if (!error) {
            fs::copy_file(original / name, folder_ / name, error);
        }
    }
    if (!error) {
        CopyDriveC(original / "drive_c", folder_ / "drive_c", error);
    }
    if (!error) {
        fs::create_symlink("../drive_c", folder_ / "dosdevices" / "c:", error);
    }
    if (!error) {
        fs::create_symlink("/", folder_ / "dosdevices" / "z:", error);
    }
    if (error) {
        error_ = "cannot copy the Wine prefix to " + folder_.string() + ": " + error.message();
    }
}

CWinePrefixCopy::~CWinePrefixCopy() {
    if (error_.empty()) {
        StopWineServer();
    }
}

std::vector<std::string> CWinePrefixCopy::Environment() const {
    return {"WINEPREFIX=" + folder_.string(), "WINEDEBUG=-all", "LC_ALL=C.UTF-8", "DISPLAY="};
}

CommandResult CWinePrefixCopy::Wine(const std::vector<std::string>& arguments) const {
    std::vector<std::string> argv = {"wine"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return RunCommand(argv, Environment());
}

CommandResult CWinePrefixCopy::WineServer(const std::vector<std::string>& arguments) const {
    std::vector<std::string> argv = {"wineserver"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return RunCommand(argv, Environment());
}

void CWinePrefixCopy::StopWineServer() const {
    WineServer({"-k"});
    WineServer({"-w"});
}

std::string CWinePrefixCopy::ExportKey(const std::string& key, std::string* error) const {
    const fs::path file = folder_ / "drive_c" / "export.reg";
    std::error_code ignored;
    fs::remove(file, ignored);
    const CommandResult result = Wine({"reg", "export", key, "C:\\export.reg", "/y"});
    if (result.exitCode != 0) {
        *error = "wine reg export " + key + " failed (" + std::to_string(result.exitCode) +
                 "): " + result.out + result.err;
        return {};
    }
    const std::string bytes = ReadFile("drive_c/export.reg");
    // regedit writes UTF-16LE with a byte order mark and CRLF line ends.
    if (bytes.size() < 2 || bytes[0] != '\xff' || bytes[1] != '\xfe') {
        *error = "wine reg export " + key + " wrote no UTF-16 file";
        return {};
    }
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data()) + 2;
    std::string text = Utf16ToUtf8(FromUtf16LeBytes({data, bytes.size() - 2}));
    std::string lf;
    lf.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
            lf += text[i];
        }
    }
    return lf;
}

std::string CWinePrefixCopy::ReadFile(const std::string& name) const {
    std::stringstream text;
    text << std::ifstream(folder_ / name, std::ios::binary).rdbuf();
    return text.str();
}

}  // namespace quillary::testing
