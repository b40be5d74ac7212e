// The help window's layout in twips and the rules that turn it into pixel
// rectangles for a given DPI and the captions' measured sizes; shared by the
// Win32 and GTK windows and by the tests that examine them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace pinemail {

// The window's child controls, in creation order. The values double as the
// Win32 control ids (offset by kHelpControlIdBase) and as array indices.
// Named by what they show: the tool's title, the help text, the executable's
// name, the version, the site's title and its address.
enum class HelpControl { kTitle, kBody, kExecutable, kVersion, kSite, kUrl };
inline constexpr std::size_t kHelpControlCount = 6;
inline constexpr int kHelpControlIdBase = 1001;

// The control's index in the arrays of kHelpControlCount entries.
constexpr std::size_t Index(HelpControl id) { return static_cast<std::size_t>(id); }

enum class TextAlign { kLeft, kCenter, kRight };

// Where a colour comes from: a fixed value, or one of the system's colours
// (which the platform looks up when it paints).
enum class ColourSource { kFixed, kButtonText, kWindow, kWindowText };

struct Rgb {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  friend constexpr bool operator==(const Rgb&, const Rgb&) = default;
};

struct Colour {
  ColourSource source = ColourSource::kFixed;
  Rgb rgb;  // meaningful for kFixed only
};

// A rectangle in the window's client area.
struct Rect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  int right() const { return left + width; }
  int bottom() const { return top + height; }
  friend constexpr bool operator==(const Rect&, const Rect&) = default;
};

struct Size {
  int width = 0;
  int height = 0;
};

struct FontStyle {
  int size_twips = 0;  // the point size times 20, so that it scales like positions
  bool bold = false;
  bool underline = false;
};

// One control of the design: its rectangle in twips, its font, colours,
// alignment and caption (empty for the text box, which shows HelpText()).
struct HelpControlDesign {
  HelpControl id;
  std::string_view name;
  Rect twips;
  FontStyle font;
  Colour text;
  Colour back;
  TextAlign align;
  std::string_view caption;
};

// The design's face name and character set (Shift-JIS) for every control.
inline constexpr std::string_view kHelpFontFace = "ＭＳ Ｐゴシック";
inline constexpr int kHelpFontCharset = 128;
// The window's and the labels' back colour; fixed, not the system's face colour.
inline constexpr Rgb kHelpBackColour{240, 240, 240};
// The client area in twips.
inline constexpr Size kHelpClientTwips{9060, 5895};
// The window class name: the form's name.
inline constexpr std::string_view kHelpWindowClass = "frmMain";

// The design table, indexed by HelpControl.
const std::array<HelpControlDesign, kHelpControlCount>& HelpControlDesigns();
const HelpControlDesign& DesignOf(HelpControl id);

// The window caption: the site title, two ideographic spaces, the tool title.
std::string HelpWindowCaption();

// Twips (or a font size in twips) to pixels at `dpi`: 15 twips per pixel at
// 96 DPI, rounded to the nearest pixel.
int TwipsToPixels(int twips, int dpi);

// The client area's size in pixels at `dpi`.
Size HelpClientPixels(int dpi);

// The pixel height of a control's font (its em height) at `dpi`.
int FontPixelHeight(const FontStyle& font, int dpi);

// Measured caption sizes in pixels at the layout's DPI, one per label
// (the entry for the text box is ignored).
using CaptionSizes = std::array<Size, kHelpControlCount>;

// Pixel rectangles at `dpi`, indexed by HelpControl. The text box keeps its
// designed rectangle; every label takes its measured size and keeps its
// anchor: the title centred over the client width at its designed top, the
// site title and its address with their right edges on the designed right
// edge, the executable name and the version with their bottoms on the shared
// designed bottom. The version never overlaps the executable name: a wider
// name pushes the version caption right.
std::array<Rect, kHelpControlCount> ComputeHelpLayout(const CaptionSizes& captions, int dpi);

}  // namespace pinemail
