// Extruded caption glyphs: FreeType reads the embedded face's outlines in font units,
// the curves are flattened into short chords, the GLU tessellator fills the faces and
// quad strips close the sides. Built once at start-up into display lists 10..136.
#include "platform/glyphs.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <array>
#include <cmath>
#include <deque>
#include <string>
#include <vector>

#include "resources/embedded.h"

namespace {

//----------------------------------------------------------------------------------
// Outline flattening
//----------------------------------------------------------------------------------

// Largest distance between a curve and its chords, in em: one unit of the face's own
// 2048-unit grid, half a pixel on a glyph a thousand pixels high. Finer only adds
// vertices that every caption frame pays for.
constexpr double flatteningTolerance = 1.0 / 2048.0;
constexpr int maxSegmentsPerCurve = 64;
constexpr float extrusionDepth = 1.0f;

struct Point {
  double x;
  double y;
};

// The flattened contours of one glyph, in em units, each closed implicitly.
struct GlyphOutline {
  double emScale = 1.0;  // 1 / units per em
  std::vector<Point> points;
  std::vector<std::size_t> contourStarts;

  void clear() {
    points.clear();
    contourStarts.clear();
  }

  void beginContour(Point p) {
    closeContour();
    contourStarts.push_back(points.size());
    points.push_back(p);
  }

  void add(Point p) {
    const Point& last = points.back();
    if (last.x == p.x && last.y == p.y) return;
    points.push_back(p);
  }

  // FreeType ends each contour on its starting point; the faces and walls close
  // contours themselves, so that repeated point (and any one-point contour) goes.
  void closeContour() {
    if (contourStarts.empty()) return;
    const std::size_t start = contourStarts.back();
    if (points.size() - start > 1 && points.back().x == points[start].x && points.back().y == points[start].y)
      points.pop_back();
    if (points.size() - start < 3) {
      points.resize(start);
      contourStarts.pop_back();
    }
  }

  std::size_t contourEnd(std::size_t contour) const {
    return contour + 1 < contourStarts.size() ? contourStarts[contour + 1] : points.size();
  }

