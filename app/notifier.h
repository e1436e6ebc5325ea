// How features tell the user things without knowing the tray: a balloon on Snapwren's icon, and
// (app.h's OwnerWindow) the window that owns their message boxes.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Receives each balloon's title and message, already cut to fit.
using BalloonSink = std::function<void(const std::wstring& title, const std::wstring& message)>;

// A balloon on the tray icon; the title is cut to 63 and the message to 255 UTF-16 units.
void ShowTrayNotification(const std::wstring& title, const std::wstring& message);
// Sends balloons to sink instead of the tray icon (an empty sink restores the icon); for tests.
void SetBalloonSink(BalloonSink sink);
// At most maxLength UTF-16 units of text, never ending in half of a surrogate pair.
std::wstring TruncateUtf16(const std::wstring& text, size_t maxLength);
