#include "categories/fonts.h"

#include <vector>

#include "categories/pump_messages.h"
#include "categories/value_reading.h"

namespace quillary {

RegSam CFonts::View() const {
    return environment_.target.is64Bit ? KeyWow64_64Key : 0;
}

int CFonts::CountItems() {
    RegKey key(*environment_.target.store);
    if (key.Open(HKeyLocalMachine, kFontsKey, kMaskReadOnly | View()) != ErrorSuccess)
        return 0;
    return static_cast<int>(CountValues(key.Store(), key.Handle()));
}

int CFonts::Scan() {
    if (fontsFolder_.empty()) {
        fontsFolder_ = environment_.files.GetSpecialFolderPath(CsidlFonts).value_or(u"");
        if (!fontsFolder_.empty() && !fontsFolder_.ends_with(u'\\'))
            fontsFolder_ += u'\\';
    }
    const int total = CountItems();
    if (total >= 0)
        progressTotal_ = total;
    progressCount_ = 0;

    RegKey key(*environment_.target.store);
    if (key.Open(HKeyLocalMachine, kFontsKey, kMaskReadOnly | View()) == ErrorSuccess &&
        WalkFonts(key) == kScanStopped) {
        return kScanStopped;
    }
    FinishProgress();
    SortProblems();
    return IsStopRequested() ? kScanStopped : kScanDone;
}

int CFonts::WalkFonts(RegKey& key) {
    std::vector<std::u16string> names;
    ListValueNames(key.Store(), key.Handle(), names);
    const std::u16string keyText = u"HKEY_LOCAL_MACHINE\\" + std::u16string(kFontsKey);
    // Every option off: a font file is judged by its existence alone.
    const FileReferenceOptions options;
    for (const std::u16string& name : names) {
        PumpMessages(environment_.target);
        if (IsStopRequested())
            return kScanStopped;
        ShowStatus(u"Font: " + name);
        // A value that is not text, or too long for the buffer, is not judged.
        std::u16string file;
        if (QueryShortText(key, name, file)) {
            // An empty value registers no file at all.
            if (file.empty() || !environment_.references.FileReferenceIsValid(
                                    SystemDirectory(), FontPath(file), options)) {
                AddProblemWithDetails(false, kEntryType, keyText, name, file,
                                      {u"Missing font " + name});
            }
        }
        StepProgress();
    }
    return kScanDone;
}

std::u16string CFonts::FontPath(const std::u16string& file) const {
    if (file.size() >= 3 && file.compare(1, 2, u":\\") == 0)
        return file;
    return fontsFolder_ + file;
}

}  // namespace quillary
