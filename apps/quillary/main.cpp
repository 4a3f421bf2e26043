// quillary: the desktop program.

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSplashScreen>
#include <iostream>

#include "app/startup.h"
#include "app/target_factory.h"
#include "core/text_encoding.h"
#include "core/text_format.h"
#include "demo_prefix.h"
#include "targets/linux/instance_guard.h"
#include "ui/icons.h"
#include "ui/main_window.h"
#include "ui/prefix_chooser.h"
#include "ui/screenshot_tour.h"
#include "ui/ui_session.h"

namespace {

using namespace quillary;
using namespace quillary::ui;

constexpr int kExitDone = 0;
constexpr int kExitBadArguments = 2;
constexpr int kExitTargetUnavailable = 3;

constexpr char kUsage[] =
    "Usage: quillary [--prefix DIR | --demo] [MODE]\n"
    "  --prefix DIR  work on the Wine prefix in DIR (default: $WINEPREFIX, then the prefix\n"
    "                chosen last, then ~/.wine)\n"
    "  --demo        work on the demo prefix, written into $XDG_DATA_HOME/quillary/demo-prefix\n"
    "                when missing and then kept with its repairs\n"
    "  --screenshots DIR\n"
    "                with --demo: visit every page, scanning and repairing the demo prefix,\n"
    "                write a PNG picture of each into DIR, then quit\n"
    "  MODE          -s: scan at once (the scheduled scan); -autorun: the start at log-on\n";

struct Arguments {
    std::optional<std::filesystem::path> prefix;
    bool demo = false;
    // Where the screenshot tour writes its pictures; empty: no tour.
    QString screenshots;
    // What start-up reads: the start mode and the elevation verbs.
    std::vector<std::u16string> mode;
};

std::optional<Arguments> ParseArguments(const QStringList& arguments) {
    Arguments parsed;
    for (qsizetype at = 1; at < arguments.size(); ++at) {
        const QString& argument = arguments[at];
        if (argument == QLatin1String("--prefix") && at + 1 < arguments.size()) {
            parsed.prefix = arguments[++at].toStdString();
        } else if (argument == QLatin1String("--screenshots") && at + 1 < arguments.size()) {
            parsed.screenshots = arguments[++at];
        } else if (argument == QLatin1String("--demo")) {
            parsed.demo = true;
        } else if (argument.startsWith(QLatin1String("--"))) {
            return std::nullopt;
        } else {
            parsed.mode.push_back(argument.toStdU16String());
        }
    }
    if (parsed.demo && parsed.prefix)
        return std::nullopt;
    // The tour repairs what it finds: only the demo prefix is toured.
    if (!parsed.screenshots.isEmpty() && !parsed.demo)
        return std::nullopt;
    return parsed;
}

// The English texts, for what is said before a prefix (and with it the language in use) is
// open.
TextLookup StartupTexts(const std::filesystem::path& executable, IFileIo& files,
                        std::unique_ptr<CLanguagePack>& pack) {
    pack = std::make_unique<CLanguagePack>(files, ResolveLanguageFile(executable, 0), nullptr);
    return [&pack](std::u16string_view id) { return pack->LookupText(id); };
}

// Which prefix to open when the command line names none: $WINEPREFIX, then the prefix chosen
// last, then ~/.wine; when there is none, the user chooses a folder or the demo prefix.
// nullopt: the user chose nothing. An empty folder stands for the demo prefix.
std::optional<std::filesystem::path> FindPrefix(const TextLookup& text) {
    const PrefixSearch search = PrefixSearchOfProcess(std::nullopt);
    if (search.winePrefix)
        return *search.winePrefix;
    if (std::optional<std::filesystem::path> remembered = RememberedPrefix())
        return remembered;
    if (std::optional<PrefixChoice> candidate = PrefixCandidate(search))
        return candidate->folder;

    QMessageBox question(QMessageBox::Question, ToQString(text(u"AFX_IDS_APP_TITLE")),
                         ToQString(text(u"IDS_NO_PREFIX_FOUND")), QMessageBox::Cancel);
    QPushButton* choose =
        question.addButton(ToQString(text(u"IDS_BTN_CHOOSE_PREFIX")), QMessageBox::AcceptRole);
    QPushButton* demo =
        question.addButton(ToQString(text(u"IDS_BTN_OPEN_DEMO")), QMessageBox::AcceptRole);
    question.exec();
    if (question.clickedButton() == demo)
        return std::filesystem::path();
    if (question.clickedButton() != choose)
        return std::nullopt;
    std::optional<std::filesystem::path> folder =
        AskForPrefix(text, nullptr, search.home.value_or(std::filesystem::path()));
    if (folder)
        RememberPrefix(*folder);
    return folder;
}

std::unique_ptr<COpenTarget> OpenChosenTarget(const Arguments& arguments, const TextLookup& text,
                                              const TargetOptions& options) {
    std::string error;
    std::optional<std::filesystem::path> folder = arguments.prefix;
    if (!folder && !arguments.demo) {
        folder = FindPrefix(text);
        if (!folder)
            return nullptr;
    }
    const auto fail = [&](const std::filesystem::path& what) {
        QMessageBox::critical(nullptr, ToQString(text(u"AFX_IDS_APP_TITLE")),
                              ToQString(Format(text(u"IDS_CANNOT_OPEN_PREFIX"),
                                               Utf8ToUtf16(what.string()), Utf8ToUtf16(error))));
    };
    if (arguments.demo || folder->empty()) {
        std::unique_ptr<COpenTarget> target =
            COpenTarget::OpenDemoPrefix(demo::WriteDemoPrefix, options, &error);
        if (!target)
            fail(DemoPrefixFolder(options.folders.dataHome));
        return target;
    }
    std::optional<PrefixChoice> choice = ChoosePrefix(PrefixSearch{*folder, {}, {}}, &error);
    std::unique_ptr<COpenTarget> target =
        choice ? COpenTarget::OpenPrefix(*choice, options, &error) : nullptr;
    if (!target)
        fail(*folder);
    return target;
}

// Says what the registry files' reader noticed (a damaged line, a read-only file).
void ReportRegistryWarnings(COpenTarget& target, CUiSession& session) {
    CWinePrefixRegistry* registry = target.PrefixStore();
    if (!registry)
        return;
    for (const WineRegDiagnostic& diagnostic : registry->Diagnostics())
        std::cerr << "quillary: " << DescribeDiagnostic(diagnostic) << "\n";
    if (std::optional<std::string> warning = registry->ReadWarning())
        ShowMessage(session, nullptr, QString::fromStdString(*warning));
}

int Run(QApplication& application) {
    std::optional<Arguments> arguments = ParseArguments(QApplication::arguments());
    if (!arguments) {
        std::cerr << kUsage;
        return kExitBadArguments;
    }
    const std::filesystem::path executable = QApplication::applicationFilePath().toStdString();
    // A start without a mode shows the splash while the prefix is read.
    std::unique_ptr<QSplashScreen> splash;
    if (arguments->mode.empty()) {
        splash = std::make_unique<QSplashScreen>(AppIcon().pixmap(256, 256));
        splash->show();
        QApplication::processEvents();
    }

    CPosixFileIo startupFiles;
    std::unique_ptr<CLanguagePack> startupPack;
    const TextLookup startupText = StartupTexts(executable, startupFiles, startupPack);
    TargetOptions options{
        ProgramFoldersOfUser(executable), [](std::u16string_view message) {
            const QString text = ToQString(message);
            CallOnUiThread([&text] { QMessageBox::information(nullptr, QString(), text); });
        }};
    options.pacing = true;
    std::unique_ptr<COpenTarget> target = OpenChosenTarget(*arguments, startupText, options);
    if (!target)
        return kExitTargetUnavailable;

    const bool mayWrite = MayWritePrefix(target->Folder());
    CInstanceGuard guard(kInstanceName, DefaultInstanceFolder());
    StartupResult startup = StartUp(arguments->mode, guard, target->Context(), {mayWrite, true});
    if (startup.outcome != StartupOutcome::Run) {
        if (!guard.Error().empty())
            std::cerr << "quillary: " << guard.Error() << "\n";
        return kExitDone;
    }
    CUiSession session(*target, mayWrite, true);
    ReportRegistryWarnings(*target, session);
    for (const std::string& problem : startup.problems)
        ShowMessage(session, nullptr, QString::fromStdString(problem));

    CZANDlg window(session, startup.commandLine);
    if (!ListenForLaterInstances(guard, window))
        std::cerr << "quillary: later starts cannot reach this window: " << guard.Error() << "\n";
    // The packages of the system bring updates: an update-check start has nothing to show.
    if (startup.commandLine.updateCheck)
        return kExitDone;
    window.show();
    if (splash)
        splash->finish(&window);
    std::unique_ptr<CScreenshotTour> tour;
    if (!arguments->screenshots.isEmpty()) {
        tour = std::make_unique<CScreenshotTour>(window, arguments->screenshots);
        QObject::connect(tour.get(), &CScreenshotTour::finished, &window, [&window](bool ok) {
            window.close();
            QApplication::exit(ok ? kExitDone : kExitTargetUnavailable);
        });
        tour->Start();
    }
    const int status = QApplication::exec();

    for (const std::string& failure : target->Context().Exit(false))
        std::cerr << "quillary: " << failure << "\n";
    if (FileError failure = target->SaveConfig())
        std::cerr << "quillary: cannot save the program's settings: " << *failure << "\n";
    if (!window.PrefixToOpenNext().isEmpty()) {
        // The next instance starts once this one has let go of the instance claim.
        QProcess::startDetached(QApplication::applicationFilePath(),
                                {QStringLiteral("--prefix"), window.PrefixToOpenNext()});
    }
    (void)application;
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quillary"));
    QApplication::setApplicationVersion(QStringLiteral(QUILLARY_VERSION));
    QApplication::setWindowIcon(AppIcon());
    try {
        return Run(application);
    } catch (const std::exception& failure) {
        std::cerr << "quillary: unexpected error: " << failure.what() << "\n";
    }
    return 70;
}