  Point fromFont(const FT_Vector* v) const { return {v->x * emScale, v->y * emScale}; }
};

// A chord of parameter length 1/n stays within |B''| / (8 n^2) of the curve.
int segmentsFor(double secondDerivativeBound) {
  const double n = std::ceil(std::sqrt(secondDerivativeBound / (8.0 * flatteningTolerance)));
  if (n < 1.0) return 1;
  return n > maxSegmentsPerCurve ? maxSegmentsPerCurve : static_cast<int>(n);
}

int moveTo(const FT_Vector* to, void* user) {
  auto* outline = static_cast<GlyphOutline*>(user);
  outline->beginContour(outline->fromFont(to));
  return 0;
}

int lineTo(const FT_Vector* to, void* user) {
  auto* outline = static_cast<GlyphOutline*>(user);
  outline->add(outline->fromFont(to));
  return 0;
}

int conicTo(const FT_Vector* control, const FT_Vector* to, void* user) {
  auto* outline = static_cast<GlyphOutline*>(user);
  const Point p0 = outline->points.back();
  const Point p1 = outline->fromFont(control);
  const Point p2 = outline->fromFont(to);
  const double bound = 2.0 * std::hypot(p0.x - 2.0 * p1.x + p2.x, p0.y - 2.0 * p1.y + p2.y);
  const int n = segmentsFor(bound);
  for (int i = 1; i <= n; ++i) {
    const double t = static_cast<double>(i) / n;
    const double u = 1.0 - t;
    outline->add({u * u * p0.x + 2.0 * u * t * p1.x + t * t * p2.x, u * u * p0.y + 2.0 * u * t * p1.y + t * t * p2.y});
  }
  return 0;
}

int cubicTo(const FT_Vector* control1, const FT_Vector* control2, const FT_Vector* to, void* user) {
  auto* outline = static_cast<GlyphOutline*>(user);
  const Point p0 = outline->points.back();
  const Point p1 = outline->fromFont(control1);
  const Point p2 = outline->fromFont(control2);
  const Point p3 = outline->fromFont(to);
  const double d1 = std::hypot(p0.x - 2.0 * p1.x + p2.x, p0.y - 2.0 * p1.y + p2.y);
  const double d2 = std::hypot(p1.x - 2.0 * p2.x + p3.x, p1.y - 2.0 * p2.y + p3.y);
  const int n = segmentsFor(6.0 * (d1 > d2 ? d1 : d2));
  for (int i = 1; i <= n; ++i) {
    const double t = static_cast<double>(i) / n;
    const double u = 1.0 - t;
    const double a = u * u * u, b = 3.0 * u * u * t, c = 3.0 * u * t * t, d = t * t * t;
    outline->add({a * p0.x + b * p1.x + c * p2.x + d * p3.x, a * p0.y + b * p1.y + c * p2.y + d * p3.y});
  }
  return 0;
}

//----------------------------------------------------------------------------------
// Face tessellation
//----------------------------------------------------------------------------------

// What the tessellator callbacks write into: the triangles of the glyph's face, and
// the vertices it invents where contours cross (alive until the glyph is done).
struct FaceTriangles {
  std::vector<float> corners;  // x, y pairs; every three make a triangle
  std::deque<std::array<GLdouble, 3>> invented;
  GLenum error = 0;
};

void GLAPIENTRY tessBegin(GLenum, void*) {}

// Registering an edge-flag callback makes the tessellator emit plain triangles only.
void GLAPIENTRY tessEdgeFlag(GLboolean, void*) {}

void GLAPIENTRY tessVertex(void* vertex, void* data) {
  const auto* xyz = static_cast<const GLdouble*>(vertex);
  auto* face = static_cast<FaceTriangles*>(data);
  face->corners.push_back(static_cast<float>(xyz[0]));
  face->corners.push_back(static_cast<float>(xyz[1]));
}

void GLAPIENTRY tessEnd(void*) {}

void GLAPIENTRY tessCombine(GLdouble coords[3], void*[4], GLfloat[4], void** out, void* data) {
  auto* face = static_cast<FaceTriangles*>(data);
  face->invented.push_back({coords[0], coords[1], coords[2]});
  *out = face->invented.back().data();
}

void GLAPIENTRY tessError(GLenum code, void* data) { static_cast<FaceTriangles*>(data)->error = code; }

//----------------------------------------------------------------------------------
// One glyph into one display list
//----------------------------------------------------------------------------------

struct GlyphBuilder {
  GlyphOutline outline;
  FaceTriangles face;
  std::vector<std::array<GLdouble, 3>> tessInput;
  GLUtesselator* tess = nullptr;

  void tessellate(bool evenOdd) {
    face.corners.clear();
    face.invented.clear();
    face.error = 0;
    tessInput.clear();
    tessInput.reserve(outline.points.size());  // the tessellator keeps pointers into it
    for (const Point& p : outline.points) tessInput.push_back({p.x, p.y, 0.0});

    gluTessProperty(tess, GLU_TESS_WINDING_RULE, evenOdd ? GLU_TESS_WINDING_ODD : GLU_TESS_WINDING_NONZERO);
    gluTessBeginPolygon(tess, &face);
    for (std::size_t contour = 0; contour < outline.contourStarts.size(); ++contour) {
      gluTessBeginContour(tess);
      for (std::size_t i = outline.contourStarts[contour]; i < outline.contourEnd(contour); ++i)
        gluTessVertex(tess, tessInput[i].data(), tessInput[i].data());
      gluTessEndContour(tess);
    }
    gluTessEndPolygon(tess);
  }

