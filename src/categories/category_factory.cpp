#include "categories/category_factory.h"

#include <array>
#include <utility>

#include "categories/activex.h"
#include "engine/category_table.h"

namespace quillary {
namespace {

using Maker = std::unique_ptr<CCategory> (*)(ScanEnvironment&);

template <typename Scanner>
std::unique_ptr<CCategory> Make(ScanEnvironment& environment) {
    return std::make_unique<Scanner>(environment);
}

// Category index and the scanner made for it.
constexpr std::array<std::pair<int, Maker>, 1> kScanners = {{
    {0, Make<CActiveX>},
}};

}  // namespace

std::unique_ptr<CCategory> MakeCategory(int index, ScanEnvironment& environment) {
    for (const auto& [scannerIndex, make] : kScanners) {
        if (scannerIndex == index)
            return make(environment);
    }
    return nullptr;
}

std::uint32_t AvailableCategories() {
    std::uint32_t bits = 0;
    for (const auto& [index, make] : kScanners) {
        bits |= kCategories[static_cast<std::size_t>(index)].bit;
    }
    return bits;
}

}  // namespace quillary
