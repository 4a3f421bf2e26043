#pragma once

// What the windows of one run of the desktop program share: the open target with its
// application context, the process-wide flags the pages set and read, and the language texts.

#include <QString>
#include <atomic>
#include <functional>
#include <string_view>

#include "app/target_factory.h"

class QWidget;

namespace quillary::ui {

// The flags the pages and the engine's runs share; all are read and written on the window
// thread.
struct UiFlags {
    bool scheduledScan = false;      // started by a timer: scan as soon as the window is up
    bool oneClick = false;           // the one-click scan, repair and compaction runs
    bool startedFromStatus = false;  // the status page started the scan
    bool optimizeFromStatus = false;
    bool cleaningRunning = false;
    bool restoreRunning = false;
    bool compactionRunning = false;
    // Raised while a modal dialog is open over the main window.
    int modalCount = 0;
};

class CUiSession {
public:
    // administrator: whether this process may write the target (on a Wine prefix, whether it
    // may replace the registry files).
    CUiSession(COpenTarget& target, bool administrator, bool pacing);

    COpenTarget& Target() { return target_; }
    CAppContext& Context() { return target_.Context(); }
    UiFlags& Flags() { return flags_; }
    bool IsAdministrator() const { return administrator_; }
    bool Pacing() const { return pacing_; }
    int LanguageIndex() { return Context().Platform().CurrentLanguageIndex(); }
    bool IsScanRunning() { return Context().Scans().IsScanRunning(); }
    // Whether any run that changes or reads the whole registry is going on.
    bool IsBusy();

    // The language text of an identifier, for a widget or for formatting.
    QString Text(std::u16string_view id);
    std::u16string RawText(std::u16string_view id);

private:
    COpenTarget& target_;
    bool administrator_;
    bool pacing_;
    UiFlags flags_;
};

// The number of registry tweaks the results offer: those still to apply, when the stored
// category selection ticks the tweaks row; else 0.
int TweaksToOffer(CUiSession& session);

// Converts the core's text to Qt's (both are UTF-16).
QString ToQString(std::u16string_view text);
std::u16string ToU16(const QString& text);

// A message box over parent with the language text; modal, counted as a modal dialog.
void ShowMessage(CUiSession& session, QWidget* parent, const QString& text);
// A Yes/No question; true for Yes.
bool AskYesNo(CUiSession& session, QWidget* parent, const QString& text);

// Runs call on the window thread and waits for it; called there, it runs at once.
void CallOnUiThread(const std::function<void()>& call);

}  // namespace quillary::ui
