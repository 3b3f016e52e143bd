#pragma once
// Fonts and text: measuring and drawing text over pango with the project's one font
// (WenQuanYi Micro Hei, chosen through the fontconfig file beside this header), so that
// measurements are the same on every machine. Bold faces are emboldened by fontconfig.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/Color.h"
#include "platform/ui/Geometry.h"

namespace pf {

class GraphicsContext;

enum class TextAlignment { Left = 0, Center = 1, Right = 2, Justified = 3, Natural = 4 };
enum class LineBreakMode {
  WordWrap = 0, CharWrap = 1, Clip = 2, TruncateHead = 3, TruncateTail = 4, TruncateMiddle = 5
};

struct Font {
  enum class Weight { Light, Regular, Bold };
  std::string name;  // the name the font was asked for ("HelveticaNeue-Bold", ".System", ...)
  double pointSize = 17;
  Weight weight = Weight::Regular;

  static Font systemFont(double size);
  static Font boldSystemFont(double size);
  // A font by its platform name: a name containing "Bold" gives the bold face, "Light" the light
  // one; every family is drawn with the project font.
  static Font named(const std::string& name, double size);

  double lineHeight() const;  // ascender + descender, in points
  double ascender() const;
  double descender() const;  // positive

  bool operator==(const Font&) const = default;
};

struct TextShadow {
  Color color;
  Size offset;  // y grows downwards
  double blur = 0;
};

namespace text {

// Size of the text on one line, each side rounded up to whole points; the empty text is 0 by 0.
Size size(const std::string& text, const Font& font);
// Size of the text wrapped within constraint.width (lines that do not fit constraint.height are
// dropped), each side rounded up to whole points; the empty text is 0 by 0.
Size boundingSize(const std::string& text, const Font& font, Size constraint,
                  LineBreakMode mode = LineBreakMode::WordWrap);
// The same without rounding (the bounding rectangle of the newer platform call).
Size boundingSizeExact(const std::string& text, const Font& font, Size constraint,
                       LineBreakMode mode = LineBreakMode::WordWrap);

struct DrawOptions {
  Color color = Color::black();
  TextAlignment alignment = TextAlignment::Natural;
  LineBreakMode lineBreak = LineBreakMode::WordWrap;
  int numberOfLines = 0;  // 0: as many as fit in the rectangle's height
  std::optional<TextShadow> shadow;
};
// Draws the text from the rectangle's top, wrapped within its width; returns the size drawn.
Size draw(GraphicsContext& ctx, const std::string& text, const Font& font, const Rect& rect,
          const DrawOptions& options);

// Path of the fontconfig file in use (for diagnostics).
std::string fontConfigPath();

// A paragraph laid out once at a width and then measured, drawn and probed as often as needed:
// styled runs over byte ranges of the text, wrapped at word (else character) boundaries.
struct TextRun {
  std::size_t start = 0;  // byte range of the text
  std::size_t end = 0;
  Font font;
  Color color;
};

class Paragraph {
 public:
  Paragraph(const std::string& text, const Font& font, double width, const std::vector<TextRun>& runs = {},
            TextAlignment alignment = TextAlignment::Left);
  ~Paragraph();
  Paragraph(const Paragraph&) = delete;
  Paragraph& operator=(const Paragraph&) = delete;

  // Logical size, not rounded.
  Size size() const { return size_; }
  // Draws with its top-left corner at origin; text outside the runs takes `color`.
  void draw(GraphicsContext& ctx, Point origin, const Color& color) const;
  // Byte index of the character under a point of the paragraph, or nullopt when no text is there.
  std::optional<std::size_t> indexAt(Point point) const;

 private:
  void* layout_ = nullptr;  // PangoLayout
  Size size_;
};

}  // namespace text
}  // namespace pf
