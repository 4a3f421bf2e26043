#include "ui/scan_observer_relay.h"

#include <QMetaObject>
#include <QThread>

namespace quillary::ui {

CScanObserverRelay::CScanObserverRelay(std::function<std::size_t()> countFound, QObject* parent)
    : QObject(parent), countFound_(std::move(countFound)) {}

void CScanObserverRelay::Update(const std::function<void(RunProgress&)>& change) {
    std::unique_lock lock(mutex_);
    // Only the worker is held: a report made on the window thread itself (a scan starting)
    // would otherwise wait for the window forever.
    if (QThread::currentThread() != thread())
        resumed_.wait(lock, [this] { return !paused_; });
    change(pending_);
    if (deliveryQueued_)
        return;
    deliveryQueued_ = true;
    QMetaObject::invokeMethod(
        this, [this] { Deliver(); }, Qt::QueuedConnection);
}

void CScanObserverRelay::Deliver() {
    RunProgress progress;
    {
        std::lock_guard lock(mutex_);
        progress = std::exchange(pending_, {});
        deliveryQueued_ = false;
    }
    emit progressed(progress);
}

void CScanObserverRelay::DeliverEnd(bool stopped, bool cleaning) {
    // Queued behind the last delivery, so the window has seen every report before the end.
    QMetaObject::invokeMethod(
        this,
        [this, stopped, cleaning] {
            Deliver();
            if (cleaning)
                emit cleaningEnded(stopped);
            else
                emit scanEnded(stopped);
        },
        Qt::QueuedConnection);
}

void CScanObserverRelay::OnFoundChanged() {
    const std::size_t found = countFound_();
    Update([found](RunProgress& progress) { progress.found = found; });
}

void CScanObserverRelay::OnScanEnded(bool stopped) {
    DeliverEnd(stopped, false);
}

void CScanObserverRelay::OnCleaningEnded(bool stopped) {
    DeliverEnd(stopped, true);
}

void CScanObserverRelay::OnRowPicture(int index, int picture) {
    if (index < 0 || index >= kProgressRowCount)
        return;
    Update([index, picture](RunProgress& progress) {
        progress.pictures[static_cast<std::size_t>(index)] = picture;
    });
}

void CScanObserverRelay::OnRowLabel(int index, std::u16string_view label) {
    if (index < 0 || index >= kProgressRowCount)
        return;
    Update([index, text = std::u16string(label)](RunProgress& progress) {
        progress.labels[static_cast<std::size_t>(index)] = text;
    });
}

void CScanObserverRelay::OnOverallProgressRange(int maximum) {
    Update([maximum](RunProgress& progress) { progress.overallMaximum = maximum; });
}

void CScanObserverRelay::OnOverallProgress(int position) {
    Update([this, position](RunProgress& progress) {
        progress.overallPosition = position;
        if (holdAtPosition_ >= 0 && position >= holdAtPosition_) {
            holdAtPosition_ = -1;
            paused_ = true;
        }
    });
}

void CScanObserverRelay::OnCategoryProgress(int percent) {
    Update([percent](RunProgress& progress) { progress.categoryPercent = percent; });
}

void CScanObserverRelay::OnStatus(std::u16string_view text) {
    Update([status = std::u16string(text)](RunProgress& progress) { progress.status = status; });
}

void CScanObserverRelay::Pause() {
    std::lock_guard lock(mutex_);
    paused_ = true;
}

void CScanObserverRelay::HoldAtOverallPosition(int position) {
    std::lock_guard lock(mutex_);
    holdAtPosition_ = position;
}

void CScanObserverRelay::Resume() {
    {
        std::lock_guard lock(mutex_);
        paused_ = false;
    }
    resumed_.notify_all();
}

}  // namespace quillary::ui
