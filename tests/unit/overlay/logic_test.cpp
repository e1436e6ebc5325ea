#include <climits>
#include "overlay/crosshair_cursor.h"
#include "unit/support.h"

TEST(EditorRuleTest, DragsMoveTheirOwnEdgesButtonsHandlesAndLabelsSitAndAnswerAsRulesSay) {
  using D = DragMode;
  const struct { DragMode mode; const char* rect; } drags[] = {{D::Move, "110,95,410,295"},
      {D::TopLeft, "110,95,400,300"}, {D::Top, "100,95,400,300"}, {D::TopRight, "100,95,410,300"},
      {D::Right, "100,100,410,300"}, {D::BottomRight, "100,100,410,295"},
      {D::Bottom, "100,100,400,295"}, {D::BottomLeft, "110,100,400,295"},
      {D::Left, "110,100,400,300"}, {D::None, "100,100,400,300"}};
  for (const auto& c : drags) {
    EXPECT_EQ(Str(ApplyDrag(c.mode, {100, 100, 400, 300}, 10, -5)), c.rect);
  }
  // On 1920 x 1080 the column of seven 28-pixel tools, 208 high, starts at the top or 10, flips
  // left at 1881; the row goes above at 1041 and inside at a top of 39; both follow off screen.
  // At 144 and 192 DPI every size is 1.5 and 2 times as large; only the selection's monitor
  // counts (here 1280 x 1024, or 1024 high from 200 down).
  const RECT o = {100, 100, 400, 300}, off = {-500, -300, -200, -100};
  static const RECT full = {0, 0, 1920, 1080}, small = {0, 0, 1280, 1024},
                    low = {0, 200, 1280, 1224}, right = {1920, 0, 3200, 1024};
  const struct { RECT selection; Id button; const char* rect; UINT dpi = 96; RECT monitor = full; }
      cases[] = {
      {o, Id::Pen, "412,100,440,128"}, {o, Id::Undo, "412,250,440,278"},
      {o, Id::Color, "412,280,440,308"}, {o, Id::Copy, "282,312,310,340"},
      {o, Id::Close, "372,312,400,340"}, {{100, 100, 400, 700}, Id::Pen, "412,492,440,520"},
      {{100, 5, 400, 45}, Id::Pen, "412,10,440,38"},
      {{100, 500, 400, 540}, Id::Pen, "412,500,440,528"},
      {{1500, 100, 1880, 400}, Id::Pen, "1892,192,1920,220"},
      {{1500, 100, 1881, 400}, Id::Pen, "1460,192,1488,220"},
      {{100, 500, 400, 1040}, Id::Copy, "282,1052,310,1080"},
      {{100, 500, 400, 1041}, Id::Copy, "282,460,310,488"},
      {{100, 39, 400, 1050}, Id::Copy, "282,1018,310,1046"},
      {{100, 40, 400, 1050}, Id::Copy, "282,0,310,28"}, {off, Id::Pen, "-188,10,-160,38"},
      {off, Id::Close, "-228,-88,-200,-60"}, {o, Id::Pen, "418,100,460,142", 144},
      {o, Id::Color, "418,370,460,412", 144}, {o, Id::Copy, "223,318,265,360", 144},
      {o, Id::Close, "358,318,400,360", 144}, {o, Id::Copy, "164,324,220,380", 192},
      {{1500, 100, 1860, 400}, Id::Pen, "1878,100,1920,142", 144},
      {{1500, 100, 1861, 400}, Id::Pen, "1440,100,1482,142", 144},
      {{1000, 100, 1250, 400}, Id::Pen, "960,192,988,220", 96, small},
      {{380, 800, 780, 1000}, Id::Copy, "662,760,690,788", 96, small},
      {{100, 220, 400, 1200}, Id::Copy, "282,1168,310,1196", 96, low},
      // A monitor right of another flips at its own right edge.
      {{2800, 100, 3160, 400}, Id::Pen, "3172,192,3200,220", 96, right},
      {{2800, 100, 3161, 400}, Id::Pen, "2760,192,2788,220", 96, right},
      // The second column beside the first, away from the selection.
      {o, Id::Mosaic, "442,100,470,128"}, {o, Id::Number, "442,130,470,158"},
      {{1500, 100, 1881, 400}, Id::Number, "1430,222,1458,250"},
      {o, Id::Pin, "442,160,470,188"}, {o, Id::Pin, "463,190,505,232", 144},
      {o, Id::Number, "463,145,505,187", 144}};
  for (const auto& c : cases) {
    EXPECT_EQ(Str(ComputeToolbarLayout(c.selection, c.monitor, c.dpi).Button(c.button)), c.rect)
        << Str(c.selection) << " button " << static_cast<int>(c.button) << " at " << c.dpi;
  }
  EXPECT_EQ(Str(ComputeToolbarLayout(o, full, 192).Handles[0]), "92,92,108,108");
  // Midpoints (-7 + 0) / 2 = -3 and (10 + 21) / 2 = 15, truncated toward zero.
  const ToolbarLayout tiny = ComputeToolbarLayout({-7, 10, 0, 21}, full, 96);
  const char* handles[kHandleCount] = {"-11,6,-3,14", "-7,6,1,14", "-4,6,4,14", "-4,11,4,19",
                                       "-4,17,4,25", "-7,17,1,25", "-11,17,-3,25", "-11,11,-3,19"};
  for (int i = 0; i < kHandleCount; ++i) EXPECT_EQ(Str(tiny.Handles[i]), handles[i]) << i + 2;
  // In a 6 x 6 selection corner and middle handles overlap; the lower number wins.
  const ToolbarLayout open = ComputeToolbarLayout(o, full, 96);
  const ToolbarLayout six = ComputeToolbarLayout({100, 100, 106, 106}, full, 96);
  const struct { const ToolbarLayout& layout; POINT at; int handle; } hits[] = {
      {open, {96, 96}, 2},    {open, {103, 103}, 2},  {open, {104, 100}, 0}, {open, {100, 104}, 0},
      {open, {250, 300}, 7},  {open, {403, 303}, 6},  {open, {250, 200}, 0}, {six, {103, 101}, 2},
      {six, {106, 103}, 3},   {six, {109, 97}, 4},    {six, {103, 108}, 6}};
  for (const auto& c : hits) EXPECT_EQ(HitTestHandle(c.layout, c.at), c.handle) << c.at.x;
  // Every button answers with its label, half-open, and overlaps with the earlier one.
  const wchar_t* labels[kToolbarButtonCount] = {
      L"Stift", L"Linie", L"Pfeil", L"Rechteck", L"Text", L"Rückgängig", L"Farbe",
      L"Kopieren (Strg+C)", L"Speichern (Strg+S)", L"Hochladen (Strg+D)", L"Schließen (Strg+X)",
      L"Verpixeln", L"Nummer", L"Anheften (Strg+P)"};
  auto label = [](const ToolbarLayout& at, LONG x, LONG y) {
    return std::wstring(GetToolbarLabel(at, {x, y}) ? GetToolbarLabel(at, {x, y}) : L"-");
  };
  for (int i = 0; i < kToolbarButtonCount; ++i) {
    const RECT& b = open.Buttons[i];
    EXPECT_EQ(label(open, b.left, b.top) + label(open, b.right - 1, b.bottom - 1) +
                  label(open, b.right, b.top) + label(open, b.left, b.bottom),
              std::wstring(labels[i]) + labels[i] + L"--");
  }
  // Near the right edge the column flips onto the action row: Linie over Schließen.
  const ToolbarLayout flipped = ComputeToolbarLayout({1880, 100, 1891, 111}, full, 96);
  EXPECT_TRUE(RectContains(flipped.Button(Id::Close), {1865, 140}));
  EXPECT_EQ(label(flipped, 1865, 140), L"Linie");
}

