#include "categories/value_reading.h"

#include <algorithm>
#include <vector>

namespace quillary {

LStatus QueryText(RegKey& key, std::u16string_view valueName, std::size_t bufferLength,
                  std::u16string& text) {
    std::vector<char16_t> buffer(bufferLength);
    auto length = static_cast<std::uint32_t>(buffer.size());
    const LStatus status = key.QueryString(valueName, buffer.data(), &length);
    if (status != ErrorSuccess)
        return status;
    std::u16string_view read(buffer.data(), std::min<std::size_t>(length, buffer.size()));
    text = read.substr(0, read.find(u'\0'));
    return ErrorSuccess;
}

bool QueryShortText(RegKey& key, std::u16string_view valueName, std::u16string& text) {
    return QueryText(key, valueName, kShortValueLength, text) == ErrorSuccess;
}

bool IsBracedLooking(std::u16string_view text) {
    return !text.empty() && (text.front() == u'{' || text.back() == u'}');
}

}  // namespace quillary
