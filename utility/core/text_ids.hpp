// Ids of the language library's texts, by what they are (the table with the
// texts is utility/brlang/strings_en.txt).
//
// Every id the program asks for is named here once, with the one meaning its
// text has: an id given a second meaning shows the wrong words wherever the
// first is used (a failed restore once read "Stop Waiting"). The texts test
// reads this list and fails on an id under two names, a name without a text
// and a text without a name.
#pragma once

#include <cstdint>

namespace vtutil::ids {

// Menus (top level by position: File, Edit, View, Device, Help).
inline constexpr uint32_t kMenuFile = 1;
inline constexpr uint32_t kMenuBackupData = 2;
inline constexpr uint32_t kMenuRestoreData = 3;
inline constexpr uint32_t kMenuAutomaticBackup = 4;
inline constexpr uint32_t kMenuExit = 5;
inline constexpr uint32_t kMenuEdit = 6;
inline constexpr uint32_t kMenuSelectAll = 7;
inline constexpr uint32_t kMenuClearAll = 8;
inline constexpr uint32_t kMenuView = 9;
inline constexpr uint32_t kMenuAbout = 10;
inline constexpr uint32_t kMenuRefresh = 11;
inline constexpr uint32_t kMenuDevice = 12;
inline constexpr uint32_t kMenuDeviceDiscovery = 13;
inline constexpr uint32_t kMenuDeviceSettings = 14;
inline constexpr uint32_t kMenuHelp = 24;
inline constexpr uint32_t kMenuInitialiseStorage = 120;
inline constexpr uint32_t kMenuViewLog = 515;

// Buttons and titles.
inline constexpr uint32_t kOk = 15;
inline constexpr uint32_t kCancel = 26;
inline constexpr uint32_t kBrowse = 36;
inline constexpr uint32_t kMainTitle = 19;
inline constexpr uint32_t kBackupPageTitle = 17;
inline constexpr uint32_t kRestorePageTitle = 20;
inline constexpr uint32_t kBackupFileGroup = 21;
inline constexpr uint32_t kStartBackup = 177;
inline constexpr uint32_t kStartRestore = 178;
inline constexpr uint32_t kBoxesHeader = 37;
inline constexpr uint32_t kSizeHeader = 38;

// Login and device choice.
inline constexpr uint32_t kLoginTitle = 33;
inline constexpr uint32_t kLoginLabel = 32;
inline constexpr uint32_t kDeviceChoiceTitle = 22;
inline constexpr uint32_t kAddressHeader = 27;
inline constexpr uint32_t kNameHeader = 28;
inline constexpr uint32_t kModelHeader = 30;
inline constexpr uint32_t kLocationHeader = 31;

// The program's own file viewers.
inline constexpr uint32_t kHelpTitle = 512;
inline constexpr uint32_t kLogTitleViewer = 513;
inline constexpr uint32_t kViewerFile = 514;
inline constexpr uint32_t kViewerClose = 516;
inline constexpr uint32_t kViewerNoFile = 517;

// About box.
inline constexpr uint32_t kAboutTitle = 97;
inline constexpr uint32_t kAboutProduct = 29;
inline constexpr uint32_t kAboutVersion = 100;
inline constexpr uint32_t kAboutPurpose = 16;
inline constexpr uint32_t kAboutCopyright = 99;
inline constexpr uint32_t kAboutHolder = 101;

// Status bar.
inline constexpr uint32_t kStatusReady = 34;
inline constexpr uint32_t kStatusRefreshing = 110;
inline constexpr uint32_t kStatusInitialising = 111;
inline constexpr uint32_t kStatusNotConnected = 506;
inline constexpr uint32_t kMainTitleWithDevice = 504;
inline constexpr uint32_t kDeviceNameAndAddress = 505;
inline constexpr uint32_t kInitialiseWhichDevice = 507;

// Captions and messages.
inline constexpr uint32_t kCaptionError = 88;
inline constexpr uint32_t kCaptionInitialise = 89;
inline constexpr uint32_t kMsgNoDevice = 59;
inline constexpr uint32_t kMsgChooseDevice = 60;
inline constexpr uint32_t kMsgConfirmInitialise = 63;
inline constexpr uint32_t kMsgNotReleased = 118;
inline constexpr uint32_t kSomeError = 114;
inline constexpr uint32_t kMsgInstanceLockFailed = 502;

// Texts of the engine's result codes (error_text.cpp); a few are messages too.
inline constexpr uint32_t kErrorNoAnswer = 67;
inline constexpr uint32_t kErrorWrongPassword = 68;
inline constexpr uint32_t kErrorDeviceInUse = 103;
inline constexpr uint32_t kErrorDeviceBusy = 115;
inline constexpr uint32_t kErrorNoWebSession = 116;
inline constexpr uint32_t kErrorTimeout = 117;
inline constexpr uint32_t kErrorNoAnswerWhatToCheck = 125;
inline constexpr uint32_t kErrorDiskFull = 126;
inline constexpr uint32_t kErrorUnusableReply = 128;
inline constexpr uint32_t kErrorNoMemory = 131;
inline constexpr uint32_t kErrorNotConnected = 132;
inline constexpr uint32_t kErrorAccessDenied = 136;
inline constexpr uint32_t kErrorAlreadyExists = 137;
inline constexpr uint32_t kErrorNoDeviceSpace = 142;
inline constexpr uint32_t kErrorPathNotFound = 503;

// Backup and restore jobs: the pages' checks.
inline constexpr uint32_t kMsgTickABox = 61;
inline constexpr uint32_t kMsgNotZip = 64;
inline constexpr uint32_t kMsgFolderReadOnly = 65;
inline constexpr uint32_t kMsgFolderNotMade = 66;
inline constexpr uint32_t kMsgFileExists = 74;
inline constexpr uint32_t kMsgNameUnusable = 75;
inline constexpr uint32_t kMsgNotBackupFile = 102;
inline constexpr uint32_t kMsgOtherEngineVersion = 138;
inline constexpr uint32_t kMsgCreateFolder = 139;
inline constexpr uint32_t kMsgEngineTooNew = 140;
inline constexpr uint32_t kMsgNetworkPath = 179;
inline constexpr uint32_t kMsgNotFullPath = 180;
inline constexpr uint32_t kMsgRefusedCharacters = 181;
inline constexpr uint32_t kMsgFolderNotExamined = 418;
inline constexpr uint32_t kCaptionAutomatic = 39;
inline constexpr uint32_t kTotalLabel = 107;
inline constexpr uint32_t kBackupMadeOn = 508;
inline constexpr uint32_t kBackupEngineVersion = 509;
inline constexpr uint32_t kBackupMacAddress = 510;
inline constexpr uint32_t kBothEngineVersions = 511;

// Backup file dialog: the free-space line.
inline constexpr uint32_t kFreeSpaceOn = 81;
inline constexpr uint32_t kFreeSpaceIs = 82;

// Restore mode dialog.
inline constexpr uint32_t kRestoreModeTitle = 83;
inline constexpr uint32_t kRestoreModeQuestion = 84;
inline constexpr uint32_t kRestoreModeReplace = 85;
inline constexpr uint32_t kRestoreModeKeepBoth = 86;
inline constexpr uint32_t kRestoreModeGroup = 87;

// Progress dialog.
inline constexpr uint32_t kCaptionBackup = 43;
inline constexpr uint32_t kBackingUpTitle = 44;
inline constexpr uint32_t kBackupStarting = 45;
inline constexpr uint32_t kRestoreStarting = 46;
inline constexpr uint32_t kCaptionRestore = 47;
inline constexpr uint32_t kRestoringTitle = 48;
inline constexpr uint32_t kAskCancelBackup = 49;
inline constexpr uint32_t kAskCancelRestore = 50;
inline constexpr uint32_t kCaptionCancel = 108;
inline constexpr uint32_t kDocumentsLine = 113;
inline constexpr uint32_t kFiguresElapsed = 419;
inline constexpr uint32_t kFiguresTimeLeft = 420;
inline constexpr uint32_t kFiguresSpeed = 421;
// Phase texts: phases 1 to 5, then 7 and 8 (phase 6 shows an empty line).
inline constexpr uint32_t kPhasePacking = 90;
inline constexpr uint32_t kPhaseUnpacking = 91;
inline constexpr uint32_t kPhaseDownloading = 92;
inline constexpr uint32_t kPhaseUploading = 93;
inline constexpr uint32_t kPhasePreparing = 94;
inline constexpr uint32_t kPhaseTidying = 95;
inline constexpr uint32_t kPhaseFailed = 96;

// Outcomes of a job and the result dialog.
inline constexpr uint32_t kBackupFinished = 51;
inline constexpr uint32_t kBackupFailed = 52;
inline constexpr uint32_t kBackupCancelled = 53;
inline constexpr uint32_t kRestoreFinished = 54;
inline constexpr uint32_t kRestoreFailed = 55;
inline constexpr uint32_t kRestoreCancelled = 56;
inline constexpr uint32_t kTooManyDocuments = 175;
inline constexpr uint32_t kTooManyFolders = 176;
inline constexpr uint32_t kViewLogFile = 150;
inline constexpr uint32_t kShowDetails = 621;
inline constexpr uint32_t kHideDetails = 622;
inline constexpr uint32_t kBoxesDeletedStopped = 171;
inline constexpr uint32_t kRetryPlanned = 172;
inline constexpr uint32_t kRetriesUsedUp = 173;
inline constexpr uint32_t kDeviceNotReleased = 501;

// Automatic backup: the set-up dialog, the waiting main window, stopping.
inline constexpr uint32_t kStopAutomatic = 35;
inline constexpr uint32_t kStartTimeGroup = 40;
inline constexpr uint32_t kRepeatGroup = 41;
inline constexpr uint32_t kSet = 42;
inline constexpr uint32_t kMsgStartTooLate = 57;
inline constexpr uint32_t kMsgStartPassed = 58;
inline constexpr uint32_t kMsgNeedZipAndLogin = 62;
inline constexpr uint32_t kMsgAskStopAutomatic = 98;
inline constexpr uint32_t kMsgExitDuringSchedule = 121;
inline constexpr uint32_t kCaptionExit = 141;
// Repeat list entries, in list order (once, daily, weekly, monthly).
inline constexpr uint32_t kRepeatOnce = 143;
inline constexpr uint32_t kRepeatDaily = 144;
inline constexpr uint32_t kRepeatWeekly = 145;
inline constexpr uint32_t kRepeatMonthly = 146;
inline constexpr uint32_t kDeletedBoxesGroup = 147;
inline constexpr uint32_t kGoOnWithOthers = 148;
inline constexpr uint32_t kStopTheSchedule = 149;
inline constexpr uint32_t kNextBackup = 174;
// The schedule handed to the system, run with the program closed.
inline constexpr uint32_t kOnlyWhileOpen = 519;
inline constexpr uint32_t kRunWithProgramClosed = 520;
inline constexpr uint32_t kNoSystemSchedule = 521;
inline constexpr uint32_t kAlreadyWithProgramClosed = 522;
inline constexpr uint32_t kRemove = 523;
inline constexpr uint32_t kMsgReplaceSystemSchedule = 524;
inline constexpr uint32_t kMsgSystemScheduleSet = 525;
inline constexpr uint32_t kMsgSystemScheduleFailed = 526;
inline constexpr uint32_t kMenuSystemSchedule = 527;
inline constexpr uint32_t kNoneWithProgramClosed = 528;
inline constexpr uint32_t kSystemScheduleText = 529;
inline constexpr uint32_t kSystemScheduleTitle = 530;
inline constexpr uint32_t kMsgSystemScheduleNotRemoved = 531;
// The schedule's own result window and set-up.
inline constexpr uint32_t kScheduleStopped = 550;
inline constexpr uint32_t kRunsWithProgramClosed = 551;
inline constexpr uint32_t kMsgSystemScheduleKept = 552;
inline constexpr uint32_t kSystemScheduleLastRun = 553;
inline constexpr uint32_t kSystemScheduleNoRunYet = 554;
inline constexpr uint32_t kSystemScheduleNextRun = 555;
inline constexpr uint32_t kSystemScheduleNextUnknown = 556;
inline constexpr uint32_t kMsgRemoveSystemSchedule = 557;

// The release of the device at a job's end.
inline constexpr uint32_t kReleasingAccount = 400;
inline constexpr uint32_t kReleasingLock = 401;
inline constexpr uint32_t kReleaseWaiting = 402;
inline constexpr uint32_t kStopWaiting = 403;
inline constexpr uint32_t kNotReleased = 404;
inline constexpr uint32_t kNotReleasedWhatToDo = 405;
inline constexpr uint32_t kKeptWorkFolder = 406;
inline constexpr uint32_t kMsgReleaseLeftJob = 407;

// A restore that ended part-way.
inline constexpr uint32_t kPartialRestore = 408;
inline constexpr uint32_t kPartialRestoreWhatToDo = 409;

// Show Details of a failure.
inline constexpr uint32_t kErrorCodeLine = 410;
inline constexpr uint32_t kWorkFolderNotMade = 411;
inline constexpr uint32_t kJobLocking = 650;
inline constexpr uint32_t kJobMakingAccount = 651;
inline constexpr uint32_t kJobCounting = 652;
inline constexpr uint32_t kJobDeviceDidNotAnswer = 653;
inline constexpr uint32_t kCancelledReleased = 654;
inline constexpr uint32_t kFolderLine = 412;

// What a finished job did.
inline constexpr uint32_t kSummaryFile = 413;
inline constexpr uint32_t kSummarySize = 414;
inline constexpr uint32_t kSummaryBoxes = 415;
inline constexpr uint32_t kSummaryReplacedAdded = 416;
inline constexpr uint32_t kSummaryTime = 417;

// The restore page's chooser of documents.
inline constexpr uint32_t kChooseDocuments = 600;
inline constexpr uint32_t kChooserTitle = 601;
inline constexpr uint32_t kChooserFilter = 602;
inline constexpr uint32_t kPagesHeader = 603;
inline constexpr uint32_t kDateHeader = 604;
inline constexpr uint32_t kChooserSummary = 605;
inline constexpr uint32_t kChooserSelectAll = 606;
inline constexpr uint32_t kChooserClearAll = 607;
inline constexpr uint32_t kChosenDocuments = 608;
inline constexpr uint32_t kMsgDocumentsNotRead = 609;
inline constexpr uint32_t kMsgDocumentsDamaged = 610;

// The log of automatic backup.
inline constexpr uint32_t kLogTitle = 151;
inline constexpr uint32_t kLogSchedule = 152;
inline constexpr uint32_t kLogDeviceName = 153;
inline constexpr uint32_t kLogDeviceAddress = 154;
inline constexpr uint32_t kLogDeletedPolicy = 155;
inline constexpr uint32_t kLogBoxColumn = 157;
inline constexpr uint32_t kLogNameColumn = 158;
inline constexpr uint32_t kLogRun = 159;
inline constexpr uint32_t kLogStarted = 160;
inline constexpr uint32_t kLogBoxes = 161;
inline constexpr uint32_t kLogDeletedBoxes = 162;
inline constexpr uint32_t kLogSize = 163;
inline constexpr uint32_t kLogFinished = 164;
inline constexpr uint32_t kLogStopped = 165;
inline constexpr uint32_t kLogFailed = 166;
inline constexpr uint32_t kLogFailedRetry = 167;
inline constexpr uint32_t kLogScheduleEnded = 168;
inline constexpr uint32_t kLogEndedAt = 169;
inline constexpr uint32_t kLogTotalSize = 170;
inline constexpr uint32_t kLogNumberTaken = 500;
inline constexpr uint32_t kLogSessionLeft = 620;

// The wait dialog of a device call that is slow to answer.
inline constexpr uint32_t kWaitDeviceTitle = 630;
inline constexpr uint32_t kWaitConnect = 631;
inline constexpr uint32_t kWaitLogin = 632;
inline constexpr uint32_t kWaitBoxList = 633;
inline constexpr uint32_t kWaitClose = 634;
inline constexpr uint32_t kWaitLock = 635;
inline constexpr uint32_t kWaitDeleteAll = 636;
inline constexpr uint32_t kWaitUnlock = 637;
inline constexpr uint32_t kWaitStopping = 638;
inline constexpr uint32_t kMsgDeviceDidNotAnswer = 639;
inline constexpr uint32_t kMsgInitialiseStopped = 640;
inline constexpr uint32_t kWaitEndSession = 655;

// The window of recent jobs and the recent files under the restore page's
// Browse.
inline constexpr uint32_t kMenuRecentJobs = 700;
inline constexpr uint32_t kRecentJobsTitle = 701;
// Recent jobs window: a header per column.
inline constexpr uint32_t kRecentWhenHeader = 702;
inline constexpr uint32_t kRecentJobHeader = 703;
inline constexpr uint32_t kRecentDeviceHeader = 704;
inline constexpr uint32_t kRecentBoxesHeader = 705;
inline constexpr uint32_t kRecentFileHeader = 706;
inline constexpr uint32_t kRecentSizeHeader = 707;
inline constexpr uint32_t kRecentDocumentsHeader = 708;
inline constexpr uint32_t kRecentOutcomeHeader = 709;
inline constexpr uint32_t kRecentTimeTakenHeader = 710;
inline constexpr uint32_t kRecentReasonHeader = 711;
inline constexpr uint32_t kRecentBackupJob = 712;
inline constexpr uint32_t kRecentRestoreJob = 713;
inline constexpr uint32_t kRecentByHand = 714;
inline constexpr uint32_t kRecentBySchedule = 715;
inline constexpr uint32_t kRecentByVtbox = 716;
inline constexpr uint32_t kRecentFinished = 717;
inline constexpr uint32_t kRecentFailed = 718;
inline constexpr uint32_t kRecentCancelled = 719;
inline constexpr uint32_t kRecentPartial = 720;
inline constexpr uint32_t kRecentNotReleased = 721;
inline constexpr uint32_t kRecentOpenFolder = 722;
inline constexpr uint32_t kRecentRestore = 723;
inline constexpr uint32_t kRecentNoJobs = 724;
inline constexpr uint32_t kRecentUnreadable = 725;
inline constexpr uint32_t kRecentFileGone = 726;
inline constexpr uint32_t kRecentNoOpener = 727;
inline constexpr uint32_t kBrowseOtherFile = 728;

}  // namespace vtutil::ids
