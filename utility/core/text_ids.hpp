// Ids of the language library's texts, by what they are (the table with the
// texts is utility/brlang/strings_en.txt).
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

// Captions and messages.
inline constexpr uint32_t kCaptionError = 88;
inline constexpr uint32_t kCaptionInitialise = 89;
inline constexpr uint32_t kMsgNoDevice = 59;
inline constexpr uint32_t kMsgChooseDevice = 60;
inline constexpr uint32_t kMsgConfirmInitialise = 63;
inline constexpr uint32_t kMsgNotReleased = 118;
inline constexpr uint32_t kSomeError = 114;

}  // namespace vtutil::ids
