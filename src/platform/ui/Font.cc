#include "platform/ui/Font.h"

#include <fontconfig/fontconfig.h>
#include <pango/pangocairo.h>
#include <pango/pangofc-fontmap.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "platform/foundation/Log.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/ui/GraphicsContext.h"

#ifndef FX_UI_FONTS_CONF
#define FX_UI_FONTS_CONF "fonts.conf"
#endif

namespace pf {

namespace {

constexpr const char* kFamily = "WenQuanYi Micro Hei";

// Sizes already measured, by what was measured: screens measure the same texts frame after frame.
class MeasuredSizes {
 public:
  // The key of one measurement: its kind, the font, the constraint and the text.
  static std::string key(char kind, const std::string& text, const Font& font, Size constraint = {},
                         LineBreakMode mode = LineBreakMode::WordWrap) {
    std::string k(1, kind);
    k.reserve(1 + font.name.size() + 1 + 3 * sizeof(double) + 2 + text.size());
    k += font.name;
    k += '\0';
    auto raw = [&k](const auto& v) {
      char bytes[sizeof(v)];
      std::memcpy(bytes, &v, sizeof(v));
      k.append(bytes, sizeof(v));
    };
    raw(font.pointSize);
    raw(constraint.width);
    raw(constraint.height);
    k += static_cast<char>(font.weight);
    k += static_cast<char>(mode);
    k += text;
    return k;
  }
  const Size* find(const std::string& key) const {
    auto it = sizes_.find(key);
    return it == sizes_.end() ? nullptr : &it->second;
  }
  void put(std::string key, Size size) {
    if (sizes_.size() >= kMaxEntries) sizes_.clear();  // a screen's texts fit many times over
    sizes_.emplace(std::move(key), size);
  }

