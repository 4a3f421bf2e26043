#pragma once

// The commands the windows of the program send one another, by the numbers the flows are
// described with, so that a flow can be followed from its description to its handler. A
// command is posted to one window (the main window or a page) and handled there after the
// events already pending, as a posted window message is.

namespace quillary::ui {

enum class CommandId : int {
    // Main window: navigation and what the engine asks of it.
    ShowHome = 381,
    ShowScanPage = 384,
    ShowOptimizePage = 386,
    ShowBackupPage = 388,
    ShowSettingsPage = 390,
    HelpMenu = 395,
    About = 398,
    Tutorial = 401,
    ShowScanProgress = 1124,
    ShowCompaction = 1144,
    ScanFinished = 1134,
    Repair = 1154,
    CleaningDone = 1184,
    Nothing = 1174,
    AboutFromMenu = 2007,
    TutorialFromMenu = 2009,
    Help = 2011,
    Feedback = 2016,
    CheckForUpdates = 32784,
    SelectLanguage = 32786,
    CaptionMinimize = 5001,
    CaptionMaximize = 5002,
    CaptionClose = 5003,

    // Status page and scan page.
    OneClick = 404,
    StartScan = 407,
    Optimize = 409,
    RegistryStatus = 1055,
    ViewUnfixed = 468,

    // Scan progress page and its stop confirmation.
    BeginScan = 282,
    StopScan = 288,
    AbortScan = 1292,
    ContinueScan = 1322,

    // Results page and problem list.
    ExportReport = 1056,
    AddToIgnore = 480,
    CopyProblem = 482,
    GoToKey = 483,
    ToggleTick = 484,
    SelectAll = 485,
    DeselectAll = 486,
    InvertSelection = 487,
    SelectAllBox = 466,

    // Cleaning page.
    BeginCleaning = 1164,
    StopCleaning = 422,
};

}  // namespace quillary::ui
