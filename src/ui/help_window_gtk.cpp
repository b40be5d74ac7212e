// The GTK 3 help window for Linux desktops: the Win32 window's layout, texts
// and address link, placed at its 96-DPI pixel rectangles.
#include <gtk/gtk.h>

#include <array>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/product.h"
#include "ui/help_layout.h"
#include "ui/help_text.h"
#include "ui/help_window.h"

namespace pinemail {
namespace {

// GTK works in logical pixels and scales them itself on dense screens, so the
// layout is computed once at the reference DPI.
constexpr int kLayoutDpi = 96;

// The design's face first (where fontconfig knows it or an alias of it), then
// proportional Japanese faces common on Linux.
constexpr std::string_view kFontFamilies =
    "\"ＭＳ Ｐゴシック\", \"IPAPGothic\", \"Noto Sans CJK JP\", \"Noto Sans JP\", sans-serif";

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

std::size_t Index(HelpControl id) { return static_cast<std::size_t>(id); }

std::string CssRgb(const Rgb& rgb) {
  return "rgb(" + std::to_string(rgb.red) + "," + std::to_string(rgb.green) + "," +
         std::to_string(rgb.blue) + ")";
}

// One rule per control, selected by its name; the system colours are left to
// the theme, which is GTK's counterpart of them.
std::string ControlCss(const HelpControlSpec& spec) {
  std::string css = "#";
  css.append(spec.name).append(" { font-family: ").append(kFontFamilies);
  css.append("; font-size: ").append(std::to_string(FontPixelHeight(spec.font, kLayoutDpi)));
  css.append("px; font-weight: ").append(spec.font.bold ? "bold" : "normal").append(";");
  if (spec.text.source == ColourSource::kFixed) css += " color: " + CssRgb(spec.text.rgb) + ";";
  if (spec.back.source == ColourSource::kFixed) {
    css += " background-color: " + CssRgb(spec.back.rgb) + ";";
  }
  return css + " }\n";
}

std::string WindowCss() {
  std::string css = "#";
  css.append(kHelpWindowClass).append(" { background-color: ").append(CssRgb(kHelpBackColour));
  css.append("; }\n");
  // The address's event box paints the window's colour under its label.
  css += "#URLBox { background-color: " + CssRgb(kHelpBackColour) + "; }\n";
  for (const HelpControlSpec& spec : HelpControlSpecs()) css += ControlCss(spec);
  return css;
}

void InstallCss() {
  GtkCssProvider* provider = gtk_css_provider_new();
  const std::string css = WindowCss();
  gtk_css_provider_load_from_data(provider, css.c_str(), static_cast<gssize>(css.size()), nullptr);
  gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(provider),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(provider);
}

// The help text with LF line ends, as GtkTextBuffer keeps them.
std::string BodyText() {
  std::string text;
  const std::string_view help = HelpText();
  text.reserve(help.size());
  for (std::size_t i = 0; i < help.size(); ++i) {
    if (help[i] == '\r' && i + 1 < help.size() && help[i + 1] == '\n') continue;
    text += help[i];
  }
  return text;
}

GtkWidget* MakeLabel(const HelpControlSpec& spec) {
  const std::string caption(spec.caption);
  GtkWidget* label = gtk_label_new(caption.c_str());
  gtk_widget_set_name(label, std::string(spec.name).c_str());
  const float xalign = spec.align == TextAlign::kLeft     ? 0.0f
                       : spec.align == TextAlign::kCenter ? 0.5f
                                                          : 1.0f;
  gtk_label_set_xalign(GTK_LABEL(label), xalign);
  gtk_label_set_yalign(GTK_LABEL(label), 0.0f);
  if (spec.font.underline) {
    PangoAttrList* attributes = pango_attr_list_new();
    pango_attr_list_insert(attributes, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
    gtk_label_set_attributes(GTK_LABEL(label), attributes);
    pango_attr_list_unref(attributes);
  }
  return label;
}

GtkWidget* MakeBody() {
  GtkWidget* view = gtk_text_view_new();
  gtk_widget_set_name(view, std::string(SpecOf(HelpControl::kBody).name).c_str());
  gtk_text_view_set_editable(GTK_TEXT_VIEW(view), FALSE);
  gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), GTK_WRAP_WORD_CHAR);
  gtk_text_view_set_left_margin(GTK_TEXT_VIEW(view), 2);
  GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(view));
  const std::string text = BodyText();
  gtk_text_buffer_set_text(buffer, text.c_str(), static_cast<int>(text.size()));
  // Opens at the first line, nothing selected.
  GtkTextIter start;
  gtk_text_buffer_get_start_iter(buffer, &start);
  gtk_text_buffer_place_cursor(buffer, &start);

  GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_NEVER,
                                 GTK_POLICY_ALWAYS);
  gtk_scrolled_window_set_overlay_scrolling(GTK_SCROLLED_WINDOW(scroller), FALSE);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroller), GTK_SHADOW_IN);
  gtk_container_add(GTK_CONTAINER(scroller), view);
  return scroller;
}

gboolean OnAddressReleased(GtkWidget* widget, GdkEventButton* event, gpointer) {
  if (event->button != GDK_BUTTON_PRIMARY) return FALSE;
  const std::string address(kSiteAddress);
  GError* error = nullptr;
  // A failure (no browser) is deliberately not reported: the click just has
  // no visible effect.
  gtk_show_uri_on_window(GTK_WINDOW(gtk_widget_get_toplevel(widget)), address.c_str(), event->time,
                         &error);
  g_clear_error(&error);
  return TRUE;
}

void OnAddressRealized(GtkWidget* widget, gpointer) {
  GdkWindow* window = gtk_widget_get_window(widget);
  GdkCursor* hand = gdk_cursor_new_from_name(gdk_window_get_display(window), "pointer");
  if (hand) {
    gdk_window_set_cursor(window, hand);
    g_object_unref(hand);
  }
}

// The address label inside an event box of its own, which takes the clicks
// and carries the hand cursor.
GtkWidget* MakeAddress(GtkWidget* label) {
  GtkWidget* box = gtk_event_box_new();
  gtk_widget_set_name(box, "URLBox");
  gtk_event_box_set_visible_window(GTK_EVENT_BOX(box), TRUE);
  gtk_widget_add_events(box, GDK_BUTTON_RELEASE_MASK);
  gtk_container_add(GTK_CONTAINER(box), label);
  g_signal_connect(box, "button-release-event", G_CALLBACK(OnAddressReleased), nullptr);
  g_signal_connect(box, "realize", G_CALLBACK(OnAddressRealized), nullptr);
  return box;
}

struct Controls {
  std::array<GtkWidget*, kHelpControlCount> placed{};  // what sits in the GtkFixed
  std::array<GtkWidget*, kHelpControlCount> labels{};  // the labels, for measuring
};

// Puts every control into `fixed`, measures the labels once their styles
// apply, and moves each control to its rectangle.
void PlaceControls(GtkWidget* fixed, Controls& controls) {
  for (const HelpControlSpec& spec : HelpControlSpecs()) {
    GtkWidget* widget = nullptr;
    if (spec.id == HelpControl::kBody) {
      widget = MakeBody();
    } else {
      GtkWidget* label = MakeLabel(spec);
      controls.labels[Index(spec.id)] = label;
      widget = spec.id == HelpControl::kUrl ? MakeAddress(label) : label;
    }
    gtk_widget_show_all(widget);  // hidden widgets measure as nothing
    controls.placed[Index(spec.id)] = widget;
    gtk_fixed_put(GTK_FIXED(fixed), widget, 0, 0);
  }

  CaptionSizes captions{};
  for (const HelpControlSpec& spec : HelpControlSpecs()) {
    GtkWidget* label = controls.labels[Index(spec.id)];
    if (!label) continue;
    GtkRequisition natural{};
    gtk_widget_get_preferred_size(label, nullptr, &natural);
    captions[Index(spec.id)] = {natural.width, natural.height};
  }
  const auto rects = ComputeHelpLayout(captions, kLayoutDpi);
  for (const HelpControlSpec& spec : HelpControlSpecs()) {
    const Rect& rect = rects[Index(spec.id)];
    GtkWidget* widget = controls.placed[Index(spec.id)];
    gtk_fixed_move(GTK_FIXED(fixed), widget, rect.left, rect.top);
    gtk_widget_set_size_request(widget, rect.width, rect.height);
  }
}

}  // namespace

bool ShowHelpWindow() {
  if (!HasDisplay() || !gtk_init_check(nullptr, nullptr)) return false;
  InstallCss();

  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_widget_set_name(window, std::string(kHelpWindowClass).c_str());
  gtk_window_set_title(GTK_WINDOW(window), HelpWindowCaption().c_str());
  gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
  gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);

  GtkWidget* fixed = gtk_fixed_new();
  const Size client = HelpClientPixels(kLayoutDpi);
  gtk_widget_set_size_request(fixed, client.width, client.height);
  gtk_container_add(GTK_CONTAINER(window), fixed);

  Controls controls;
  PlaceControls(fixed, controls);
  gtk_widget_show_all(window);
  // The text box takes the keys, so that they scroll the help text.
  gtk_widget_grab_focus(gtk_bin_get_child(GTK_BIN(controls.placed[Index(HelpControl::kBody)])));
  gtk_main();
  return true;
}

}  // namespace pinemail
