// The window as drawn: a picture of the form on the offscreen platform has the coloured
// headings, the pale lists, the grey log and the red arrows where the form puts them;
// the local buttons stand above the local panel; every caption fits its button.
#include <QAbstractButton>
#include <QImage>

#include "tests/gui/WindowHarness.h"

namespace talvo::test {
namespace {

class WindowLayoutTest : public WindowTest {
 protected:
  // How many pixels of `rect` satisfy `test`.
  int Count(const QRect& rect, const std::function<bool(QColor)>& test) {
    int n = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
      for (int x = rect.left(); x <= rect.right(); ++x) n += test(picture.pixelColor(x, y)) ? 1 : 0;
    }
    return n;
  }
  QImage picture;
};

bool Blue(QColor c) { return c.blue() > 200 && c.red() < 80 && c.green() < 80; }
bool Red(QColor c) { return c.red() > 200 && c.green() < 80 && c.blue() < 80; }

TEST_F(WindowLayoutTest, ColoursAndControlsAreWhereTheFormPutsThem) {
  picture = form->grab().toImage();
  ASSERT_EQ(picture.size(), QSize(592, 403));
  EXPECT_GT(Count({8, 8, 265, 22}, Blue), 100) << "heading of the local pane";
  EXPECT_GT(Count({304, 8, 281, 22}, Red), 100) << "heading of the remote pane";
  EXPECT_GT(Count({275, 122, 25, 25}, Red), 20) << "download arrow";
  EXPECT_GT(Count({275, 198, 25, 25}, Red), 20) << "upload arrow";
  // Empty parts of the lists and of the log.
  EXPECT_EQ(picture.pixelColor(4 + 8 + 60, 34 + 132 + 110), QColor(235, 255, 255));
  EXPECT_EQ(picture.pixelColor(302 + 120 + 60, 34 + 7 + 80), QColor(255, 235, 235));
  EXPECT_EQ(picture.pixelColor(302 + 120 + 60, 34 + 112 + 130), QColor(255, 235, 235));
  EXPECT_EQ(picture.pixelColor(4 + 300, 306 + 40), QColor(171, 171, 171));
  // Window buttons inside the local panel's rectangle are not hidden by it.
  EXPECT_EQ(form->childAt(152 + 58, 134 + 12), form->ui.Button6);
  EXPECT_EQ(form->childAt(152 + 58, 230 + 12), form->ui.Button14);
}

TEST_F(WindowLayoutTest, EveryCaptionFitsItsButton) {
  for (QAbstractButton* button : form->findChildren<QAbstractButton*>()) {
    QString caption = button->text();
    caption.remove(QLatin1Char('&'));
    if (caption.isEmpty()) continue;
    EXPECT_LE(button->fontMetrics().horizontalAdvance(caption), button->width() - 6)
        << caption.toStdString() << " in " << button->font().family().toStdString();
  }
}

}  // namespace
}  // namespace talvo::test
