// Pixel checks of the QImage drawing context: GDI's rectangle,
// ellipse and line conventions, clipping, and sizes down to zero.
#include "qtdraw/qimage_context.h"

#include <gtest/gtest.h>

#include <climits>

#include "core/simulation.h"

namespace {

constexpr colour_ref kRed = rgb(255, 0, 0);
constexpr colour_ref kBlue = rgb(0, 0, 255);
constexpr QRgb kQtRed = 0xFFFF0000u;
constexpr QRgb kQtBlue = 0xFF0000FFu;
constexpr QRgb kQtBlack = 0xFF000000u;

class QImageContextTest : public ::testing::Test {
 protected:
  simulation sim;  // the maker of the drawing objects
  QImageContextTest() : dc(40, 30) {
    brush = create_solid_brush(sim, kBlue);
    pen = create_pen(sim, 1, kRed);
    dc.select_object(brush);
    dc.select_object(pen);
  }
  ~QImageContextTest() override {
    delete_object(sim, brush);
    delete_object(sim, pen);
  }

  QRgb at(int x, int y) const { return dc.image().pixel(x, y); }
  // The box spanned by every pixel that is not black (the image starts black).
  QRect painted() const {
    QRect box;
    for (int y = 0; y < dc.height(); ++y)
      for (int x = 0; x < dc.width(); ++x)
        if (at(x, y) != kQtBlack) box |= QRect(x, y, 1, 1);
    return box;
  }
  int painted_count() const {
    int n = 0;
    for (int y = 0; y < dc.height(); ++y)
      for (int x = 0; x < dc.width(); ++x) n += at(x, y) != kQtBlack;
    return n;
  }