 private:
  static constexpr std::size_t kMaxEntries = 2048;
  std::unordered_map<std::string, Size> sizes_;
};

struct TextEngine {
  Mutex mutex;
  std::string configPath;
  PangoFontMap* fontMap PF_GUARDED_BY(mutex) = nullptr;
  PangoContext* context PF_GUARDED_BY(mutex) = nullptr;
  MeasuredSizes measured PF_GUARDED_BY(mutex);
};

TextEngine*& engineInstance() {
  static TextEngine* instance = nullptr;
  return instance;
}

TextEngine& engine() {
  static TextEngine* e = [] {
    auto* t = new TextEngine;
    MutexLock lock(t->mutex);
    engineInstance() = t;
    const char* env = std::getenv("FX_FONTS_CONF");
    t->configPath = env && *env ? env : FX_UI_FONTS_CONF;
    // Everything that asks fontconfig in this process sees the same configuration.
    setenv("FONTCONFIG_FILE", t->configPath.c_str(), 0);
    FcConfig* config = FcConfigCreate();
    if (!std::filesystem::exists(t->configPath) ||
        !FcConfigParseAndLoad(config, reinterpret_cast<const FcChar8*>(t->configPath.c_str()), FcTrue)) {
      logLine("Text: font configuration " + t->configPath + " not readable; using the system's");
      FcConfigDestroy(config);
      config = FcInitLoadConfigAndFonts();
    } else {
      FcConfigBuildFonts(config);
    }
    t->fontMap = pango_cairo_font_map_new_for_font_type(CAIRO_FONT_TYPE_FT);
    if (!t->fontMap) t->fontMap = pango_cairo_font_map_new();
    if (PANGO_IS_FC_FONT_MAP(t->fontMap)) pango_fc_font_map_set_config(PANGO_FC_FONT_MAP(t->fontMap), config);
    FcConfigDestroy(config);  // the font map keeps its own reference
    t->context = pango_font_map_create_context(t->fontMap);
    cairo_font_options_t* fo = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(fo, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(fo, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_antialias(fo, CAIRO_ANTIALIAS_GRAY);
    pango_cairo_context_set_font_options(t->context, fo);
    cairo_font_options_destroy(fo);
    // Give fontconfig's and pango's font caches back at exit (leak checkers see them otherwise).
    std::atexit([] {
      TextEngine& e = *engineInstance();
      MutexLock lock(e.mutex);
      if (e.context) g_object_unref(e.context);
      if (e.fontMap) g_object_unref(e.fontMap);
      e.context = nullptr;
      e.fontMap = nullptr;
    });
    return t;
  }();
  return *e;
}

PangoFontDescription* describe(const Font& font) {
  PangoFontDescription* d = pango_font_description_new();
  pango_font_description_set_family(d, kFamily);
  pango_font_description_set_absolute_size(d, font.pointSize * PANGO_SCALE);
  pango_font_description_set_weight(d, font.weight == Font::Weight::Bold    ? PANGO_WEIGHT_BOLD
                                       : font.weight == Font::Weight::Light ? PANGO_WEIGHT_LIGHT
                                                                            : PANGO_WEIGHT_NORMAL);
  return d;
}

// A layout in the engine's context; caller holds the mutex and unrefs it.
PangoLayout* makeLayout(TextEngine& e, const std::string& text, const Font& font) PF_REQUIRES(e.mutex) {
  PangoLayout* layout = pango_layout_new(e.context);
  PangoFontDescription* d = describe(font);
  pango_layout_set_font_description(layout, d);
  pango_font_description_free(d);
  pango_layout_set_text(layout, text.data(), static_cast<int>(text.size()));
  return layout;
}

void applyWrap(PangoLayout* layout, double width, LineBreakMode mode, int maxLines, double maxHeight = 0) {
  if (width > 0 && std::isfinite(width) && width < 1e7) pango_layout_set_width(layout, static_cast<int>(width * PANGO_SCALE));
  pango_layout_set_wrap(layout, mode == LineBreakMode::CharWrap ? PANGO_WRAP_CHAR : PANGO_WRAP_WORD_CHAR);
  PangoEllipsizeMode ell = PANGO_ELLIPSIZE_NONE;
  if (mode == LineBreakMode::TruncateHead) ell = PANGO_ELLIPSIZE_START;
  if (mode == LineBreakMode::TruncateMiddle) ell = PANGO_ELLIPSIZE_MIDDLE;
  if (mode == LineBreakMode::TruncateTail) ell = PANGO_ELLIPSIZE_END;
  if (ell != PANGO_ELLIPSIZE_NONE && width > 0) {
    pango_layout_set_ellipsize(layout, ell);
    // Only the last line that fits is shortened.
    if (maxLines > 0)
      pango_layout_set_height(layout, -maxLines);
    else if (maxHeight > 0 && maxHeight < 1e6)
      pango_layout_set_height(layout, static_cast<int>(maxHeight * PANGO_SCALE));
    else
      pango_layout_set_height(layout, -1000000);
  } else if (maxLines > 0 && width > 0) {
    // Clipped or wrapped text limited to a number of lines: drop the rest.
    pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_NONE);
  }
}

// Logical size of the first maxLines lines (all when 0) whose bottoms fit maxHeight.
Size measuredSize(PangoLayout* layout, int maxLines, double maxHeight) {
  int lines = pango_layout_get_line_count(layout);
  double width = 0, height = 0;
  PangoLayoutIter* it = pango_layout_get_iter(layout);
  int index = 0;
  do {
    if (maxLines > 0 && index >= maxLines) break;
    PangoRectangle logical;
    pango_layout_iter_get_line_extents(it, nullptr, &logical);
    double bottom = static_cast<double>(logical.y + logical.height) / PANGO_SCALE;
    if (index > 0 && bottom > maxHeight + 1e-6) break;
    width = std::max(width, static_cast<double>(logical.width) / PANGO_SCALE);
    height = bottom;
    ++index;
  } while (index < lines && pango_layout_iter_next_line(it));
  pango_layout_iter_free(it);
  return {width, height};
}

struct Metrics {
  double ascent, descent;
};

Metrics metrics(const Font& font) {
  TextEngine& e = engine();
  MutexLock lock(e.mutex);
  if (!e.context) return {0, 0};  // after exit
  PangoFontDescription* d = describe(font);
  PangoFontMetrics* m = pango_context_get_metrics(e.context, d, nullptr);
  Metrics out{static_cast<double>(pango_font_metrics_get_ascent(m)) / PANGO_SCALE,
              static_cast<double>(pango_font_metrics_get_descent(m)) / PANGO_SCALE};
  pango_font_metrics_unref(m);
  pango_font_description_free(d);
  return out;
}

}  // namespace

Font Font::systemFont(double size) { return {".System", size, Weight::Regular}; }
Font Font::boldSystemFont(double size) { return {".System-Bold", size, Weight::Bold}; }
Font Font::named(const std::string& name, double size) {
  Weight w = Weight::Regular;
  if (name.find("Bold") != std::string::npos) w = Weight::Bold;
  if (name.find("Light") != std::string::npos) w = Weight::Light;
  return {name, size, w};
}

double Font::ascender() const { return metrics(*this).ascent; }
double Font::descender() const { return metrics(*this).descent; }
double Font::lineHeight() const {
  Metrics m = metrics(*this);
  return m.ascent + m.descent;
}

namespace text {

std::string fontConfigPath() { return engine().configPath; }

Size size(const std::string& s, const Font& font) {
  if (s.empty()) return {0, 0};
  TextEngine& e = engine();
  MutexLock lock(e.mutex);
  if (!e.context) return {0, 0};  // after exit
  std::string key = MeasuredSizes::key('1', s, font);
  if (const Size* known = e.measured.find(key)) return *known;
  PangoLayout* layout = makeLayout(e, s, font);
  pango_layout_set_single_paragraph_mode(layout, TRUE);
  PangoRectangle logical;
  pango_layout_get_extents(layout, nullptr, &logical);
  g_object_unref(layout);
  Size out{std::ceil(static_cast<double>(logical.width) / PANGO_SCALE - 1e-9),
           std::ceil(static_cast<double>(logical.height) / PANGO_SCALE - 1e-9)};
  e.measured.put(std::move(key), out);
  return out;
}

Size boundingSizeExact(const std::string& s, const Font& font, Size constraint, LineBreakMode mode) {
  if (s.empty()) return {0, 0};
  TextEngine& e = engine();
  MutexLock lock(e.mutex);
  if (!e.context) return {0, 0};  // after exit
  // Every mode wraps when measuring (a truncating mode shortens only the last line that fits).
  LineBreakMode wrap = mode == LineBreakMode::CharWrap ? LineBreakMode::CharWrap : LineBreakMode::WordWrap;
  std::string key = MeasuredSizes::key('w', s, font, constraint, wrap);
  if (const Size* known = e.measured.find(key)) return *known;
  PangoLayout* layout = makeLayout(e, s, font);
  applyWrap(layout, constraint.width, wrap, 0);
  Size out = measuredSize(layout, 0, constraint.height > 0 ? constraint.height : 1e9);
  g_object_unref(layout);
  if (constraint.width > 0) out.width = std::min(out.width, constraint.width);
  e.measured.put(std::move(key), out);
  return out;
}

Size boundingSize(const std::string& s, const Font& font, Size constraint, LineBreakMode mode) {
  Size e = boundingSizeExact(s, font, constraint, mode);
  return {std::ceil(e.width - 1e-9), std::ceil(e.height - 1e-9)};
}

Size draw(GraphicsContext& ctx, const std::string& s, const Font& font, const Rect& rect,
          const DrawOptions& o) {
  if (s.empty()) return {0, 0};
  TextEngine& e = engine();
  MutexLock lock(e.mutex);
  if (!e.context) return {0, 0};  // after exit
  PangoLayout* layout = makeLayout(e, s, font);
  int maxLines = o.numberOfLines;
  applyWrap(layout, rect.width(), o.lineBreak, maxLines, rect.height());
  if (o.numberOfLines == 1) pango_layout_set_single_paragraph_mode(layout, TRUE);
  PangoAlignment align = PANGO_ALIGN_LEFT;
  if (o.alignment == TextAlignment::Center) align = PANGO_ALIGN_CENTER;
  if (o.alignment == TextAlignment::Right) align = PANGO_ALIGN_RIGHT;
  pango_layout_set_alignment(layout, align);
  pango_layout_set_justify(layout, o.alignment == TextAlignment::Justified);
  Size drawn = measuredSize(layout, maxLines, rect.height() > 0 ? rect.height() : 1e9);

  auto show = [&](cairo_t* cr, const Color* color) {
    cairo_save(cr);
    // Only whole lines that fit are shown.
    cairo_rectangle(cr, rect.x() - 2, rect.y() - 1, rect.width() + 4, drawn.height + 2);
    cairo_clip(cr);
    cairo_move_to(cr, rect.x(), rect.y());
    if (color) setSource(cr, *color);
    pango_cairo_show_layout(cr, layout);
    cairo_restore(cr);
  };
  Color c = o.color;
  if (o.shadow && o.shadow->color.a > 0 && o.shadow->blur > 0) {
    ctx.save();
    ctx.setShadow(o.shadow->offset, o.shadow->blur, o.shadow->color);
    ctx.paint([&](cairo_t* cr) { show(cr, &c); });
    ctx.restore();
  } else {
    if (o.shadow && o.shadow->color.a > 0) {
      Color sc = o.shadow->color;
      ctx.save();
      ctx.translate(o.shadow->offset.width, o.shadow->offset.height);
      ctx.paint([&](cairo_t* cr) { show(cr, &sc); });
      ctx.restore();
    }
    ctx.paint([&](cairo_t* cr) { show(cr, &c); });
  }
  g_object_unref(layout);
  return drawn;
}

namespace {

guint16 channel(double v) { return static_cast<guint16>(std::lround(std::clamp(v, 0.0, 1.0) * 65535.0)); }

}  // namespace

Paragraph::Paragraph(const std::string& s, const Font& font, double width, const std::vector<TextRun>& runs,
                     TextAlignment alignment) {
  TextEngine& e = engine();
  MutexLock lock(e.mutex);
  if (!e.context) return;  // after exit
  PangoLayout* layout = makeLayout(e, s, font);
  applyWrap(layout, width, LineBreakMode::WordWrap, 0);
  pango_layout_set_alignment(layout, alignment == TextAlignment::Center  ? PANGO_ALIGN_CENTER
                                     : alignment == TextAlignment::Right ? PANGO_ALIGN_RIGHT
                                                                         : PANGO_ALIGN_LEFT);
  if (!runs.empty()) {
    PangoAttrList* attrs = pango_attr_list_new();
    for (const TextRun& r : runs) {
      if (r.start >= r.end || r.end > s.size()) continue;
      auto range = [&](PangoAttribute* a) {
        a->start_index = static_cast<guint>(r.start);
        a->end_index = static_cast<guint>(r.end);
        pango_attr_list_insert(attrs, a);
      };
      range(pango_attr_foreground_new(channel(r.color.r), channel(r.color.g), channel(r.color.b)));
      if (r.color.a < 1) range(pango_attr_foreground_alpha_new(channel(r.color.a)));
      if (r.font.pointSize != font.pointSize) range(pango_attr_size_new_absolute(static_cast<int>(r.font.pointSize * PANGO_SCALE)));
      if (r.font.weight != font.weight)
        range(pango_attr_weight_new(r.font.weight == Font::Weight::Bold    ? PANGO_WEIGHT_BOLD
                                    : r.font.weight == Font::Weight::Light ? PANGO_WEIGHT_LIGHT
                                                                           : PANGO_WEIGHT_NORMAL));
    }
    pango_layout_set_attributes(layout, attrs);
    pango_attr_list_unref(attrs);
  }
  PangoRectangle logical;
  pango_layout_get_extents(layout, nullptr, &logical);
  size_ = {static_cast<double>(logical.width) / PANGO_SCALE, static_cast<double>(logical.height) / PANGO_SCALE};
  if (width > 0 && std::isfinite(width)) size_.width = std::min(size_.width, width);
  layout_ = layout;
}

Paragraph::~Paragraph() {
  if (!layout_) return;
  TextEngine& e = engine();
  MutexLock lock(e.mutex);
  g_object_unref(static_cast<PangoLayout*>(layout_));
}

void Paragraph::draw(GraphicsContext& ctx, Point origin, const Color& color) const {
  if (!layout_) return;
  ctx.paint([&](cairo_t* cr) {
    TextEngine& e = engine();
    MutexLock lock(e.mutex);
    cairo_move_to(cr, origin.x, origin.y);
    setSource(cr, color);
    pango_cairo_show_layout(cr, static_cast<PangoLayout*>(layout_));
  });
}

std::optional<std::size_t> Paragraph::indexAt(Point point) const {
  if (!layout_ || point.x < 0 || point.y < 0 || point.y > size_.height) return std::nullopt;
  TextEngine& e = engine();
  MutexLock lock(e.mutex);
  int index = 0, trailing = 0;
  if (!pango_layout_xy_to_index(static_cast<PangoLayout*>(layout_), static_cast<int>(point.x * PANGO_SCALE),
                                static_cast<int>(point.y * PANGO_SCALE), &index, &trailing))
    return std::nullopt;
  return static_cast<std::size_t>(index);
}

}  // namespace text
}  // namespace pf
