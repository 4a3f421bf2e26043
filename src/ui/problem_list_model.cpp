#include "ui/problem_list_model.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "engine/category.h"
#include "engine/text_tables.h"
#include "ui/ui_session.h"

namespace quillary::ui {

CProblemListModel::CProblemListModel(CCategory& category, const CTextTables& texts, QObject* parent)
    : QAbstractListModel(parent), category_(category), texts_(texts) {}

int CProblemListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(category_.Problems().size());
}

CProblem& CProblemListModel::ProblemAt(int row) const {
    return *category_.Problems()[static_cast<std::size_t>(row)];
}

QVariant CProblemListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const CProblem& problem = ProblemAt(index.row());
    switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole: {
            const std::u16string_view label = problem.DetailLine(0);
            return ToQString(label.empty() ? std::u16string_view(problem.Key) : label);
        }
        case Qt::CheckStateRole:
            return problem.selected ? Qt::Checked : Qt::Unchecked;
        case kDescriptionRole:
        case Qt::AccessibleDescriptionRole:
            return ToQString(texts_.DescriptionText(problem));
        default:
            return {};
    }
}

bool CProblemListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole ||
        !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    ProblemAt(index.row()).selected = value.toInt() == Qt::Checked;
    emit dataChanged(index, index, {Qt::CheckStateRole});
    emit TicksChanged();
    return true;
}

Qt::ItemFlags CProblemListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable |
           Qt::ItemNeverHasChildren;
}

bool CProblemListModel::IsTicked(int row) const {
    return ProblemAt(row).selected;
}

