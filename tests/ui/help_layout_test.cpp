// Tests of the help window's layout table and its anchoring rules.
#include "ui/help_layout.h"

#include <gtest/gtest.h>

#include "config/product.h"

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
  EXPECT_EQ(rects[Index(HelpControl::kLabel1)], (Rect{178, 16, 247, 21}));
  EXPECT_EQ(rects[Index(HelpControl::kBody)], (Rect{8, 48, 585, 289}));
  EXPECT_EQ(rects[Index(HelpControl::kLabel2)], (Rect{16, 352, 155, 27}));
  EXPECT_EQ(rects[Index(HelpControl::kLabel4)], (Rect{184, 366, 120, 13}));
  EXPECT_EQ(rects[Index(HelpControl::kLabel3)], (Rect{333, 352, 258, 15}));
  EXPECT_EQ(rects[Index(HelpControl::kUrl)], (Rect{388, 368, 203, 15}));
}

TEST(HelpLayoutTest, DesignTableKeepsItsOwnAnchorsAndLineHeights) {
  const auto& designs = HelpControlDesigns();
  for (std::size_t i = 0; i < designs.size(); ++i) {
    EXPECT_EQ(Index(designs[i].id), i) << designs[i].name;
  }
  EXPECT_EQ(DesignOf(HelpControl::kLabel3).twips.right(), 8865);
  EXPECT_EQ(DesignOf(HelpControl::kUrl).twips.right(), 8865);
  EXPECT_EQ(DesignOf(HelpControl::kLabel2).twips.bottom(), 5685);
  EXPECT_EQ(DesignOf(HelpControl::kLabel4).twips.bottom(), 5685);
  EXPECT_EQ(DesignOf(HelpControl::kBody).twips.right(), 8895);
  EXPECT_EQ(DesignOf(HelpControl::kBody).twips.bottom(), 5055);
  // A label's height is its font's line height: 13, 15, 21 and 27 pixels.
  for (HelpControl id : {HelpControl::kLabel1, HelpControl::kLabel2, HelpControl::kLabel4,
                         HelpControl::kLabel3, HelpControl::kUrl}) {
    EXPECT_EQ(FontPixelHeight(DesignOf(id).font, 96), TwipsToPixels(DesignOf(id).twips.height, 96))
        << DesignOf(id).name;
  }
  EXPECT_EQ(FontPixelHeight(DesignOf(HelpControl::kLabel4).font, 96), 13);
  EXPECT_EQ(FontPixelHeight(DesignOf(HelpControl::kBody).font, 96), 15);
  EXPECT_EQ(FontPixelHeight(DesignOf(HelpControl::kLabel1).font, 96), 21);
  EXPECT_EQ(FontPixelHeight(DesignOf(HelpControl::kLabel2).font, 96), 27);
}

TEST(HelpLayoutTest, ControlsShowTheFixedTextsInTheirColours) {
  EXPECT_EQ(DesignOf(HelpControl::kLabel1).caption, kToolTitle);
  EXPECT_EQ(DesignOf(HelpControl::kLabel2).caption, "pinemail.exe");
  EXPECT_EQ(DesignOf(HelpControl::kLabel4).caption, "Version Prototype");
  EXPECT_EQ(DesignOf(HelpControl::kLabel3).caption, kSiteTitle);
  EXPECT_EQ(DesignOf(HelpControl::kUrl).caption, kSiteAddress);
  EXPECT_TRUE(DesignOf(HelpControl::kUrl).font.underline);
  EXPECT_FALSE(DesignOf(HelpControl::kBody).font.bold);
  EXPECT_EQ(DesignOf(HelpControl::kUrl).text.rgb, (Rgb{0, 0, 255}));
  EXPECT_EQ(DesignOf(HelpControl::kLabel2).text.rgb, (Rgb{0, 128, 0}));
  for (const HelpControlDesign& design : HelpControlDesigns()) {
    if (design.id == HelpControl::kBody) {
      EXPECT_EQ(design.back.source, ColourSource::kWindow);
    } else {
      EXPECT_EQ(design.back.source, ColourSource::kFixed) << design.name;
      EXPECT_EQ(design.back.rgb, kHelpBackColour) << design.name;
    }
  }
  EXPECT_EQ(HelpWindowCaption(), "pinemail 工房\u3000\u3000年賀メール一括送信");
}