TEST(ScaledAssetTest, ImagesOfTheNearestSizeACrosshairOfTheSystemsSizeAndRememberedSelections) {
  const int nearest[][2] = {{20, 0}, {34, 0}, {35, 1}, {42, 1}, {49, 2}, {56, 2}, {84, 2}};
  for (const auto& n : nearest) EXPECT_EQ(NearestToolImageSize(n[0]), n[1]) << n[0];
  ICONINFO info = {};
  ASSERT_TRUE(GetIconInfo(UniqueCursor(CreateCrosshairCursor(144)).get(), &info));
  BITMAP mask = {};
  GetObjectW(UniqueBitmap(info.hbmMask).get(), sizeof mask, &mask), UniqueBitmap(info.hbmColor);
  EXPECT_EQ(std::to_string(mask.bmWidth) + "x" + std::to_string(info.xHotspot), "48x24");
  // Any 32-bit edges may come from the file: no wider or higher than the screen, partly on it.
  const struct { RECT remembered; bool restored; } selections[] = {
      {{-100, -100, 200, 200}, true}, {{1590, 890, 1700, 1000}, true},
      {{1600, 0, 1700, 100}, false}, {{0, 0, 1601, 100}, false},
      {{-1000000000, 10, 1000000000, 100}, false}, {{INT_MIN, 0, INT_MAX, 100}, false}};
  for (const auto& s : selections) {
    EXPECT_EQ(CanRestoreSelection(s.remembered, 1600, 900), s.restored) << Str(s.remembered);
  }
}
