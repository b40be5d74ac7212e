// The help window's design table and the anchoring rules that size and place
// its labels for the captions and DPI at hand.
#include "ui/help_layout.h"

#include <algorithm>

#include "config/product.h"

namespace pinemail {
namespace {

constexpr Colour kFixedBack{ColourSource::kFixed, kHelpBackColour};
constexpr Colour kButtonText{ColourSource::kButtonText, {}};
constexpr Colour kGreen{ColourSource::kFixed, {0, 128, 0}};
constexpr Colour kBlue{ColourSource::kFixed, {0, 0, 255}};

// Font sizes in twips: 15.75, 11.25, 20.25 and 9.75 points.
constexpr FontStyle kTitleFont{315, true, false};
constexpr FontStyle kBodyFont{225, false, false};
constexpr FontStyle kExecutableFont{405, true, false};
constexpr FontStyle kVersionFont{195, true, false};
constexpr FontStyle kSiteFont{225, true, false};
constexpr FontStyle kAddressFont{225, true, true};

// One row per control, as the design table reads.
// clang-format off
constexpr std::array<HelpControlDesign, kHelpControlCount> kDesigns{{
    {HelpControl::kTitle, "Label1", {2685, 240, 3705, 315}, kTitleFont, kButtonText, kFixedBack,
     TextAlign::kCenter, kToolTitle},
    {HelpControl::kBody, "body", {120, 720, 8775, 4335}, kBodyFont,
     {ColourSource::kWindowText, {}}, {ColourSource::kWindow, {}}, TextAlign::kLeft, {}},
    {HelpControl::kExecutable, "Label2", {240, 5280, 2325, 405}, kExecutableFont, kGreen, kFixedBack,
     TextAlign::kLeft, kExecutableName},
    {HelpControl::kVersion, "Label4", {2760, 5490, 1800, 195}, kVersionFont, kGreen, kFixedBack,
     TextAlign::kLeft, kVersionCaption},
    {HelpControl::kSite, "Label3", {4995, 5280, 3870, 225}, kSiteFont, kButtonText, kFixedBack,
     TextAlign::kRight, kSiteTitle},
    {HelpControl::kUrl, "URL", {5820, 5520, 3045, 225}, kAddressFont, kBlue, kFixedBack,
     TextAlign::kRight, kSiteAddress},
}};
// clang-format on

// The anchors the labels keep whatever their captions measure.
constexpr int kRightAnchorTwips = 8865;   // the site title and its address
constexpr int kBottomAnchorTwips = 5685;  // the executable name and the version
// The least space between the executable name and the version caption.
constexpr int kVersionGapTwips = 60;

Rect ScaleRect(const Rect& twips, int dpi) {
  return {TwipsToPixels(twips.left, dpi), TwipsToPixels(twips.top, dpi),
          TwipsToPixels(twips.width, dpi), TwipsToPixels(twips.height, dpi)};
}

}  // namespace

const std::array<HelpControlDesign, kHelpControlCount>& HelpControlDesigns() { return kDesigns; }

const HelpControlDesign& DesignOf(HelpControl id) { return kDesigns[Index(id)]; }

std::string HelpWindowCaption() {
  std::string caption(kSiteTitle);
  caption += "\u3000\u3000";
  caption += kToolTitle;
  return caption;
}

int TwipsToPixels(int twips, int dpi) {
  // Rounded half away from zero, in 64 bits so that no DPI overflows.
  const long long scaled = static_cast<long long>(twips) * dpi;
  const long long half = scaled < 0 ? -720 : 720;
  return static_cast<int>((scaled + half) / 1440);
}

Size HelpClientPixels(int dpi) {
  return {TwipsToPixels(kHelpClientTwips.width, dpi), TwipsToPixels(kHelpClientTwips.height, dpi)};
}

int FontPixelHeight(const FontStyle& font, int dpi) { return TwipsToPixels(font.size_twips, dpi); }

std::array<Rect, kHelpControlCount> ComputeHelpLayout(const CaptionSizes& captions, int dpi) {
  std::array<Rect, kHelpControlCount> rects{};
  for (const HelpControlDesign& design : kDesigns) {
    Rect& rect = rects[Index(design.id)];
    rect = ScaleRect(design.twips, dpi);
    if (design.id == HelpControl::kBody) continue;
    rect.width = captions[Index(design.id)].width;
    // One line of the font's em height (13, 15, 21, 27 pixels at 96 DPI), not
    // the measured one: a fallback face with a taller line would otherwise
    // move the labels that hang from the bottom anchor.
    rect.height = FontPixelHeight(design.font, dpi);
  }

  const int client_width = HelpClientPixels(dpi).width;
  Rect& title = rects[Index(HelpControl::kTitle)];
  title.left = (client_width - title.width) / 2;

  const int right = TwipsToPixels(kRightAnchorTwips, dpi);
  for (HelpControl id : {HelpControl::kSite, HelpControl::kUrl}) {
    rects[Index(id)].left = right - rects[Index(id)].width;
  }

  const int bottom = TwipsToPixels(kBottomAnchorTwips, dpi);
  for (HelpControl id : {HelpControl::kExecutable, HelpControl::kVersion}) {
    rects[Index(id)].top = bottom - rects[Index(id)].height;
  }

  Rect& version = rects[Index(HelpControl::kVersion)];
  const Rect& executable = rects[Index(HelpControl::kExecutable)];
  version.left = std::max(version.left, executable.right() + TwipsToPixels(kVersionGapTwips, dpi));
  return rects;
}

}  // namespace pinemail
