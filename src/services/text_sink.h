#pragma once

#include <functional>
#include <string_view>

namespace quillary {

// Where a service sends a line of text it wants seen: the log, a message box, a test's list.
// Services take one instead of knowing who listens.
using TextSink = std::function<void(std::u16string_view text)>;

}  // namespace quillary
