#pragma once

// The building blocks the pages share: a page's title and texts, its big action buttons and
// the framed boxes of its summaries. Texts are shown as plain text: a language file or a key
// name never turns into markup.

#include <QFrame>
#include <QLabel>
#include <QPushButton>

class QFormLayout;

namespace quillary::ui {

// A page's title: larger and bold.
QLabel* MakeTitle(const QString& text, QWidget* parent);
// A paragraph that wraps.
QLabel* MakeText(const QString& text, QWidget* parent);
// A button that starts the page's work: an icon and a large label.
QPushButton* MakeActionButton(const QString& text, const QIcon& icon, QWidget* parent);
// A framed box with a heading; rows go into the returned form layout.
QFrame* MakeSummaryBox(const QString& heading, QWidget* parent, QFormLayout** rows);
// Gives a page the plain window-coloured background the pages share.
void UsePageBackground(QWidget* page);

}  // namespace quillary::ui
