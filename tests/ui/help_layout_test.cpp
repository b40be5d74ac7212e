// Tests of the help window's anchoring and scaling rules.
#include "ui/help_layout.h"

#include <gtest/gtest.h>

namespace pinemail {
namespace {

// The captions measured exactly as designed, at `dpi`.
CaptionSizes DesignedCaptions(int dpi) {
  CaptionSizes sizes{};
  for (const HelpControlDesign& design : HelpControlDesigns()) {
    sizes[Index(design.id)] = {TwipsToPixels(design.twips.width, dpi),
                               TwipsToPixels(design.twips.height, dpi)};
  }
  return sizes;
}

TEST(HelpLayoutTest, DesignCaptionsAt96DpiGiveTheDesignedPixels) {
  const auto rects = ComputeHelpLayout(DesignedCaptions(96), 96);
  EXPECT_EQ(HelpClientPixels(96).width, 604);
  EXPECT_EQ(HelpClientPixels(96).height, 393);
  // The title is centred over 604 pixels: half a pixel left of its design.
  EXPECT_EQ(rects[Index(HelpControl::kTitle)], (Rect{178, 16, 247, 21}));
  EXPECT_EQ(rects[Index(HelpControl::kBody)], (Rect{8, 48, 585, 289}));
  EXPECT_EQ(rects[Index(HelpControl::kExecutable)], (Rect{16, 352, 155, 27}));
  EXPECT_EQ(rects[Index(HelpControl::kVersion)], (Rect{184, 366, 120, 13}));
  EXPECT_EQ(rects[Index(HelpControl::kSite)], (Rect{333, 352, 258, 15}));
  EXPECT_EQ(rects[Index(HelpControl::kUrl)], (Rect{388, 368, 203, 15}));
}

TEST(HelpLayoutTest, DesignTableIsIndexedByControlAndEachLabelIsOneLineHigh) {
  const auto& designs = HelpControlDesigns();
  for (std::size_t i = 0; i < designs.size(); ++i) {
    EXPECT_EQ(Index(designs[i].id), i) << designs[i].name;
    if (designs[i].id == HelpControl::kBody) continue;
    EXPECT_EQ(FontPixelHeight(designs[i].font, 96), TwipsToPixels(designs[i].twips.height, 96))
        << designs[i].name;
  }
}

TEST(HelpLayoutTest, ScalesWithTheDpi) {
  EXPECT_EQ(HelpClientPixels(144).width, 906);
  EXPECT_EQ(HelpClientPixels(144).height, 590);  // 589.5 rounds up
  EXPECT_EQ(HelpClientPixels(192).width, 1208);
  EXPECT_EQ(HelpClientPixels(192).height, 786);
  // Font heights at 144 DPI: 19.5, 22.5, 31.5 and 40.5 pixels, rounded up.
  EXPECT_EQ(FontPixelHeight(DesignOf(HelpControl::kVersion).font, 144), 20);
  EXPECT_EQ(FontPixelHeight(DesignOf(HelpControl::kBody).font, 144), 23);
  EXPECT_EQ(FontPixelHeight(DesignOf(HelpControl::kTitle).font, 144), 32);
  EXPECT_EQ(FontPixelHeight(DesignOf(HelpControl::kExecutable).font, 144), 41);

  const auto rects = ComputeHelpLayout(DesignedCaptions(144), 144);
  EXPECT_EQ(rects[Index(HelpControl::kBody)], (Rect{12, 72, 878, 434}));
  // Anchors at 144 DPI: right edge 886.5 -> 887, bottom 568.5 -> 569.
  EXPECT_EQ(rects[Index(HelpControl::kSite)].right(), 887);
  EXPECT_EQ(rects[Index(HelpControl::kUrl)].right(), 887);
  EXPECT_EQ(rects[Index(HelpControl::kExecutable)].bottom(), 569);
  EXPECT_EQ(rects[Index(HelpControl::kVersion)].bottom(), 569);
  EXPECT_EQ(rects[Index(HelpControl::kVersion)].left, 276);
  EXPECT_EQ(rects[Index(HelpControl::kTitle)].top, 24);
  EXPECT_EQ(rects[Index(HelpControl::kTitle)].left, (906 - 371) / 2);
}

TEST(HelpLayoutTest, LabelsSizeToTheirCaptionsAndKeepTheirAnchors) {
  CaptionSizes sizes{};
  sizes[Index(HelpControl::kTitle)] = {100, 22};
  sizes[Index(HelpControl::kBody)] = {1, 1};  // ignored
  sizes[Index(HelpControl::kExecutable)] = {90, 30};
  sizes[Index(HelpControl::kVersion)] = {70, 14};
  sizes[Index(HelpControl::kSite)] = {50, 16};
  sizes[Index(HelpControl::kUrl)] = {400, 16};
  const auto rects = ComputeHelpLayout(sizes, 96);
  EXPECT_EQ(rects[Index(HelpControl::kTitle)], (Rect{252, 16, 100, 21}));
  EXPECT_EQ(rects[Index(HelpControl::kBody)], (Rect{8, 48, 585, 289}));
  EXPECT_EQ(rects[Index(HelpControl::kExecutable)], (Rect{16, 352, 90, 27}));
  EXPECT_EQ(rects[Index(HelpControl::kVersion)], (Rect{184, 366, 70, 13}));
  EXPECT_EQ(rects[Index(HelpControl::kSite)], (Rect{541, 352, 50, 15}));
  EXPECT_EQ(rects[Index(HelpControl::kUrl)], (Rect{191, 368, 400, 15}));
}

TEST(HelpLayoutTest, WideExecutableNamePushesTheVersionRight) {
  CaptionSizes sizes = DesignedCaptions(96);
  sizes[Index(HelpControl::kExecutable)] = {300, 27};
  const auto rects = ComputeHelpLayout(sizes, 96);
  EXPECT_EQ(rects[Index(HelpControl::kExecutable)].right(), 316);
  EXPECT_EQ(rects[Index(HelpControl::kVersion)].left, 320);
  EXPECT_EQ(rects[Index(HelpControl::kVersion)].bottom(), 379);

  // Just short of touching: the version caption stays where it was designed.
  sizes[Index(HelpControl::kExecutable)] = {164, 27};
  EXPECT_EQ(ComputeHelpLayout(sizes, 96)[Index(HelpControl::kVersion)].left, 184);
}

}  // namespace
}  // namespace pinemail
