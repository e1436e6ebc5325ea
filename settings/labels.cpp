#include "settings/labels.h"

#include <cstring>

#include "settings/settings.h"

const LabelEntry LabelTable[] = {
    {"settings", L"Einstellungen", L"Settings"},
    {"general", L"Allgemein", L"General"},
    {"hotkeys", L"Tastenkombinationen", L"Hotkeys"},
    {"auto_copy_link", L"Link nach Hochladen automatisch kopieren", L"Auto-copy link after upload"},
    {"capture_cursor", L"Mauszeiger aufnehmen", L"Capture cursor"},
    {"remember_selection", L"Auswahl merken", L"Remember selection"},
    {"language", L"Sprache", L"Language"},
    {"german", L"Deutsch", L"German"},
    {"english", L"Englisch", L"English"},
    {"screenshot_hotkey", L"Screenshot erstellen", L"Take screenshot"},
    {"save", L"Speichern", L"Save"},
    {"cancel", L"Abbrechen", L"Cancel"},
    {"ctrl", L"Strg", L"Ctrl"},
    {"shift", L"Umschalt", L"Shift"},
    {"alt", L"Alt", L"Alt"},
    {nullptr, nullptr, nullptr},
};

const wchar_t* GetLabel(const char* key) {
  // The language is read at every call, so a saved change shows from the next lookup on.
  for (const LabelEntry* entry = LabelTable; entry->key; ++entry) {
    if (std::strcmp(entry->key, key) == 0) {
      return AppSettings.Language != 0 ? entry->english : entry->german;
    }
  }
  return L"???";
}
