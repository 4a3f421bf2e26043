#include "repair/operation.h"

#include <array>

namespace quillary {
namespace {

constexpr std::array<HKey, 5> kRootsByNumber = {HKeyClassesRoot, HKeyCurrentUser, HKeyLocalMachine,
                                                HKeyUsers, HKeyCurrentConfig};

}  // namespace

std::optional<HKey> RootKeyOfNumber(std::int32_t number) {
    if (number < 0 || number >= static_cast<std::int32_t>(kRootsByNumber.size()))
        return std::nullopt;
    return kRootsByNumber[static_cast<std::size_t>(number)];
}

std::optional<std::int32_t> RootNumberOf(HKey root) {
    for (std::size_t i = 0; i < kRootsByNumber.size(); ++i) {
        if (kRootsByNumber[i] == root)
            return static_cast<std::int32_t>(i);
    }
    return std::nullopt;
}

}  // namespace quillary
