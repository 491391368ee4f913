#pragma once
// The lobby's side of a run: another updater already on the screen, and the hand-back once a run
// has ended.

#include "app/Startup.h"

// The title every updater's window has, by which a second one finds the first.
inline constexpr const char* kUpdaterWindowTitle = "KesuUpdate";

// Brings an updater window that is already on the screen to the front; false when there is none.
bool BringOtherUpdaterForward();

// A named update was asked for by a running lobby: it is told. The lobby's own update restarts
// the lobby, naming the updater's set-aside copy. Neither is checked: the updater has nothing
// left to do if they fail.
void HandBackToLobby(const StartupValues& values);
