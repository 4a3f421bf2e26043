#pragma once

// Choosing the Wine prefix the program works on: a folder dialog that accepts only a folder
// holding system.reg, the choice remembered for the next start, and the header's line that
// names the prefix in use with a button to choose another.

#include <QWidget>
#include <filesystem>
#include <functional>
#include <optional>

#include "engine/text_tables.h"

class QLabel;

namespace quillary::ui {

class CUiSession;

// Whether folder is a Wine prefix: it holds system.reg.
bool IsPrefixFolder(const std::filesystem::path& folder);

// Asks for a prefix folder, starting in startFolder, until the user picks a folder that
// holds system.reg or cancels (nullopt).
std::optional<std::filesystem::path> AskForPrefix(const TextLookup& text, QWidget* parent,
                                                  const std::filesystem::path& startFolder);

// The prefix chosen last, kept in the desktop program's settings; nullopt when none was chosen
// or it is no prefix any more.
std::optional<std::filesystem::path> RememberedPrefix();
void RememberPrefix(const std::filesystem::path& folder);

// The header's line: the prefix in use, and a button that chooses another one. The program
// then starts again on it.
class CTargetLabel final : public QWidget {
    Q_OBJECT

public:
    CTargetLabel(CUiSession& session, QWidget* parent = nullptr);

signals:
    void prefixChosen(const QString& folder);

private:
    CUiSession& session_;
};

}  // namespace quillary::ui
