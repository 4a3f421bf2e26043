#pragma once

// The results page: what the last scan found, a row per category that took part in it (and
// the registry tweaks that are recommended), the totals, the repair button and the scan
// report. A row's details open the category's problem list.

#include "ui/command_window.h"

class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace quillary::ui {

class CZANDlg;

class CDlgResults final : public CCommandWindow {
    Q_OBJECT

public:
    // A row's id: its category index (0-13) when the category found problems, kNoProblemsRow
    // when it found none, kTweaksRow for the registry tweaks.
    static constexpr int kNoProblemsRow = -1;
    static constexpr int kTweaksRow = 14;
    static constexpr int kIdRole = Qt::UserRole;
    enum Column { kCategoryColumn, kCountColumn, kDetailsColumn };

    CDlgResults(CZANDlg& mainWindow, QWidget* parent = nullptr);

    void OnCommand(CommandId id) override;
    // Builds the rows and totals again from the last scan.
    void FillResults();
    // What a row's details do: tell that the category found nothing, or open its problems.
    void OpenDetails(int id);

    QTreeWidget& Rows() { return *rows_; }
    QLabel& Totals() { return *totals_; }
    QPushButton& RepairButton() { return *repair_; }
    QPushButton& ReportLink() { return *report_; }
    // The category whose problems were opened last; -1 before any.
    int CurrentCategory() const { return currentCategory_; }

private:
    void AddRow(int id, const QIcon& icon, const QString& name, const QString& description,
                const QString& count, bool hasDetails);
    // The tweak count when the tweaks row is shown, else 0.
    int RecommendedTweaks();
    void Repair();
    void ExportReport();

    CZANDlg& mainWindow_;
    int currentCategory_ = -1;
    QTreeWidget* rows_ = nullptr;
    QLabel* totals_ = nullptr;
    QPushButton* repair_ = nullptr;
    QPushButton* report_ = nullptr;
};

}  // namespace quillary::ui