void CProblemListModel::ToggleTick(int row) {
    setData(index(row), IsTicked(row) ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
}

void CProblemListModel::SetAllTicks(bool ticked) {
    for (const auto& problem : category_.Problems())
        problem->selected = ticked;
    AllTicksChanged();
}

void CProblemListModel::InvertTicks() {
    for (const auto& problem : category_.Problems())
        problem->selected = !problem->selected;
    AllTicksChanged();
}

void CProblemListModel::AllTicksChanged() {
    if (rowCount() > 0)
        emit dataChanged(index(0), index(rowCount() - 1), {Qt::CheckStateRole});
    emit TicksChanged();
}

void CProblemListModel::RemoveProblem(int row) {
    if (row < 0 || row >= rowCount())
        return;
    beginRemoveRows({}, row, row);
    auto& problems = category_.MutableProblems();
    problems.erase(problems.begin() + row);
    endRemoveRows();
    emit TicksChanged();
}

// --- CProblemRowDelegate ---------------------------------------------------------------------

namespace {

constexpr int kMargin = 4;

QStyle* StyleOf(const QStyleOptionViewItem& option) {
    return option.widget ? option.widget->style() : QApplication::style();
}

}  // namespace

CProblemRowDelegate::CProblemRowDelegate(QIcon categoryIcon, QObject* parent)
    : QStyledItemDelegate(parent), categoryIcon_(std::move(categoryIcon)) {}

int CProblemRowDelegate::IconSize(const QStyleOptionViewItem& option) {
    // As tall as the two lines of text.
    return 2 * option.fontMetrics.lineSpacing();
}

CProblemRowDelegate::RowLayout CProblemRowDelegate::LayOut(
    const QStyleOptionViewItem& option) const {
    QStyle* style = StyleOf(option);
    const int checkWidth = style->pixelMetric(QStyle::PM_IndicatorWidth, &option, option.widget);
    const int checkHeight = style->pixelMetric(QStyle::PM_IndicatorHeight, &option, option.widget);
    const int iconSize = IconSize(option);
    const QRect row = option.rect.adjusted(kMargin, kMargin, -kMargin, -kMargin);

    RowLayout layout;
    layout.check = QStyle::alignedRect(option.direction, Qt::AlignLeft | Qt::AlignVCenter,
                                       QSize(checkWidth, checkHeight), row);
    const QRect afterCheck = row.adjusted(checkWidth + 2 * kMargin, 0, 0, 0);
    layout.icon = QStyle::alignedRect(option.direction, Qt::AlignLeft | Qt::AlignVCenter,
                                      QSize(iconSize, iconSize), afterCheck);
    const QRect text = afterCheck.adjusted(iconSize + 2 * kMargin, 0, 0, 0);
    layout.text = QStyle::visualRect(option.direction, option.rect, text);
    return layout;
}

QSize CProblemRowDelegate::sizeHint(const QStyleOptionViewItem& option,
                                    const QModelIndex& /*index*/) const {
    // The same for every row: the view lays out any number of rows without asking each one.
    QStyle* style = StyleOf(option);
    const int checkWidth = style->pixelMetric(QStyle::PM_IndicatorWidth, &option, option.widget);
    const int iconSize = IconSize(option);
    const int minimumText = option.fontMetrics.averageCharWidth() * 24;
    return {checkWidth + iconSize + minimumText + 6 * kMargin, iconSize + 2 * kMargin};
}

void CProblemRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    QStyleOptionViewItem panel(option);
    initStyleOption(&panel, index);
    QStyle* style = StyleOf(option);
    const RowLayout layout = LayOut(option);
    const bool selected = option.state & QStyle::State_Selected;

    painter->save();
    if (index.row() % 2 == 1 && !selected)
        painter->fillRect(option.rect, option.palette.brush(QPalette::AlternateBase));
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &panel, painter, option.widget);

    QStyleOptionViewItem check(option);
    check.rect = layout.check;
    check.state &= ~QStyle::State_HasFocus;
    check.state |= index.data(Qt::CheckStateRole).toInt() == Qt::Checked ? QStyle::State_On
                                                                         : QStyle::State_Off;
    style->drawPrimitive(QStyle::PE_IndicatorItemViewItemCheck, &check, painter, option.widget);

    const QIcon::Mode iconMode = selected ? QIcon::Selected : QIcon::Normal;
    categoryIcon_.paint(painter, layout.icon, Qt::AlignCenter, iconMode);

    // Drawn without mnemonic flags, so that "&" stays a character.
    const QPalette::ColorRole textRole = selected ? QPalette::HighlightedText : QPalette::Text;
    const QFontMetrics& metrics = option.fontMetrics;
    const int width = layout.text.width();
    QRect line = layout.text;
    line.setHeight(layout.text.height() / 2);
    const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
    painter->setPen(option.palette.color(QPalette::Active, textRole));
    painter->drawText(line, flags,
                      metrics.elidedText(index.data().toString(), Qt::ElideRight, width));
    line.translate(0, line.height());
    if (!selected)
        painter->setPen(option.palette.color(QPalette::Disabled, QPalette::Text));
    painter->drawText(line, flags,
                      metrics.elidedText(index.data(CProblemListModel::kDescriptionRole).toString(),
                                         Qt::ElideRight, width));

    if (option.state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(option);
        focus.backgroundColor =
            option.palette.color(selected ? QPalette::Highlight : QPalette::Base);
        style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, option.widget);
    }
    painter->restore();
}

bool CProblemRowDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                      const QStyleOptionViewItem& option,
                                      const QModelIndex& index) {
    if (!(index.flags() & Qt::ItemIsUserCheckable))
        return false;
    switch (event->type()) {
        case QEvent::MouseButtonRelease: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() != Qt::LeftButton ||
                !LayOut(option).check.contains(mouse->position().toPoint()))
                return false;
            break;
        }
        case QEvent::MouseButtonDblClick: {
            // The second click of a double click on the box is not a second toggle.
            const auto* mouse = static_cast<QMouseEvent*>(event);
            return LayOut(option).check.contains(mouse->position().toPoint());
        }
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key != Qt::Key_Space && key != Qt::Key_Select)
                return false;
            break;
        }
        default:
            return false;
    }
    const bool ticked = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
    return model->setData(index, ticked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
}

}  // namespace quillary::ui
