#include "ui/run_progress_view.h"

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include "ui/page_widgets.h"
#include "ui/ui_session.h"

namespace quillary::ui {

CRunProgressView::CRunProgressView(const QString& whole, QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    category_ = new QProgressBar(this);
    category_->setRange(0, 100);
    category_->setAccessibleName(QStringLiteral("category progress"));
    overall_ = new QProgressBar(this);
    overall_->setAccessibleName(whole);
    status_ = MakeText({}, this);
    status_->setWordWrap(false);
    // A long key path must not widen the window.
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(category_);
    layout->addWidget(overall_);
    layout->addWidget(status_);
}

void CRunProgressView::Reset() {
    category_->setValue(0);
    overall_->setValue(0);
    status_->clear();
}

void CRunProgressView::ShowProgress(const RunProgress& progress) {
    if (progress.status)
        status_->setText(ToQString(*progress.status));
    if (progress.categoryPercent)
        category_->setValue(*progress.categoryPercent);
    if (progress.overallMaximum)
        overall_->setMaximum(*progress.overallMaximum);
    if (progress.overallPosition)
        overall_->setValue(*progress.overallPosition);
}

void CRunProgressView::ShowStatus(const QString& text) {
    status_->setText(text);
}

int CRunProgressView::OverallPosition() const {
    return overall_->value();
}

}  // namespace quillary::ui
