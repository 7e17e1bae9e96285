// Message service scripting, the hourglass guard and banner decoding.
#include <QBuffer>
#include <QCursor>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <cstdlib>
#include <stdexcept>

#include "ui_test_support.h"

namespace orv::uitest {
namespace {

using ui::MB_CANCEL;
using ui::MB_NO;
using ui::MB_OK;
using ui::MB_OKCANCEL;
using ui::MB_YES;
using ui::MB_YESNO;
using ui::MsgIcon;

using MessageService = DialogTest;

TEST_F(MessageService, RecordsEveryMessageAndAnswersFromTheQueueThenByDefault) {
  ui::MessageScript::Answer(MB_NO);
  EXPECT_EQ(ui::ShowMessage(nullptr, "Really?", "Q", MsgIcon::Question, MB_YESNO), MB_NO);
  // Queue empty: Yes for a Yes/No question, the first button otherwise.
  EXPECT_EQ(ui::ShowMessage(nullptr, "Again?", "", MsgIcon::Warning, MB_YESNO), MB_YES);
  EXPECT_EQ(ui::ShowMessage(nullptr, "Go on?", "", MsgIcon::None, MB_OKCANCEL), MB_OK);
  EXPECT_EQ(ui::ShowMessage(nullptr, "Done", "", MsgIcon::None, 0), MB_OK);  // no set: OK

  const auto& shown = ui::MessageScript::Shown();
  ASSERT_EQ(shown.size(), 4u);
  EXPECT_EQ(shown[0].text, "Really?");
  EXPECT_EQ(shown[0].caption, "Q");
  EXPECT_EQ(shown[0].icon, MsgIcon::Question);
  EXPECT_EQ(shown[0].buttons, MB_YESNO);
  EXPECT_EQ(shown[1].icon, MsgIcon::Warning);
  EXPECT_EQ(shown[3].buttons, MB_OK);

  ui::MessageScript::Clear();
  EXPECT_TRUE(ui::MessageScript::Shown().empty());
  ui::MessageScript::Answer(MB_CANCEL);
  ui::MessageScript::Clear();  // also drops queued answers
  EXPECT_EQ(ui::ShowMessage(nullptr, "x", "", MsgIcon::None, MB_OKCANCEL), MB_OK);
}

TEST_F(MessageService, ExceptionDisplayShowsTheErrorTextInAnErrorBox) {
  ui::ShowException(nullptr, std::runtime_error("Invalid data type for 'NIC_IP'"));
  ASSERT_EQ(ui::MessageScript::Shown().size(), 1u);
  EXPECT_EQ(ui::MessageScript::Shown()[0].text, "Invalid data type for 'NIC_IP'");
  EXPECT_EQ(ui::MessageScript::Shown()[0].icon, MsgIcon::Error);
}

TEST(Hourglass, IsRestoredOnEveryPathIncludingNestingAndExceptions) {
  ASSERT_EQ(QApplication::overrideCursor(), nullptr);
  {
    ui::HourglassGuard outer;
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    try {
      ui::HourglassGuard inner;
      throw std::runtime_error("device failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_NE(QApplication::overrideCursor(), nullptr);  // the outer one still holds
  }
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

QByteArray EncodeJpeg(const QImage& img) {
  QByteArray bytes;
  QBuffer buf(&bytes);
  buf.open(QIODevice::WriteOnly);
  EXPECT_TRUE(img.save(&buf, "JPG", 95));
  return bytes;
}

QImage Decode(const QByteArray& b) {
  return ui::DecodeJpeg(reinterpret_cast<const unsigned char*>(b.constData()),
                        static_cast<size_t>(b.size()));
}

TEST(Banner, DecodesColourAndGreyJpegs) {
  QImage src(40, 20, QImage::Format_RGB32);
  src.fill(QColor(200, 30, 40));
  const QImage out = Decode(EncodeJpeg(src));
  ASSERT_FALSE(out.isNull());
  EXPECT_EQ(out.size(), QSize(40, 20));
  const QColor c = out.pixelColor(20, 10);
  EXPECT_NEAR(c.red(), 200, 8);
  EXPECT_NEAR(c.green(), 30, 8);
  EXPECT_NEAR(c.blue(), 40, 8);

  QImage grey(16, 8, QImage::Format_Grayscale8);
  grey.fill(QColor(128, 128, 128));
  const QImage g = Decode(EncodeJpeg(grey));
  ASSERT_FALSE(g.isNull());
  EXPECT_NEAR(g.pixelColor(3, 3).green(), 128, 6);
}

TEST(Banner, MissingEmptyTruncatedOrCorruptFilesGiveNoPicture) {
  QImage src(64, 32, QImage::Format_RGB32);
  src.fill(Qt::blue);
  const QByteArray good = EncodeJpeg(src);
  ASSERT_FALSE(Decode(good).isNull());

  EXPECT_TRUE(Decode(QByteArray()).isNull());
  EXPECT_TRUE(Decode(good.left(good.size() / 2)).isNull());
  EXPECT_TRUE(Decode(good.left(20)).isNull());
  EXPECT_TRUE(Decode(QByteArray("not a picture at all", 20)).isNull());
  QByteArray flipped = good;
  for (int i = 200; i < flipped.size() - 2; i += 7) flipped[i] = static_cast<char>(flipped[i] ^ 0x5A);
  Decode(flipped);  // may or may not decode; must not crash

  // A frame header claiming 16383 x 16383 pixels (within what the format
  // allows) is refused before any memory is taken for it.
  QByteArray huge = good;
  const int sof = huge.indexOf(QByteArray("\xFF\xC0", 2));
  ASSERT_GT(sof, 0);
  huge[sof + 5] = '\x3F';
  huge[sof + 6] = '\xFF';
  huge[sof + 7] = '\x3F';
  huge[sof + 8] = '\xFF';
  EXPECT_TRUE(Decode(huge).isNull());

  QTemporaryDir dir;
  EXPECT_TRUE(ui::LoadBanner(dir.filePath("image/bar.jpg")).isNull());
  QFile empty(dir.filePath("empty.jpg"));
  ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
  empty.close();
  EXPECT_TRUE(ui::LoadBanner(dir.filePath("empty.jpg")).isNull());
}

TEST(Banner, TheShippedBannerDecodes) {
  const char* src = std::getenv("ORV_SRC");
  if (!src) GTEST_SKIP() << "ORV_SRC not set";
  const QImage img = ui::LoadBanner(QString(src) + "/resources/image/bar.jpg");
  ASSERT_FALSE(img.isNull());
  EXPECT_GT(img.width(), img.height() * 4);  // a wide strip
}

}  // namespace
}  // namespace orv::uitest
