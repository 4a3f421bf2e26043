#pragma once

// One category's problems as a list: a row per problem, ticked when the problem is selected
// for repair. The rows read the category's problems in place, so a tick changes the problem's
// `selected` flag at once and the cleaning run sees it; nothing is copied, so a category of
// hundreds of thousands of problems opens at once.

#include <QAbstractListModel>
#include <QIcon>
#include <QStyledItemDelegate>

namespace quillary {
class CCategory;
class CProblem;
class CTextTables;
}  // namespace quillary

namespace quillary::ui {

class CProblemListModel final : public QAbstractListModel {
    Q_OBJECT

public:
    // The second line of a row: the problem's description.
    static constexpr int kDescriptionRole = Qt::UserRole + 1;

    // category and texts must outlive the model.
    CProblemListModel(CCategory& category, const CTextTables& texts, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    // DisplayRole: detail line 0, or the Key when that line is empty. CheckStateRole: the tick.
    // kDescriptionRole: the description text.
    QVariant data(const QModelIndex& index, int role) const override;
    // Only the tick can be set.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    CCategory& Category() { return category_; }
    CProblem& ProblemAt(int row) const;
    bool IsTicked(int row) const;
    void ToggleTick(int row);
    void SetAllTicks(bool ticked);
    void InvertTicks();
    // Deletes the problem of row from its category and removes the row.
    void RemoveProblem(int row);

signals:
    // Any tick changed, or a row went away.
    void TicksChanged();

private:
    void AllTicksChanged();

    CCategory& category_;
    const CTextTables& texts_;
};

// Draws a row in two lines of text, the problem's short label over its description, after the
// tick box and the category's picture; every other row is shaded. Every row has the same
// height, so that the view can lay out any number of rows without measuring them. Texts are
// drawn as they are: a key name holding "&" shows the "&".
class CProblemRowDelegate final : public QStyledItemDelegate {
    Q_OBJECT

public:
    explicit CProblemRowDelegate(QIcon categoryIcon, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

protected:
    // A click on the tick box, and Space or Select on the current row, toggle the tick.
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

private:
    struct RowLayout {
        QRect check;
        QRect icon;
        QRect text;
    };
    RowLayout LayOut(const QStyleOptionViewItem& option) const;
    static int IconSize(const QStyleOptionViewItem& option);

    QIcon categoryIcon_;
};

}  // namespace quillary::ui
