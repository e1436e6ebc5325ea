#include "upload/upload_worker.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "app/win_handles.h"

namespace {

constexpr wchar_t kLink[] = L"https://img.example/Gr\u00FC\u00DFe.png";

TEST(SuccessBalloonText, ConfirmsTheCopyOrCarriesTheLinkItself) {
  EXPECT_EQ(SuccessBalloonText(true, true, kLink), L"Link in Zwischenablage kopiert!");
  // Not copied, by choice or because the clipboard was busy: the balloon is the only place
  // where the user can still read the link.
  EXPECT_EQ(SuccessBalloonText(false, false, kLink), std::wstring(L"Upload erfolgreich:\n") + kLink);
  EXPECT_EQ(SuccessBalloonText(true, false, kLink),
            std::wstring(L"Link konnte nicht in die Zwischenablage kopiert werden:\n") + kLink);
}

// A hidden top-level window to own the clipboard, as the progress window does.
UniqueWindow MakeOwner() {
  return UniqueWindow(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr,
                                      GetModuleHandleW(nullptr), nullptr));
}

std::wstring ClipboardText() {
  const ClipboardGuard clipboard(nullptr);
  if (!clipboard.isOpen()) return L"<closed>";
  const HANDLE data = GetClipboardData(CF_UNICODETEXT);
  if (!data) return L"<none>";
  const auto* text = static_cast<const wchar_t*>(GlobalLock(data));
  std::wstring result = text ? text : L"";
  GlobalUnlock(data);
  return result;
}

bool ClipboardHasFormat(UINT format) {
  const ClipboardGuard clipboard(nullptr);
  return clipboard.isOpen() && IsClipboardFormatAvailable(format);
}

void PutTextAndPrivateFormat(HWND owner, const std::wstring& text, UINT privateFormat) {
  const ClipboardGuard clipboard(owner);
  ASSERT_TRUE(clipboard.isOpen());
  EmptyClipboard();
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
  memcpy(GlobalLock(memory), text.c_str(), bytes);
  GlobalUnlock(memory);
  SetClipboardData(CF_UNICODETEXT, memory);
  HGLOBAL extra = GlobalAlloc(GMEM_MOVEABLE, 4);
  SetClipboardData(privateFormat, extra);
}

TEST(CopyTextToClipboard, ReplacesEverythingWithTheLinkAsUnicodeText) {
  const UniqueWindow owner = MakeOwner();
  ASSERT_TRUE(owner);
  const UINT privateFormat = RegisterClipboardFormatW(L"SnapwrenTestFormat");
  PutTextAndPrivateFormat(owner.get(), L"vorher", privateFormat);
  ASSERT_TRUE(ClipboardHasFormat(privateFormat));

  EXPECT_TRUE(CopyTextToClipboard(owner.get(), kLink));
  EXPECT_EQ(ClipboardText(), kLink);
  EXPECT_FALSE(ClipboardHasFormat(privateFormat));
}

TEST(CopyTextToClipboard, LeavesABusyClipboardAsItIsAndSaysSo) {
  const UniqueWindow owner = MakeOwner();
  ASSERT_TRUE(owner);
  const UINT privateFormat = RegisterClipboardFormatW(L"SnapwrenTestFormat");
  PutTextAndPrivateFormat(owner.get(), L"vorher", privateFormat);

  // Another program holds the clipboard open for longer than the copy is willing to wait.
  HANDLE opened = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread holder([&] {
    const UniqueWindow other = MakeOwner();
    const ClipboardGuard clipboard(other.get());
    SetEvent(opened);
    WaitForSingleObject(release, 5000);
  });
  ASSERT_EQ(WaitForSingleObject(opened, 5000), WAIT_OBJECT_0);

  const ULONGLONG started = GetTickCount64();
  const bool copied = CopyTextToClipboard(owner.get(), kLink);
  const ULONGLONG waited = GetTickCount64() - started;
  SetEvent(release);
  holder.join();
  CloseHandle(opened);
  CloseHandle(release);

  EXPECT_FALSE(copied);
  EXPECT_LT(waited, 1000u);
  EXPECT_EQ(ClipboardText(), L"vorher");
  EXPECT_TRUE(ClipboardHasFormat(privateFormat));
}

}  // namespace
