// The magnifier beside the pointer until the selection exists, and the colour it names.
#include "overlay/magnifier.h"
#include "unit/support.h"

TEST(MagnifierRuleTest, SitsBelowRightOfThePointerFlipsAtItsMonitorsEdgesAndNamesColours) {
  // 15 pixels of 8 in a 1-pixel frame above a 36-pixel band, 20 pixels from the pointer: 122 x
  // 158; at 144 DPI 12, 2, 54 and 30: 184 x 238. Only the pointer's monitor counts.
  static const RECT full = {0, 0, 1920, 1080}, right = {1920, 0, 3200, 1024}, tiny = {0, 0, 150, 150};
  const struct { POINT pointer; RECT monitor; UINT dpi; const char* rect; } cases[] = {
      {{100, 100}, full, 96, "120,120,242,278"}, {{1778, 100}, full, 96, "1798,120,1920,278"},
      {{1779, 100}, full, 96, "1637,120,1759,278"}, {{100, 902}, full, 96, "120,922,242,1080"},
      {{100, 903}, full, 96, "120,725,242,883"}, {{3100, 500}, right, 96, "2958,520,3080,678"},
      {{70, 70}, tiny, 96, "0,0,122,158"}, {{100, 100}, full, 144, "130,130,314,368"},
      {{1710, 900}, full, 144, "1496,632,1680,870"}};
  for (const auto& c : cases) {
    EXPECT_EQ(Str(MagnifierRect(c.pointer, c.monitor, c.dpi)), c.rect) << c.pointer.x << " " << c.dpi;
  }
  EXPECT_EQ(FormatColour(RGB(1, 171, 255)), L"#01ABFF");
  EXPECT_EQ(FormatColour(RGB(0, 0, 0)), L"#000000");
}

class MagnifierTest : public EditorFixture {
 protected:
  void SetUp() override { EditorFixture::SetUp(), OpenOverlay(false); }
  void Hover(POINT p) { Run(L"hover " + std::to_wstring(p.x) + L" " + std::to_wstring(p.y)); }
};

TEST_F(MagnifierTest, ShowsTheFrozenPixelsEnlargedAtEachDpiAndGoesWithTheSelection) {
  // The centre pixel's square from the magnifier's corner, and its side: 1 + 7 x 8 and 8 at 96
  // DPI, 2 + 7 x 12 and 12 at 144. Beyond the screen's edge the squares are black.
  const struct { UINT dpi; int offset, zoom; } scales[] = {{96, 57, 8}, {144, 86, 12}};
  const POINT cells[] = {{0, 0}, {3, -2}, {-7, 7}, {-5, -6}};
  for (const auto& s : scales) {
    for (const POINT p : {POINT{400, 300}, POINT{2, 3}}) {
      Hover(p);
      State().Dpi = s.dpi;
      const RECT box = MagnifierRect(p, State().PointerMonitor, s.dpi);
      const auto frame = Paint();
      for (const POINT c : cells) {
        const int x = p.x + c.x, y = p.y + c.y;
        const DWORD screen = x >= 0 && y >= 0 ? PatternAt(x, y) : 0;
        const LONG left = box.left + s.offset + c.x * s.zoom, top = box.top + s.offset + c.y * s.zoom;
        const RECT square = {left, top, left + s.zoom, top + s.zoom};
        EXPECT_EQ(frame->Count(square, [&](DWORD shown) { return shown != screen; }), 0)
            << s.dpi << " at " << x << "," << y;
      }
    }
  }
  // (20 + 400 x 7 % 200, 20 + 300 x 5 % 200, 20 + 700 x 3 % 200)
  EXPECT_EQ(FormatColour(ScreenColourAt(session_->Screen(), {400, 300})), L"#147878");
  Run(L"drag 100 100 400 300");
  const RECT gone = MagnifierRect({400, 300}, State().PointerMonitor, State().Dpi);
  EXPECT_EQ(Paint()->Count(gone, [](DWORD p) { return p == Rgb(255, 182, 193); }), 0);
}

TEST_F(MagnifierTest, CCopiesTheColourUnderThePointerAsTextUntilTheSelectionExists) {
  const BalloonRecorder balloons;
  Run(L"hover 400 300, C");
  std::wstring copied;
  {
    const ClipboardGuard clipboard(nullptr);
    const HANDLE text = GetClipboardData(CF_UNICODETEXT);
    if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(text))) copied = chars;
    GlobalUnlock(text);
  }
  EXPECT_EQ(copied, L"#147878");
  EXPECT_EQ(balloons.Last(), L"Snapwren|Farbe kopiert: #147878");
  Run(L"drag 100 100 300 250, hover 150 150, C");
  EXPECT_EQ(balloons.shown.size(), 1u);
}
