#include "ui/page_widgets.h"

#include <QFormLayout>
#include <QVBoxLayout>

namespace quillary::ui {

QLabel* MakeTitle(const QString& text, QWidget* parent) {
    auto* label = MakeText(text, parent);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 1.4);
    font.setBold(true);
    label->setFont(font);
    label->setAccessibleName(text);
    return label;
}

QLabel* MakeText(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

QPushButton* MakeActionButton(const QString& text, const QIcon& icon, QWidget* parent) {
    auto* button = new QPushButton(icon, text, parent);
    button->setIconSize(QSize(32, 32));
    QFont font = button->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.15);
    button->setFont(font);
    button->setMinimumHeight(48);
    button->setAccessibleName(text);
    return button;
}

QFrame* MakeSummaryBox(const QString& heading, QWidget* parent, QFormLayout** rows) {
    auto* box = new QFrame(parent);
    box->setFrameShape(QFrame::StyledPanel);
    auto* layout = new QVBoxLayout(box);
    auto* title = MakeText(heading, box);
    QFont font = title->font();
    font.setBold(true);
    title->setFont(font);
    layout->addWidget(title);
    *rows = new QFormLayout();
    (*rows)->setRowWrapPolicy(QFormLayout::WrapLongRows);
    layout->addLayout(*rows);
    return box;
}

void UsePageBackground(QWidget* page) {
    page->setAutoFillBackground(true);
    QPalette palette = page->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Base));
    page->setPalette(palette);
}

}  // namespace quillary::ui
