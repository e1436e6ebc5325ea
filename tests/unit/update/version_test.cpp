#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "update/version.h"

namespace {

using Parts = std::vector<int32_t>;

TEST(ParseVersionTest, EmptyPiecesCountButATrailingDotAddsNone) {
  EXPECT_EQ(ParseVersion(L"1..1"), (Parts{1, 0, 1}));
  EXPECT_EQ(ParseVersion(L".5"), (Parts{0, 5, 0}));
  EXPECT_EQ(ParseVersion(L"1.2."), (Parts{1, 2, 0}));
  EXPECT_EQ(ParseVersion(L"."), (Parts{0, 0, 0}));
  EXPECT_EQ(ParseVersion(L""), (Parts{0, 0, 0}));
}

TEST(ParseVersionTest, KeepsPiecesBeyondTheThirdAndTheirSigns) {
  EXPECT_EQ(ParseVersion(L"1.2.3.4"), (Parts{1, 2, 3, 4}));
  EXPECT_EQ(ParseVersion(L"1.-1.0"), (Parts{1, -1, 0}));
  EXPECT_EQ(ParseVersion(L" 2.0.0-beta"), (Parts{2, 0, 0}));
  EXPECT_EQ(ParseVersion(L"v2.0.0"), (Parts{0, 0, 0}));
}

TEST(IsNewerVersionTest, CandidatesThatAreNewerThanTheInstalledOne) {
  for (const wchar_t* candidate :
       {L"1.0.1", L"1.1", L"2", L"1..1", L"1.2.", L" 2.0.0", L"2.0.0-beta", L"1.0.10"}) {
    EXPECT_TRUE(IsNewerVersion(L"1.0.0", candidate)) << candidate;
  }
}

TEST(IsNewerVersionTest, CandidatesThatAreNotNewer) {
  for (const wchar_t* candidate :
       {L"1.0.0", L"0.9.9", L"1.0.0.5", L".5", L"v2.0.0", L"", L"1.-1.0", L"1"}) {
    EXPECT_FALSE(IsNewerVersion(L"1.0.0", candidate)) << candidate;
  }
}

TEST(IsNewerVersionTest, ComparesNumbersNotText) {
  // A text comparison would put "1.10.0" before "1.9.0" and "10" before "9".
  EXPECT_TRUE(IsNewerVersion(L"1.9.0", L"1.10.0"));
  EXPECT_FALSE(IsNewerVersion(L"1.10.0", L"1.9.0"));
  EXPECT_TRUE(IsNewerVersion(L"9.0.0", L"10.0.0"));
  // An earlier component decides even when a later one points the other way.
  EXPECT_FALSE(IsNewerVersion(L"2.0.0", L"1.99.99"));
  EXPECT_TRUE(IsNewerVersion(L"1.-1.0", L"1.0.0"));
}

}  // namespace
