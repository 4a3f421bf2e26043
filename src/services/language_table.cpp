#include "services/language_table.h"

namespace quillary {

const LanguageRow& LanguageRowAt(int languageIndex) {
    if (languageIndex < 0 || static_cast<std::size_t>(languageIndex) >= LanguageTable.size()) {
        return LanguageTable[0];
    }
    return LanguageTable[static_cast<std::size_t>(languageIndex)];
}

}  // namespace quillary
