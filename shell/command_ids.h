#pragma once
// Command ids of the menu, the toolbar and the help topics.

namespace tolvan::cmd {

inline constexpr int kLoadArchive = 11840;
inline constexpr int kComPortSettings = 11842;
inline constexpr int kProgramSerialNo = 11843;
inline constexpr int kTempCompRead = 11844;
inline constexpr int kTempCompWrite = 11845;
inline constexpr int kReadSerialNo = 11846;
inline constexpr int kProgramCodeplug = 11847;
inline constexpr int kExit = 24310;
inline constexpr int kHelpContents = 2001;
inline constexpr int kHelpUsing = 2002;
inline constexpr int kHelpAbout = 2009;

// Hint ids of the three popups, which have no command of their own.
inline constexpr int kOperationsMenu = 11839;
inline constexpr int kCommunicationMenu = 11841;
inline constexpr int kHelpMenu = 2000;
// Hint only: nothing sends it.
inline constexpr int kAuthoring = 2008;

// The edit commands of the text view's accelerators.
inline constexpr int kEditUndo = 24321;
inline constexpr int kEditCut = 24322;
inline constexpr int kEditCopy = 24323;
inline constexpr int kEditPaste = 24324;
inline constexpr int kEditClear = 24326;
inline constexpr int kEditFindNext = 24353;

inline constexpr int kMenuResource = 100;
inline constexpr int kToolbarId = 32041;

}  // namespace tolvan::cmd