  qimage_context dc;
  draw_object brush;
  draw_object pen;
};

TEST_F(QImageContextTest, NewImageIsBlackOfTheGivenSize) {
  EXPECT_EQ(dc.width(), 40);
  EXPECT_EQ(dc.height(), 30);
  EXPECT_EQ(dc.image().format(), QImage::Format_RGB32);
  EXPECT_EQ(painted_count(), 0);
}

TEST_F(QImageContextTest, RectangleCoversLeftToRightMinusOneWithThePenOutside) {
  dc.rectangle(10, 10, 20, 20);
  EXPECT_EQ(painted(), QRect(QPoint(10, 10), QPoint(19, 19)));
  for (int k = 10; k <= 19; ++k) {
    EXPECT_EQ(at(k, 10), kQtRed);
    EXPECT_EQ(at(k, 19), kQtRed);
    EXPECT_EQ(at(10, k), kQtRed);
    EXPECT_EQ(at(19, k), kQtRed);
  }
  for (int y = 11; y <= 18; ++y)
    for (int x = 11; x <= 18; ++x) EXPECT_EQ(at(x, y), kQtBlue) << x << "," << y;
}

TEST_F(QImageContextTest, RectangleCornersInAnyOrderGiveTheSameBox) {
  dc.rectangle(20, 20, 10, 10);
  EXPECT_EQ(painted(), QRect(QPoint(10, 10), QPoint(19, 19)));
  EXPECT_EQ(at(15, 15), kQtBlue);
}

TEST_F(QImageContextTest, ThinAndEmptyRectangles) {
  dc.rectangle(5, 5, 6, 9);  // one pixel wide: all outline
  EXPECT_EQ(painted(), QRect(QPoint(5, 5), QPoint(5, 8)));
  for (int y = 5; y <= 8; ++y) EXPECT_EQ(at(5, y), kQtRed);
  dc.rectangle(30, 5, 30, 20);  // zero width: nothing
  dc.rectangle(30, 5, 35, 5);   // zero height: nothing
  EXPECT_EQ(painted_count(), 4);
}

TEST_F(QImageContextTest, ColoursArePaintedExactly) {
  const draw_object wall = create_solid_brush(sim, rgb(0, 128, 200));
  dc.select_object(wall);
  dc.rectangle(0, 0, 5, 5);
  EXPECT_EQ(at(2, 2), qRgb(0, 128, 200));
  dc.select_object(brush);
  delete_object(sim, wall);
}

TEST_F(QImageContextTest, RectangleIsClippedToTheImage) {
  dc.rectangle(-5, -5, 3, 3);
  EXPECT_EQ(painted(), QRect(QPoint(0, 0), QPoint(2, 2)));
  EXPECT_EQ(at(0, 0), kQtBlue);  // the outline lies off the image
  EXPECT_EQ(at(2, 2), kQtRed);
}

TEST_F(QImageContextTest, EllipseStaysInsideItsBoxAndTouchesEverySide) {
  dc.ellipse(5, 4, 25, 20);
  EXPECT_EQ(painted(), QRect(QPoint(5, 4), QPoint(24, 19)));
  // Outline on the extreme points, brush in the middle.
  EXPECT_EQ(at(15, 12), kQtBlue);
  EXPECT_EQ(at(5, 12), kQtRed);
  EXPECT_EQ(at(24, 12), kQtRed);
  EXPECT_EQ(at(15, 4), kQtRed);
  EXPECT_EQ(at(15, 19), kQtRed);
  // The corners of the box stay clear.
  EXPECT_EQ(at(5, 4), kQtBlack);
  EXPECT_EQ(at(24, 19), kQtBlack);
  // Symmetric about both axes of the box.
  for (int y = 4; y <= 19; ++y)
    for (int x = 5; x <= 24; ++x) {
      EXPECT_EQ(at(x, y), at(29 - x, y)) << x << "," << y;
      EXPECT_EQ(at(x, y), at(x, 23 - y)) << x << "," << y;
    }
}

TEST_F(QImageContextTest, SmallEllipsesStillShow) {
  dc.ellipse(2, 2, 3, 3);  // one pixel
  EXPECT_EQ(painted(), QRect(2, 2, 1, 1));
  dc.ellipse(10, 10, 16, 15);  // a waypoint's size at 640 x 480
  EXPECT_EQ(painted(), QRect(QPoint(2, 2), QPoint(15, 14)));
  dc.ellipse(30, 10, 30, 20);  // zero width: nothing
  EXPECT_EQ(painted(), QRect(QPoint(2, 2), QPoint(15, 14)));
}

TEST_F(QImageContextTest, LineStopsOnePixelShortOfItsEnd) {
  dc.move_to(0, 0);
  dc.line_to(10, 0);
  EXPECT_EQ(painted(), QRect(QPoint(0, 0), QPoint(9, 0)));
  EXPECT_EQ(at(0, 0), kQtRed);  // lines take the pen's colour
  dc.line_to(10, 5);            // continues from the last end point
  EXPECT_EQ(painted(), QRect(QPoint(0, 0), QPoint(10, 4)));
  EXPECT_EQ(at(10, 0), kQtRed);
  EXPECT_EQ(at(10, 5), kQtBlack);
}

TEST_F(QImageContextTest, DiagonalAndSteepLinesStepOnePixelPerRowOrColumn) {
  dc.move_to(0, 0);
  dc.line_to(5, 5);
  for (int k = 0; k < 5; ++k) EXPECT_EQ(at(k, k), kQtRed);
  EXPECT_EQ(painted_count(), 5);

  dc.move_to(20, 20);
  dc.line_to(22, 10);  // steep, upward: ten pixels, one per row
  EXPECT_EQ(painted_count(), 15);
  EXPECT_EQ(at(20, 20), kQtRed);
  EXPECT_EQ(at(22, 11), kQtRed);
  EXPECT_EQ(at(22, 10), kQtBlack);
}

TEST_F(QImageContextTest, LineToTheSamePointDrawsNothing) {
  dc.move_to(7, 7);
  dc.line_to(7, 7);
  EXPECT_EQ(painted_count(), 0);
}

// Clipped before they are walked: BM_HugeCoordinates measures microseconds where
// walking 2^32 steps would take seconds.
TEST_F(QImageContextTest, HugeCoordinatesAreClipped) {
  dc.move_to(INT_MIN, INT_MIN);
  dc.line_to(INT_MAX, INT_MAX);  // the diagonal through the image
  for (int k = 0; k < 30; ++k) EXPECT_EQ(at(k, k), kQtRed) << k;
  dc.move_to(INT_MIN, 5);
  dc.line_to(INT_MAX, 5);
  for (int x = 0; x < 40; ++x) EXPECT_EQ(at(x, 5), kQtRed);
  dc.rectangle(INT_MIN, INT_MIN, INT_MAX, INT_MAX);  // outline far outside
  EXPECT_EQ(at(20, 20), kQtBlue);
  dc.ellipse(INT_MIN, INT_MIN, INT_MAX, INT_MAX);
  EXPECT_EQ(at(20, 20), kQtBlue);  // the inside of an ellipse far larger than the image
}

TEST(QImageContextSizes, ZeroAndNegativeSizesDrawNothing) {
  for (auto size : {std::pair{0, 0}, std::pair{-5, 10}, std::pair{10, 0}}) {
    qimage_context dc(size.first, size.second);
    EXPECT_EQ(dc.width(), 0);
    EXPECT_EQ(dc.height(), 0);
    EXPECT_TRUE(dc.image().isNull());
    dc.rectangle(0, 0, 10, 10);
    dc.ellipse(0, 0, 10, 10);
    dc.move_to(0, 0);
    dc.line_to(10, 10);
    dc.text_out(1, 1, "Update rate");
  }
}

TEST(QImageContextText, TextIsBlackOnWhiteFromItsTopLeftCorner) {
  qimage_context dc(300, 40);
  simulation sim;
  const draw_object green = create_solid_brush(sim, rgb(0, 255, 0));
  const draw_object green_pen = create_pen(sim, 1, rgb(0, 255, 0));
  dc.select_object(green);
  dc.select_object(green_pen);
  dc.rectangle(0, 0, 300, 40);
  dc.text_out(1, 1, "Update rate: 100");
  delete_object(sim, green);
  delete_object(sim, green_pen);

  const QImage& image = dc.image();
  const QRgb background = qRgb(0, 255, 0);
  int dark = 0;
  int white = 0;
  QRect touched;
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 300; ++x) {
      const QRgb p = image.pixel(x, y);
      if (p == background) continue;
      touched |= QRect(x, y, 1, 1);
      dark += qGray(p) < 100;
      white += p == 0xFFFFFFFFu;
    }
  }
  // An opaque white box whose top-left corner is (1, 1), with dark glyphs in it.
  EXPECT_EQ(touched.topLeft(), QPoint(1, 1));
  EXPECT_EQ(image.pixel(1, 1), 0xFFFFFFFFu);
  EXPECT_GT(dark, 50);
  EXPECT_GT(white, dark);
  EXPECT_LT(touched.height(), 30);
}

}  // namespace
