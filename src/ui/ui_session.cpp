#include "ui/ui_session.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

namespace quillary::ui {

CUiSession::CUiSession(COpenTarget& target, bool administrator, bool pacing)
    : target_(target), administrator_(administrator), pacing_(pacing) {}

bool CUiSession::IsBusy() {
    return IsScanRunning() || flags_.cleaningRunning || flags_.restoreRunning ||
           flags_.compactionRunning;
}

QString CUiSession::Text(std::u16string_view id) {
    return ToQString(RawText(id));
}

std::u16string CUiSession::RawText(std::u16string_view id) {
    return Context().Language().LookupText(id);
}

int TweaksToOffer(CUiSession& session) {
    CAppContext& context = session.Context();
    const std::uint32_t selection = context.Settings().Values().SelectedCategories;
    constexpr std::uint32_t kEveryRow = 0x7FFF;
    constexpr std::uint32_t kTweaksRow = 0x4000;
    if ((selection & kEveryRow) == 0 || (selection & kTweaksRow) == 0)
        return 0;
    return context.Tweaks().CountTweaksToApply();
}

QString ToQString(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

std::u16string ToU16(const QString& text) {
    return text.toStdU16String();
}

namespace {

// Counts the dialog as modal over the main window while it runs.
int RunCounted(CUiSession& session, QMessageBox& box) {
    ++session.Flags().modalCount;
    const int answer = box.exec();
    --session.Flags().modalCount;
    return answer;
}

QString Title(CUiSession& session) {
    return session.Text(u"AFX_IDS_APP_TITLE");
}

}  // namespace

void ShowMessage(CUiSession& session, QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Information, Title(session), text, QMessageBox::Ok, parent);
    RunCounted(session, box);
}

bool AskYesNo(CUiSession& session, QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Question, Title(session), text, QMessageBox::Yes | QMessageBox::No,
                    parent);
    return RunCounted(session, box) == QMessageBox::Yes;
}

void CallOnUiThread(const std::function<void()>& call) {
    QCoreApplication* application = QCoreApplication::instance();
    if (!application || QThread::currentThread() == application->thread()) {
        call();
        return;
    }
    QMetaObject::invokeMethod(application, call, Qt::BlockingQueuedConnection);
}

}  // namespace quillary::ui
