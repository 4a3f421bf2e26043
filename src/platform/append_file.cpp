#include "platform/append_file.h"

#include "platform/write_faults.h"

namespace quillary {

FileError CAppendFile::Append(std::span<const std::uint8_t> bytes) {
    if (broken_)
        return "cannot write " + path_.string() + ": an earlier write failed";
    if (std::optional<std::string> injected = InjectedWriteFailure(WriteStep::JournalAppend))
        return "cannot write " + path_.string() + ": " + *injected;
    bool cutBack = true;
    if (FileError failure = WriteAtEnd(bytes, size_, &cutBack)) {
        broken_ = !cutBack;
        return failure;
    }
    size_ += bytes.size();
    WriteStepTaken(WriteStep::JournalAppend);
    return std::nullopt;
}

}  // namespace quillary
