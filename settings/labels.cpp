#include "settings/labels.h"

#include <cstring>
#include <cwchar>

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
    {"save_history", L"Verlauf speichern", L"Save history"},
    {"capture_delay", L"Verzögerung (Sekunden)", L"Delay (seconds)"},
    {"upload_url", L"Upload-Adresse", L"Upload address"},
    {"upload_key", L"Upload-Schlüssel", L"Upload key"},
    {"history", L"Verlauf", L"History"},
    {"history_clear", L"Verlauf leeren", L"Clear history"},
    {"history_empty", L"Keine Einträge", L"No entries"},
    {"history_off", L"Verlauf ist ausgeschaltet", L"History is switched off"},
    {"history_copy_link", L"Link kopieren", L"Copy link"},
    {"history_open_link", L"Im Browser öffnen", L"Open in browser"},
    {"history_delete", L"Vom Server löschen", L"Delete from server"},
    {"history_deleted", L"Vom Server gelöscht", L"Deleted from the server"},
    {"history_delete_question", L"Diesen Screenshot vom Server löschen?",
     L"Delete this screenshot from the server?"},
    {"history_open", L"Öffnen", L"Open"},
    {"history_show", L"Im Ordner anzeigen", L"Show in folder"},
    {"history_copy_again", L"Erneut kopieren", L"Copy again"},
    {"delayed_capture", L"Screenshot in %d Sekunden", L"Screenshot in %d seconds"},
    {"delayed_capture_one", L"Screenshot in 1 Sekunde", L"Screenshot in 1 second"},
    {"bad_upload_key", L"Der Upload-Schlüssel darf nur Buchstaben, Ziffern und Satzzeichen ohne Leerzeichen enthalten.",
     L"The upload key may hold only letters, digits and punctuation, without blanks."},
    {"bad_upload_url", L"Die Upload-Adresse muss mit https:// beginnen und einen Server nennen.",
     L"The upload address must start with https:// and name a server."},
    {"pin_copy", L"Kopieren", L"Copy"},
    {"pin_save", L"Speichern unter...", L"Save as..."},
    {"pin_close", L"Schließen", L"Close"},
    {"pin_close_all", L"Alle schließen", L"Close all"},
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

std::wstring DelayedCaptureText(int seconds) {
  if (seconds == 1) return GetLabel("delayed_capture_one");
  wchar_t text[64];
  swprintf(text, 64, GetLabel("delayed_capture"), seconds);
  return text;
}
