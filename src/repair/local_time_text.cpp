#include "repair/local_time_text.h"

#include <array>
#include <mutex>

#include "core/text_encoding.h"

namespace quillary {

// std::localtime hands back a buffer shared by the process; the copy is taken under a lock
// so that two threads of this program never read each other's result.
std::tm LocalTimeOf(std::chrono::system_clock::time_point time) {
    static std::mutex mutex;
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::lock_guard lock(mutex);
    const std::tm* local = std::localtime(&seconds);
    return local != nullptr ? *local : std::tm{};
}

std::u16string FormatLocalTime(std::string_view format,
                               std::chrono::system_clock::time_point time) {
    const std::tm local = LocalTimeOf(time);
    std::array<char, 512> buffer{};
    const std::string pattern(format);
    const std::size_t length = std::strftime(buffer.data(), buffer.size(), pattern.c_str(), &local);
    // The locale's names come in its multibyte encoding, UTF-8 on the systems this runs on.
    return Utf8ToUtf16(std::string_view(buffer.data(), length));
}

}  // namespace quillary
