// The history of recent results: kept in %LOCALAPPDATA%\Snapwren\history, shown in the tray menu.
// Everything here runs on the UI thread; pictures are written, read and scaled on workers, which
// report to the tray window.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "app/win_handles.h"
#include "history/history_index.h"

// Menu ids of the history's submenu, which stay clear of the tray menu's own.
constexpr UINT IDM_HISTORY_CLEAR = 99;
constexpr UINT IDM_HISTORY_FIRST = 100;
constexpr UINT IDM_HISTORY_LAST = IDM_HISTORY_FIRST + 8 * kMaxHistoryEntries - 1;

std::wstring GetHistoryFolder();
// Reads the index of folder; a damaged or foreign one is set aside and the history is empty.
void LoadHistory(const std::wstring& folder);

// Each records a result when the settings keep a history; the picture is the history's from now.
void RecordCopied(UniqueBitmap picture);
void RecordSaved(UniqueBitmap picture, const std::wstring& path);
void RecordSavedPng(std::vector<BYTE> png, const std::wstring& path);
void RecordUploaded(std::vector<BYTE> png, const std::wstring& link, const std::wstring& deleteUrl);
// Removes every entry with its picture.
void ClearHistory();
const std::vector<HistoryEntry>& HistoryEntries();

// The tray window's messages from the history's workers.
void OnHistoryMessage(UINT message, LPARAM lParam);
// Appends "Verlauf" with its submenu; the menu must be destroyed before the history changes.
void AppendHistoryMenu(HMENU menu);
void RunHistoryCommand(UINT command);
