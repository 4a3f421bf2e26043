// The problem list with 200,000 problems in one category: filling a list view and painting it
// the first time, jumping to either end, and paging down, each with a forced paint. Runs on
// the offscreen platform, set here before the application starts.

#include <benchmark/benchmark.h>
#include <QApplication>
#include <QListView>
#include <QScrollBar>
#include <QTemporaryDir>
#include <memory>
#include <string>

#include "app/target_factory.h"
#include "ui/icons.h"
#include "ui/problem_list_model.h"
#include "ui/ui_session.h"

namespace quillary::ui {
namespace {

constexpr int kProblems = 200'000;

// A category that scans nothing: the benchmark fills its problems itself.
class CFilledCategory final : public CCategory {
public:
    using CCategory::CCategory;
    int Scan() override { return kScanDone; }
    int CountItems() override { return 0; }
};

// An in-memory target with the English texts, and one category of kProblems problems.
class CBenchData {
public:
    CBenchData() {
        const std::filesystem::path folder = folder_.path().toStdString();
        std::filesystem::create_directory(folder / "c");
        std::string error;
        target_ =
            COpenTarget::OpenInMemory(std::make_unique<CMemoryRegistry>(), folder / "c",
                                      {{folder / "config", folder / "data",
                                        std::filesystem::current_path() / "lang" / "quillary"},
                                       {},
                                       false,
                                       [](int, const char*) { return true; }},
                                      &error);
        if (!target_)
            throw std::runtime_error(error);
        (void)target_->Context().Load();
        category_ = std::make_unique<CFilledCategory>(target_->Context().ScanServices());
        for (int index = 0; index < kProblems; ++index) {
            const std::u16string number = ToU16(QString::number(index));
            const std::u16string key =
                u"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\" + number;
            category_->AddProblemWithDetails(false, 12, key, u"Program" + number,
                                             u"C:\\Program Files\\Gone\\gone" + number + u".exe",
                                             {key, u"C:\\Program Files\\Gone"});
        }
    }

    CCategory& Category() { return *category_; }
    const CTextTables& Texts() { return target_->Context().TextTables(); }

private:
    QTemporaryDir folder_;
    std::unique_ptr<COpenTarget> target_;
    std::unique_ptr<CFilledCategory> category_;
};

CBenchData& Data() {
    static CBenchData data;
    return data;
}

// The list as the problem list dialog sets it up, shown at a usual dialog size.
struct CShownList {
    CShownList() : model(Data().Category(), Data().Texts()), delegate(CategoryIcon(11)) {
        view.setUniformItemSizes(true);
        view.setItemDelegate(&delegate);
        view.setModel(&model);
        view.resize(800, 600);
        view.show();
        Paint();
    }
    void Paint() { benchmark::DoNotOptimize(view.viewport()->grab()); }

    CProblemListModel model;
    CProblemRowDelegate delegate;
    QListView view;
};

void FillAndFirstPaint(benchmark::State& state) {
    Data();
    for (auto _ : state) {
        CShownList list;
        benchmark::DoNotOptimize(list.view.model()->rowCount());
    }
    state.counters["rows"] = kProblems;
}
BENCHMARK(FillAndFirstPaint)->Unit(benchmark::kMillisecond);

void ScrollToEitherEnd(benchmark::State& state) {
    CShownList list;
    bool atEnd = false;
    for (auto _ : state) {
        atEnd = !atEnd;
        if (atEnd)
            list.view.scrollToBottom();
        else
            list.view.scrollToTop();
        list.Paint();
    }
}
BENCHMARK(ScrollToEitherEnd)->Unit(benchmark::kMicrosecond);

void PageDown(benchmark::State& state) {
    CShownList list;
    QScrollBar* bar = list.view.verticalScrollBar();
    for (auto _ : state) {
        if (bar->value() == bar->maximum())
            bar->setValue(0);
        bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        list.Paint();
    }
}
BENCHMARK(PageDown)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quillary::ui

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