TEST(HelpLayoutTest, ScalesWithTheDpi) {
  EXPECT_EQ(HelpClientPixels(144).width, 906);
  EXPECT_EQ(HelpClientPixels(144).height, 590);  // 589.5 rounds up
  EXPECT_EQ(HelpClientPixels(192).width, 1208);
  EXPECT_EQ(HelpClientPixels(192).height, 786);
  // Font heights at 144 DPI: 19.5, 22.5, 31.5 and 40.5 pixels, rounded up.
  EXPECT_EQ(FontPixelHeight(DesignOf(HelpControl::kLabel4).font, 144), 20);
  EXPECT_EQ(FontPixelHeight(DesignOf(HelpControl::kBody).font, 144), 23);
  EXPECT_EQ(FontPixelHeight(DesignOf(HelpControl::kLabel1).font, 144), 32);
  EXPECT_EQ(FontPixelHeight(DesignOf(HelpControl::kLabel2).font, 144), 41);

  const auto rects = ComputeHelpLayout(DesignedCaptions(144), 144);
  EXPECT_EQ(rects[Index(HelpControl::kBody)], (Rect{12, 72, 878, 434}));
  // Anchors at 144 DPI: right edge 886.5 -> 887, bottom 568.5 -> 569.
  EXPECT_EQ(rects[Index(HelpControl::kLabel3)].right(), 887);
  EXPECT_EQ(rects[Index(HelpControl::kUrl)].right(), 887);
  EXPECT_EQ(rects[Index(HelpControl::kLabel2)].bottom(), 569);
  EXPECT_EQ(rects[Index(HelpControl::kLabel4)].bottom(), 569);
  EXPECT_EQ(rects[Index(HelpControl::kLabel4)].left, 276);
  EXPECT_EQ(rects[Index(HelpControl::kLabel1)].top, 24);
  EXPECT_EQ(rects[Index(HelpControl::kLabel1)].left, (906 - 371) / 2);
}

TEST(HelpLayoutTest, LabelsSizeToTheirCaptionsAndKeepTheirAnchors) {
  CaptionSizes sizes{};
  sizes[Index(HelpControl::kLabel1)] = {100, 22};
  sizes[Index(HelpControl::kBody)] = {1, 1};  // ignored
  sizes[Index(HelpControl::kLabel2)] = {90, 30};
  sizes[Index(HelpControl::kLabel4)] = {70, 14};
  sizes[Index(HelpControl::kLabel3)] = {50, 16};
  sizes[Index(HelpControl::kUrl)] = {400, 16};
  const auto rects = ComputeHelpLayout(sizes, 96);
  EXPECT_EQ(rects[Index(HelpControl::kLabel1)], (Rect{252, 16, 100, 21}));
  EXPECT_EQ(rects[Index(HelpControl::kBody)], (Rect{8, 48, 585, 289}));
  EXPECT_EQ(rects[Index(HelpControl::kLabel2)], (Rect{16, 352, 90, 27}));
  EXPECT_EQ(rects[Index(HelpControl::kLabel4)], (Rect{184, 366, 70, 13}));
  EXPECT_EQ(rects[Index(HelpControl::kLabel3)], (Rect{541, 352, 50, 15}));
  EXPECT_EQ(rects[Index(HelpControl::kUrl)], (Rect{191, 368, 400, 15}));
}

TEST(HelpLayoutTest, WideExecutableNamePushesTheVersionRight) {
  CaptionSizes sizes = DesignedCaptions(96);
  sizes[Index(HelpControl::kLabel2)] = {300, 27};
  const auto rects = ComputeHelpLayout(sizes, 96);
  EXPECT_EQ(rects[Index(HelpControl::kLabel2)].right(), 316);
  EXPECT_EQ(rects[Index(HelpControl::kLabel4)].left, 320);
  EXPECT_EQ(rects[Index(HelpControl::kLabel4)].bottom(), 379);

  // Just short of touching: the version caption stays where it was designed.
  sizes[Index(HelpControl::kLabel2)] = {164, 27};
  EXPECT_EQ(ComputeHelpLayout(sizes, 96)[Index(HelpControl::kLabel4)].left, 184);
}

}  // namespace
}  // namespace pinemail