  void compileList(GLuint list, float advance) {
    glNewList(list, GL_COMPILE);
    if (!face.corners.empty()) {
      glBegin(GL_TRIANGLES);
      for (std::size_t i = 0; i < face.corners.size(); i += 2) glVertex3f(face.corners[i], face.corners[i + 1], 0.0f);
      // The back face runs the other way round so that it faces away.
      for (std::size_t i = face.corners.size(); i >= 2; i -= 2)
        glVertex3f(face.corners[i - 2], face.corners[i - 1], -extrusionDepth);
      glEnd();
    }
    for (std::size_t contour = 0; contour < outline.contourStarts.size(); ++contour) {
      const std::size_t start = outline.contourStarts[contour];
      const std::size_t end = outline.contourEnd(contour);
      glBegin(GL_QUAD_STRIP);
      for (std::size_t i = start; i <= end; ++i) {
        const Point& p = outline.points[i < end ? i : start];
        glVertex3f(static_cast<float>(p.x), static_cast<float>(p.y), 0.0f);
        glVertex3f(static_cast<float>(p.x), static_cast<float>(p.y), -extrusionDepth);
      }
      glEnd();
    }
    glTranslatef(advance, 0.0f, 0.0f);
    glEndList();
  }
};

std::string freetypeFailure(const char* what, FT_Error code) {
  const char* text = FT_Error_String(code);
  return std::string("pulse165: cannot build the caption glyphs: ") + what + " (" +
         (text != nullptr ? std::string(text) : "FreeType error " + std::to_string(code)) + ")";
}

}  // namespace

bool buildGlyphLists(std::string& error) {
  FT_Library library = nullptr;
  FT_Error code = FT_Init_FreeType(&library);
  if (code != 0) {
    error = freetypeFailure("FreeType does not start", code);
    return false;
  }
  FT_Face face = nullptr;
  code = FT_New_Memory_Face(library, embeddedFont, static_cast<FT_Long>(embeddedFontSize()), 0, &face);
  if (code != 0 || !FT_IS_SCALABLE(face) || face->units_per_EM == 0) {
    error = freetypeFailure("the embedded face cannot be read", code);
    if (face != nullptr) FT_Done_Face(face);
    FT_Done_FreeType(library);
    return false;
  }

  GlyphBuilder builder;
  builder.outline.emScale = 1.0 / face->units_per_EM;
  builder.tess = gluNewTess();
  using Callback = _GLUfuncptr;
  gluTessCallback(builder.tess, GLU_TESS_BEGIN_DATA, reinterpret_cast<Callback>(tessBegin));
  gluTessCallback(builder.tess, GLU_TESS_EDGE_FLAG_DATA, reinterpret_cast<Callback>(tessEdgeFlag));
  gluTessCallback(builder.tess, GLU_TESS_VERTEX_DATA, reinterpret_cast<Callback>(tessVertex));
  gluTessCallback(builder.tess, GLU_TESS_END_DATA, reinterpret_cast<Callback>(tessEnd));
  gluTessCallback(builder.tess, GLU_TESS_COMBINE_DATA, reinterpret_cast<Callback>(tessCombine));
  gluTessCallback(builder.tess, GLU_TESS_ERROR_DATA, reinterpret_cast<Callback>(tessError));
  gluTessNormal(builder.tess, 0.0, 0.0, 1.0);

  FT_Outline_Funcs walk{};
  walk.move_to = moveTo;
  walk.line_to = lineTo;
  walk.conic_to = conicTo;
  walk.cubic_to = cubicTo;

  for (int c = 0; c < fontGlyphCount; ++c) {
    builder.outline.clear();
    builder.face.corners.clear();
    float advance = 0.0f;
    const FT_UInt glyphIndex = FT_Get_Char_Index(face, static_cast<FT_ULong>(c));
    // Codes the face does not map (the control codes) get a list that draws nothing.
    if (glyphIndex != 0 && FT_Load_Glyph(face, glyphIndex, FT_LOAD_NO_SCALE) == 0) {
      advance = static_cast<float>(face->glyph->advance.x * builder.outline.emScale);
      if (face->glyph->format == FT_GLYPH_FORMAT_OUTLINE) {
        FT_Outline_Decompose(&face->glyph->outline, &walk, &builder.outline);
        builder.outline.closeContour();
      }
    }
    if (!builder.outline.contourStarts.empty())
      builder.tessellate((face->glyph->outline.flags & FT_OUTLINE_EVEN_ODD_FILL) != 0);
    builder.compileList(static_cast<GLuint>(fontListBase + c), advance);
  }

  gluDeleteTess(builder.tess);
  FT_Done_Face(face);
  FT_Done_FreeType(library);
  return true;
}
