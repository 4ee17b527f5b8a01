#include "engine/compositor/CursorCompositor.h"

#include "capture/CameraOverlayState.h"
#include "engine/compositor/FocusState.h"
#include "engine/compositor/MouseTrack.h"
#include "engine/compositor/NV12Blender.h"
#include "engine/compositor/PenBoard.h"
#include "engine/compositor/PenPalette.h"
#include "engine/VideoSyncQueue.h"
#include "platform/synthetic/SyntheticPointerService.h"
#include "prefs/PerfCounters.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

using namespace corvessa;

namespace {

constexpr int W = 160;
constexpr int H = 90;
constexpr double kT0 = 100.0;

struct Rgb {
    double r = 0;
    double g = 0;
    double b = 0;
};

// BT.709 video range back to RGB, independently of the code under test.
Rgb rgbAt(const PixelBuffer& buffer, int x, int y)
{
    constexpr double kr = 0.2126;
    constexpr double kb = 0.0722;
    constexpr double kg = 1 - kr - kb;
    const double yv = buffer.baseAddress(0)[size_t(y) * buffer.bytesPerRow(0) + size_t(x)];
    const uint8_t* uv = buffer.baseAddress(1) + size_t(y / 2) * buffer.bytesPerRow(1) + size_t(x / 2) * 2;
    const double l = (yv - 16) * 255 / 219;
    const double cb = (uv[0] - 128) * 255.0 / 224;
    const double cr = (uv[1] - 128) * 255.0 / 224;
    const double r = l + 2 * (1 - kr) * cr;
    const double b = l + 2 * (1 - kb) * cb;
    return {r, (l - kr * r - kb * b) / kg, b};
}

int lumaAt(const PixelBuffer& buffer, int x, int y)
{
    return buffer.baseAddress(0)[size_t(y) * buffer.bytesPerRow(0) + size_t(x)];
}

int cbAt(const PixelBuffer& buffer, int x, int y)
{
    return buffer.baseAddress(1)[size_t(y / 2) * buffer.bytesPerRow(1) + size_t(x / 2) * 2];
}

::testing::AssertionResult near(const Rgb& got, QRgb want, double tolerance)
{
    const double dr = std::abs(got.r - qRed(want));
    const double dg = std::abs(got.g - qGreen(want));
    const double db = std::abs(got.b - qBlue(want));
    if (dr <= tolerance && dg <= tolerance && db <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got (" << got.r << ", " << got.g << ", " << got.b << ") want ("
                                         << qRed(want) << ", " << qGreen(want) << ", " << qBlue(want) << ")";
}

PixelBufferRef solidFrame(QRgb c, int w = W, int h = H)
{
    auto b = PixelBuffer::create(w, h, PixelFormat::NV12VideoRange);
    b->fill(uint8_t(qRed(c)), uint8_t(qGreen(c)), uint8_t(qBlue(c)));
    return b;
}

// Luma rises by one per column, Cb by two per chroma row: every pixel tells where it came from.
PixelBufferRef rampFrame()
{
    auto b = PixelBuffer::create(W, H, PixelFormat::NV12VideoRange);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            b->baseAddress(0)[size_t(y) * b->bytesPerRow(0) + size_t(x)] = uint8_t(30 + x);
    for (int y = 0; y < H / 2; ++y)
        for (int x = 0; x < W / 2; ++x) {
            b->baseAddress(1)[size_t(y) * b->bytesPerRow(1) + size_t(x) * 2] = uint8_t(60 + 2 * y);
            b->baseAddress(1)[size_t(y) * b->bytesPerRow(1) + size_t(x) * 2 + 1] = 128;
        }
    return b;
}

PixelBufferRef bgraPicture(int w, int h, const std::function<QRgb(int, int)>& colour)
{
    auto b = PixelBuffer::create(w, h, PixelFormat::BGRA);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(b->baseAddress(0) + size_t(y) * b->bytesPerRow(0));
        for (int x = 0; x < w; ++x)
            row[x] = colour(x, y) | 0xff000000u;
    }
    return b;
}

// A transparent sprite with opaque squares (top-left pixel, side, colour).
QImage spriteImage(int side, std::vector<std::tuple<QPoint, int, QRgb>> squares)
{
    QImage img(side, side, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    for (const auto& [at, size, colour] : squares)
        p.fillRect(QRect(at, QSize(size, size)), QColor(colour));
    return img;
}

CursorStyle::Look lookOf(const QImage& image, QPointF hot, QPointF pivot, double pressAngle = 0.2)
{
    CursorStyle::Look look;
    look.sprite = CursorArt::Sprite{image, hot, pivot, QStringLiteral("Test")};
    look.baseSize = image.width(); // one sprite pixel per output pixel at k = 1
    look.pressAngle = pressAngle;
    look.shadowScale = 1;
    look.isSystem = false;
    return look;
}

MediaTime at(double t)
{
    return MediaTime::fromSeconds(t);
}

class CursorCompositorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        pointer = std::make_shared<SyntheticPointerService>();
        track = MouseTrack::create(pointer);
    }

    std::unique_ptr<CursorCompositor> make(bool drawPaw = true, std::shared_ptr<FocusState> focus = {},
                                           CursorCompositor::Region region = CursorCompositor::Region::display(
                                               GlobalRect(0, 0, W, H)))
    {
        auto c = std::make_unique<CursorCompositor>(track, region, 1.0, QSize(W, H), drawPaw, false, std::move(focus),
                                                    double(H));
        c->setPenBoard(&board);
        return c;
    }

    // Puts the cursor at an output pixel position (k = 1, so points are pixels) at time t.
    void cursorAt(double x, double y, double t, bool down = false)
    {
        pointer->setLocation({x, H - y});
        pointer->setPrimaryDown(down);
        track->pollAt(t);
    }

    std::shared_ptr<SyntheticPointerService> pointer;
    std::shared_ptr<MouseTrack> track;
    PenBoard board;
};

// ---------------------------------------------------------------- pass-through

TEST_F(CursorCompositorTest, NothingToDrawPassesTheFrameThroughAndIsStillTimed)
{
    cursorAt(50, 40, kT0);
    auto c = make(/*drawPaw*/ false);
    PerfCounters::shared().drain();
    EXPECT_EQ(c->render(solidFrame(qRgb(90, 90, 90)), at(kT0), false), nullptr);
    EXPECT_EQ(PerfCounters::shared().drain().render.n, 1);

    // With a cursor to draw, a frame is composed; the input is left untouched.
    auto paw = make(true);
    auto input = solidFrame(qRgb(90, 90, 90));
    const int before = lumaAt(*input, 50, 40);
    auto out = paw->render(input, at(kT0), false);
    ASSERT_NE(out, nullptr);
    EXPECT_NE(out, input);
    EXPECT_EQ(out->format(), PixelFormat::NV12VideoRange);
    EXPECT_EQ(QSize(out->width(), out->height()), QSize(W, H));
    EXPECT_EQ(lumaAt(*input, 50, 40), before);
}

TEST_F(CursorCompositorTest, CursorSlackIsEightyPixels)
{
    auto c = make();
    cursorAt(-79.5, 40, kT0);
    EXPECT_NE(c->render(solidFrame(qRgb(90, 90, 90)), at(kT0), false), nullptr);
    cursorAt(-80, 40, kT0 + 1);
    EXPECT_EQ(c->render(solidFrame(qRgb(90, 90, 90)), at(kT0 + 1), false), nullptr);
    cursorAt(W + 80, 40, kT0 + 2);
    EXPECT_EQ(c->render(solidFrame(qRgb(90, 90, 90)), at(kT0 + 2), false), nullptr);
}

TEST_F(CursorCompositorTest, DeferredFrameWithNothingElseIsTheInputItself)
{
    auto c = make(false);
    auto input = solidFrame(qRgb(90, 90, 90));
    EXPECT_EQ(c->render(input, at(kT0), true), input);
}

TEST_F(CursorCompositorTest, ColourTagsAreCopiedOnlyWhenPresent)
{
    cursorAt(50, 40, kT0);
    auto c = make();
    auto input = solidFrame(qRgb(90, 90, 90));
    input->setAttachment(PixelAttachmentKey::YCbCrMatrix, QStringLiteral("ITU_R_709_2"));
    input->setAttachment(PixelAttachmentKey::FrameStatus, 0);
    auto out = c->render(input, at(kT0), false);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->attachment(PixelAttachmentKey::YCbCrMatrix).toString(), QStringLiteral("ITU_R_709_2"));
    EXPECT_FALSE(out->attachment(PixelAttachmentKey::ColorPrimaries).isValid());
    EXPECT_FALSE(out->attachment(PixelAttachmentKey::FrameStatus).isValid());
}

// ---------------------------------------------------------------- cursor

TEST_F(CursorCompositorTest, SpriteLandsWithItsHotSpotOnTheCursor)
{
    // A 2x2 red mark whose top-left corner is the hot spot, and a green one 10 px right.
    const QImage img =
        spriteImage(52, {{QPoint(10, 20), 2, qRgb(230, 20, 20)}, {QPoint(20, 20), 2, qRgb(20, 200, 20)}});
    auto c = make();
    c->setLook(lookOf(img, QPointF(10.0 / 52, 20.0 / 52), QPointF(0.5, 0.5)));
    c->setNativeSystemAppearance(true); // no shadow: exact pixels

    cursorAt(30, 20, kT0);
    auto out = c->render(solidFrame(qRgb(128, 128, 128)), at(kT0), false);
    ASSERT_NE(out, nullptr);
    EXPECT_TRUE(near(rgbAt(*out, 30, 20), qRgb(230, 20, 20), 3));
    EXPECT_TRUE(near(rgbAt(*out, 31, 21), qRgb(230, 20, 20), 3));
    EXPECT_TRUE(near(rgbAt(*out, 40, 20), qRgb(20, 200, 20), 3));
    EXPECT_TRUE(near(rgbAt(*out, 28, 20), qRgb(128, 128, 128), 1));
    EXPECT_TRUE(near(rgbAt(*out, 32, 22), qRgb(128, 128, 128), 1));

    // On odd pixels the luma is still exact; the chroma block is shared with the background.
    cursorAt(31, 21, kT0 + 1);
    out = c->render(solidFrame(qRgb(128, 128, 128)), at(kT0 + 1), false);
    const NV12Blender::YCbCr red = NV12Blender::toYCbCr(qRgb(230, 20, 20));
    const NV12Blender::YCbCr grey = NV12Blender::toYCbCr(qRgb(128, 128, 128));
    EXPECT_EQ(lumaAt(*out, 31, 21), red.y);
    EXPECT_EQ(lumaAt(*out, 32, 22), red.y);
    EXPECT_EQ(lumaAt(*out, 30, 21), grey.y);
    EXPECT_EQ(lumaAt(*out, 33, 22), grey.y);
}

TEST_F(CursorCompositorTest, CursorScalesWithTheSizeSetting)
{
    const QImage img = spriteImage(52, {{QPoint(10, 20), 2, qRgb(230, 20, 20)}});
    auto c = std::make_unique<CursorCompositor>(track, CursorCompositor::Region::display(GlobalRect(0, 0, W, H)), 2.0,
                                                QSize(W, H), true, false, nullptr, double(H));
    c->setPenBoard(&board);
    c->setLook(lookOf(img, QPointF(10.0 / 52, 20.0 / 52), QPointF(0.5, 0.5)));
    c->setNativeSystemAppearance(true);
    cursorAt(30, 20, kT0);
    auto out = c->render(solidFrame(qRgb(128, 128, 128)), at(kT0), false);
    ASSERT_NE(out, nullptr);
    // The 2x2 mark at the hot spot is now 4x4. Its inner pixels keep the mark's
    // luma; its enlarged edges are smoothed, so no chroma block is wholly red.
    const int red = NV12Blender::toYCbCr(qRgb(230, 20, 20)).y;
    EXPECT_NEAR(lumaAt(*out, 31, 21), red, 2);
    EXPECT_NEAR(lumaAt(*out, 32, 22), red, 2);
    EXPECT_TRUE(near(rgbAt(*out, 36, 26), qRgb(128, 128, 128), 1));
    EXPECT_TRUE(near(rgbAt(*out, 26, 16), qRgb(128, 128, 128), 1));
}

TEST_F(CursorCompositorTest, PressTiltsTheSpriteAboutItsPivot)
{
    // Hot spot and pivot at the sprite's centre; a dark mark 16 px below it.
    const QImage img = spriteImage(52, {{QPoint(25, 41), 2, qRgb(0, 0, 0)}});
    const double angle = 0.5;
    auto c = make();
    c->setLook(lookOf(img, QPointF(26.0 / 52, 26.0 / 52), QPointF(26.0 / 52, 26.0 / 52), angle));
    c->setShadow(0, 0);

    cursorAt(80, 40, kT0);
    cursorAt(80, 40, kT0 + 0.016, true); // pressed
    const double t = kT0 + 0.016 + 0.1;  // past the 80 ms ease: fully pressed
    ASSERT_DOUBLE_EQ(track->press(t), 1.0);
    auto out = c->render(solidFrame(qRgb(255, 255, 255)), at(t), false);
    ASSERT_NE(out, nullptr);

    // Counter-clockwise on screen: a point below the pivot swings to the right.
    const double dx = 16 * std::sin(angle);
    const double dy = 16 * std::cos(angle);
    EXPECT_LT(lumaAt(*out, int(std::floor(80 + dx)), int(std::floor(40 + dy))), 120);
    EXPECT_GT(lumaAt(*out, 80, 56), 200); // no longer where it was

    // The native arrow never tilts.
    c->setNativeSystemAppearance(true);
    out = c->render(solidFrame(qRgb(255, 255, 255)), at(t), false);
    EXPECT_LT(lumaAt(*out, 80, 56), 60);
}

TEST_F(CursorCompositorTest, PressAnimationFollowsTheTrack)
{
    const QImage img = spriteImage(52, {{QPoint(25, 41), 2, qRgb(0, 0, 0)}});
    auto c = make();
    c->setLook(lookOf(img, QPointF(26.0 / 52, 26.0 / 52), QPointF(26.0 / 52, 26.0 / 52), 0.5));
    c->setShadow(0, 0);
    cursorAt(80, 40, kT0);
    cursorAt(80, 40, kT0 + 0.016, true);
    cursorAt(80, 40, kT0 + 1.0, false); // released

    // Where the mark is: the centre of its darkness, in output pixels.
    const auto markX = [&](double t) {
        auto out = c->render(solidFrame(qRgb(255, 255, 255)), at(t), false);
        double sum = 0, weight = 0;
        for (int x = 70; x < 100; ++x)
            for (int y = 48; y < 62; ++y) {
                const double d = std::max(0, 235 - lumaAt(*out, x, y));
                sum += d * (x + 0.5);
                weight += d;
            }
        return weight > 0 ? sum / weight : -1;
    };
    // Swinging out while pressed (16 sin 0.5 = 7.7 px at full press), back once the
    // release has played (220 ms).
    EXPECT_NEAR(markX(kT0 + 0.010), 80, 0.2);
    const double early = markX(kT0 + 0.016 + 0.01);
    EXPECT_GT(early, 81);
    EXPECT_LT(early, 85);
    EXPECT_NEAR(markX(kT0 + 0.5), 80 + 16 * std::sin(0.5), 0.6);
    EXPECT_NEAR(markX(kT0 + 1.5), 80, 0.2);
}

TEST_F(CursorCompositorTest, ShadowFallsBelowAndComesCloserWhenPressed)
{
    // An opaque 20x20 square with the hot spot at its top-left corner.
    const QImage img = spriteImage(52, {{QPoint(0, 0), 20, qRgb(40, 40, 200)}});
    auto c = make();
    c->setLook(lookOf(img, QPointF(0, 0), QPointF(0, 0), 0));
    c->setShadow(0.58, 0.7);
    const NV12Blender::YCbCr bg = NV12Blender::toYCbCr(qRgb(230, 230, 230));

    cursorAt(60, 20, kT0);
    auto up = c->render(solidFrame(qRgb(230, 230, 230)), at(kT0), false);
    ASSERT_NE(up, nullptr);
    // Below the square the shadow darkens the background; far off it does not.
    const int belowUp = lumaAt(*up, 70, 45);
    EXPECT_LT(belowUp, bg.y - 15);
    EXPECT_EQ(lumaAt(*up, 150, 80), bg.y);
    EXPECT_EQ(lumaAt(*up, 10, 10), bg.y);
    // Soft: it fades with distance below the square.
    EXPECT_LT(lumaAt(*up, 70, 42), lumaAt(*up, 70, 60));

    // Pressed: a shorter drop and a smaller blur keep the shadow near the square.
    cursorAt(60, 20, kT0 + 0.016, true);
    auto down = c->render(solidFrame(qRgb(230, 230, 230)), at(kT0 + 0.2), false);
    EXPECT_GT(lumaAt(*down, 70, 50), lumaAt(*up, 70, 50));
    // It now ends about 5 px below the square (drop 0.8, stretch 1.2) instead of 15.
    EXPECT_GT(lumaAt(*down, 70, 48), lumaAt(*down, 70, 42) + 70);
    EXPECT_LT(lumaAt(*up, 70, 48), lumaAt(*up, 70, 42) + 15);

    // No shadow at all when both opacities are 0.
    c->setShadow(0, 0);
    auto none = c->render(solidFrame(qRgb(230, 230, 230)), at(kT0 + 0.2), false);
    EXPECT_EQ(lumaAt(*none, 70, 45), bg.y);
    EXPECT_EQ(lumaAt(*none, 82, 30), bg.y);
}

TEST_F(CursorCompositorTest, SystemShapeIsDrawnFromItsCapturedImageWithoutShadow)
{
    CursorImage beam;
    beam.name = QStringLiteral("xterm");
    beam.image = QImage(8, 16, QImage::Format_ARGB32_Premultiplied);
    beam.image.fill(qRgb(200, 0, 0));
    beam.size = QSizeF(8, 16);
    beam.hot = QPointF(4, 8);
    pointer->setCursor(beam);
    pointer->setLocation({80, H - 40.0});
    for (int i = 1; i <= 10; ++i)
        track->pollAt(kT0 + 0.016 * i); // the tenth tick reads the shape
    ASSERT_EQ(track->samples().back().shape, 0);

    auto c = make();
    CursorStyle::Look look =
        lookOf(spriteImage(52, {{QPoint(0, 0), 52, qRgb(0, 0, 200)}}), QPointF(0, 0), QPointF(0, 0));
    look.isSystem = true;
    c->setLook(look);
    auto out = c->render(solidFrame(qRgb(230, 230, 230)), at(kT0 + 0.2), false);
    ASSERT_NE(out, nullptr);
    // The beam spans x 76...83, y 32...47; no shadow below it.
    EXPECT_TRUE(near(rgbAt(*out, 76, 32), qRgb(200, 0, 0), 3));
    EXPECT_TRUE(near(rgbAt(*out, 82, 46), qRgb(200, 0, 0), 3));
    EXPECT_EQ(lumaAt(*out, 80, 52), NV12Blender::toYCbCr(qRgb(230, 230, 230)).y);

    // With the pen active the theme sprite is drawn instead.
    board.setActive(true);
    out = c->render(solidFrame(qRgb(230, 230, 230)), at(kT0 + 0.2), false);
    EXPECT_TRUE(near(rgbAt(*out, 90, 50), qRgb(0, 0, 200), 3));
}

// ---------------------------------------------------------------- zoom

TEST_F(CursorCompositorTest, ZoomReachesFullSizeAfterATransitionAndMovesStraightToTheTarget)
{
    auto focus = std::make_shared<FocusState>();
    focus->setFrac(0.29);
    focus->setSpeed(0);
    focus->set(true, kT0);
    std::vector<std::optional<GlobalRect>> lensCalls;
    auto c = make(false, focus);
    c->setOnLens([&](std::optional<GlobalRect> r) { lensCalls.push_back(r); });

    // The cursor in the bottom-right corner: the target is clamped so the view stays inside.
    const double b = 1 / 0.29;
    const QPointF centre(W / 2.0, H / 2.0);
    const QPointF target(W - W / (2 * b), H - H / (2 * b));
    for (double dt : {0.1, 0.2, 0.3, 0.4}) {
        cursorAt(150, 80, kT0 + dt);
        ASSERT_NE(c->render(rampFrame(), at(kT0 + dt), false), nullptr);
        const QPointF lens = *c->lens();
        // On the straight line from the frame centre to the clamped target.
        const QPointF d1 = lens - centre;
        const QPointF d2 = target - centre;
        EXPECT_NEAR(d1.x() * d2.y() - d1.y() * d2.x(), 0, 1e-6) << dt;
        EXPECT_GT(d1.x(), 0);
    }

    cursorAt(150, 80, kT0 + 0.45);
    auto out = c->render(rampFrame(), at(kT0 + 0.45), false);
    ASSERT_NE(out, nullptr);
    const QRectF view = *c->lastView();
    EXPECT_NEAR(view.width(), W * 0.29, 1e-9);
    EXPECT_NEAR(view.height(), H * 0.29, 1e-9);
    EXPECT_NEAR(c->lens()->x(), target.x(), 0.5);
    EXPECT_NEAR(c->lens()->y(), target.y(), 0.5);
    EXPECT_LE(view.right(), W + 1e-9);
    EXPECT_LE(view.bottom(), H + 1e-9);

    // Every output pixel samples the input under the view, magnified 3.448 times.
    for (int x = 4; x < W - 4; x += 13) {
        const double src = view.left() + (x + 0.5) * view.width() / W - 0.5;
        EXPECT_NEAR(lumaAt(*out, x, 45), 30 + src, 1.6) << x;
    }
    // Chroma row j covers luma rows 2j and 2j + 1; its value is 60 + (luma position - 1).
    for (int y = 4; y < H - 4; y += 11) {
        const double src = view.top() + (2 * (y / 2) + 1) * view.height() / H;
        EXPECT_NEAR(cbAt(*out, 80, y), 60 + src - 1, 3) << y;
    }

    // The lens preview got the view in global space each frame; zoom off hides it once.
    ASSERT_EQ(lensCalls.size(), 5u);
    const GlobalRect g = *lensCalls.back();
    EXPECT_NEAR(g.left(), view.left(), 1e-9);
    EXPECT_NEAR(g.bottom(), H - view.bottom(), 1e-9);
    focus->set(false, kT0 + 1);
    cursorAt(150, 80, kT0 + 2);
    c->render(rampFrame(), at(kT0 + 2), false);
    c->render(rampFrame(), at(kT0 + 2.1), false);
    ASSERT_EQ(lensCalls.size(), 6u);
    EXPECT_FALSE(lensCalls.back().has_value());
    EXPECT_FALSE(c->lens().has_value());
}

TEST_F(CursorCompositorTest, FollowingViewHoldsStillInsideTheDeadZone)
{
    auto focus = std::make_shared<FocusState>();
    focus->set(true, kT0);
    auto c = make(false, focus);
    cursorAt(80, 45, kT0 + 0.5);
    c->render(rampFrame(), at(kT0 + 0.5), false);
    const QPointF settled = *c->lens();
    const QRectF view = *c->lastView();
    // Anywhere in the middle 72 % the view stays put.
    cursorAt(view.left() + 0.15 * view.width(), view.top() + 0.85 * view.height(), kT0 + 0.6);
    c->render(rampFrame(), at(kT0 + 0.6), false);
    EXPECT_EQ(*c->lens(), settled);
    // Beyond it, the view moves towards the cursor.
    cursorAt(view.left() + 0.05 * view.width(), 45, kT0 + 0.7);
    c->render(rampFrame(), at(kT0 + 0.7), false);
    EXPECT_LT(c->lens()->x(), settled.x());
}

TEST_F(CursorCompositorTest, ZoomNeedsAVisibleCursorUnlessAnchored)
{
    auto focus = std::make_shared<FocusState>();
    focus->set(true, kT0);
    auto c = make(false, focus);
    cursorAt(-200, 45, kT0 + 0.5); // outside the recorded area
    EXPECT_EQ(c->render(rampFrame(), at(kT0 + 0.5), false), nullptr);

    focus->setMode(1);
    focus->setAnchor(QPointF(0.25, 0.5));
    auto out = c->render(rampFrame(), at(kT0 + 0.6), false);
    ASSERT_NE(out, nullptr);
    EXPECT_NEAR(c->lens()->x(), W * 0.25, 1e-9);
    EXPECT_NEAR(lumaAt(*out, W / 2, H / 2), 30 + W * 0.25, 1.5);
}

TEST_F(CursorCompositorTest, InkLiesUnderTheZoomAndGrowsWithIt)
{
    board.attach(GlobalRect(0, 0, W, H), 1.0);
    // A round dot of diameter 6 at input pixel (70, 40) (global y up).
    board.begin(PenStroke{PenTool::pencil, 0, 6, {GlobalPoint{70, H - 40.0}}, {}});
    board.finish();
    const QRgb ink = PenPalette::color(0).rgb();

    auto focus = std::make_shared<FocusState>();
    focus->setFrac(0.29);
    focus->setMode(1);
    focus->setAnchor(QPointF(0.5, 0.5));
    focus->set(true, kT0);
    auto c = make(false, focus);

    // Not zoomed yet: the dot at its own place and size.
    auto flat = c->render(solidFrame(qRgb(128, 128, 128)), at(kT0), false);
    ASSERT_NE(flat, nullptr);
    EXPECT_TRUE(near(rgbAt(*flat, 70, 40), ink, 6));
    EXPECT_TRUE(near(rgbAt(*flat, 76, 40), qRgb(128, 128, 128), 1));

    auto out = c->render(solidFrame(qRgb(128, 128, 128)), at(kT0 + 0.5), false);
    ASSERT_NE(out, nullptr);
    const QRectF view = *c->lastView();
    const double s = W / view.width();
    const QPointF spot(s * (70 - view.left()), s * (40 - view.top()));
    EXPECT_TRUE(near(rgbAt(*out, int(spot.x()), int(spot.y())), ink, 8));
    // The dot's radius of 3 source pixels is about 10 output pixels: inside at 6,
    // outside (past the smoothed edge) at 18. Unzoomed, 6 was already outside.
    EXPECT_TRUE(near(rgbAt(*out, int(spot.x() + 6), int(spot.y())), ink, 8));
    // (Luma only out there: the ink's half-resolution chroma bleeds further once magnified.)
    EXPECT_NEAR(lumaAt(*out, int(spot.x() + 18), int(spot.y())), NV12Blender::toYCbCr(qRgb(128, 128, 128)).y, 2);
}

TEST_F(CursorCompositorTest, LiveStrokeIsDrawnWhileInProgress)
{
    board.attach(GlobalRect(0, 0, W, H), 1.0);
    board.begin(PenStroke{PenTool::rect, 2, 4, {GlobalPoint{20, H - 20.0}}, {}});
    board.extend({60, H - 60.0}, 1);
    auto c = make(false);
    auto out = c->render(solidFrame(qRgb(128, 128, 128)), at(kT0), false);
    ASSERT_NE(out, nullptr);
    const QRgb ink = PenPalette::color(2).rgb();
    EXPECT_TRUE(near(rgbAt(*out, 40, 20), ink, 12));
    EXPECT_TRUE(near(rgbAt(*out, 40, 40), qRgb(128, 128, 128), 1)); // the middle stays clear
}

// ---------------------------------------------------------------- camera

class CameraBubbleTest : public CursorCompositorTest {
protected:
    // The bubble at output (40, 20)-(100, 80): global y 10...70.
    void SetUp() override
    {
        CursorCompositorTest::SetUp();
        overlay = std::make_shared<CameraOverlayState>();
        // Left half red, right half blue.
        const auto halves = [](int x, int) { return x < 32 ? qRgb(220, 30, 30) : qRgb(30, 30, 220); };
        overlay->setBuffer(*bgraPicture(64, 64, halves), at(kT0));
        layout.frame = GlobalRect(40, 10, 60, 60);
        layout.shape = 2;
        layout.radius = 0.12;
        layout.visible = true;
        overlay->setLayout(layout);
    }

    PixelBufferRef renderWith(const CameraOverlayState::Layout& l)
    {
        overlay->setLayout(l);
        auto c = make(false);
        c->setCamOverlay(overlay);
        return c->render(solidFrame(qRgb(0, 0, 0)), at(kT0), false);
    }

    std::shared_ptr<CameraOverlayState> overlay;
    CameraOverlayState::Layout layout;
};

TEST_F(CameraBubbleTest, RoundBubbleIsMaskedAndRinged)
{
    auto out = renderWith(layout);
    ASSERT_NE(out, nullptr);
    EXPECT_TRUE(near(rgbAt(*out, 56, 50), qRgb(220, 30, 30), 6));
    EXPECT_TRUE(near(rgbAt(*out, 84, 50), qRgb(30, 30, 220), 6));
    // The corners of the rectangle lie outside the circle.
    EXPECT_TRUE(near(rgbAt(*out, 42, 22), qRgb(0, 0, 0), 1));
    EXPECT_TRUE(near(rgbAt(*out, 97, 77), qRgb(0, 0, 0), 1));
    EXPECT_TRUE(near(rgbAt(*out, 38, 50), qRgb(0, 0, 0), 1));
    // The ring lightens the rim: brighter than the picture just inside it.
    EXPECT_GT(lumaAt(*out, 40, 50), lumaAt(*out, 44, 50) + 15);
    EXPECT_GT(lumaAt(*out, 70, 20), lumaAt(*out, 70, 24) + 10);
}

TEST_F(CameraBubbleTest, MirroredFlipsThePictureOnly)
{
    layout.mirrored = true;
    auto out = renderWith(layout);
    ASSERT_NE(out, nullptr);
    EXPECT_TRUE(near(rgbAt(*out, 56, 50), qRgb(30, 30, 220), 6));
    EXPECT_TRUE(near(rgbAt(*out, 84, 50), qRgb(220, 30, 30), 6));
    EXPECT_TRUE(near(rgbAt(*out, 42, 22), qRgb(0, 0, 0), 1));
}

TEST_F(CameraBubbleTest, ShapeTwoIsACapsuleAndOthersUseTheRadius)
{
    // A wide bubble, 80 x 40 at output (40, 30): round ends, straight sides.
    layout.frame = GlobalRect(40, 20, 80, 40);
    auto capsule = renderWith(layout);
    ASSERT_NE(capsule, nullptr);
    EXPECT_TRUE(near(rgbAt(*capsule, 42, 32), qRgb(0, 0, 0), 1));
    EXPECT_TRUE(near(rgbAt(*capsule, 60, 34), qRgb(220, 30, 30), 8)); // the straight top edge
    // The square picture fills the 2:1 box: cut at the top and bottom, both halves stay.
    EXPECT_TRUE(near(rgbAt(*capsule, 70, 50), qRgb(220, 30, 30), 6));
    EXPECT_TRUE(near(rgbAt(*capsule, 90, 50), qRgb(30, 30, 220), 6));

    layout.shape = 0;
    layout.radius = 0;
    auto square = renderWith(layout);
    EXPECT_TRUE(near(rgbAt(*square, 42, 32), qRgb(220, 30, 30), 8));
}

TEST_F(CameraBubbleTest, TinyBubblesAreLeftOut)
{
    auto c = make(false);
    CameraOverlayState::Snapshot snap;
    snap.frame = GlobalRect(10, 10, 8, 8);
    EXPECT_FALSE(c->cameraRect(snap, std::nullopt).has_value());
    snap.frame = GlobalRect(10, 10, 9, 9);
    EXPECT_TRUE(c->cameraRect(snap, std::nullopt).has_value());
    snap.frame = GlobalRect(W + 5, 10, 30, 30); // off the frame
    EXPECT_FALSE(c->cameraRect(snap, std::nullopt).has_value());
}

TEST_F(CameraBubbleTest, DeferredBubbleIsAddedAfterTheSyncQueue)
{
    cursorAt(20, 20, kT0);
    auto c = make(true);
    c->setLook(lookOf(spriteImage(52, {{QPoint(0, 0), 10, qRgb(255, 255, 255)}}), QPointF(0, 0), QPointF(0, 0)));
    c->setNativeSystemAppearance(true);
    c->setCamOverlay(overlay);
    auto rendered = c->render(solidFrame(qRgb(0, 0, 0)), at(kT0), /*deferCamera*/ true);
    ASSERT_NE(rendered, nullptr);
    EXPECT_TRUE(near(rgbAt(*rendered, 56, 50), qRgb(0, 0, 0), 1)); // no bubble yet

    VideoSyncQueue queue;
    queue.append({rendered, at(kT0), at(0), layout, at(kT0), std::nullopt});
    rendered.reset();
    VideoSyncQueue::Frame parked = *queue.popFront();
    const PixelBuffer* parkedPixels = parked.buffer.get();
    const auto camera = overlay->snapshot(parked.pts, parked.layout, parked.minimumCameraPTS);
    ASSERT_TRUE(camera.has_value());
    auto out = c->overlayCamera(std::move(parked.buffer), camera, parked.windowFrame, parked.layout.fullScreen);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out.get(), parkedPixels); // its only holder handed it over: drawn in place
    EXPECT_TRUE(near(rgbAt(*out, 56, 50), qRgb(220, 30, 30), 6));
    EXPECT_GT(lumaAt(*out, 24, 24), 230); // the cursor drawn earlier is still there

    // A frame someone else still holds is copied first.
    auto shared = solidFrame(qRgb(0, 0, 0));
    auto copy = c->overlayCamera(shared, camera, std::nullopt, false);
    EXPECT_NE(copy, shared);
    EXPECT_TRUE(near(rgbAt(*shared, 56, 50), qRgb(0, 0, 0), 1));
    // So is one whose source builds its next frames on these pixels, even when nobody else holds it.
    auto kept = solidFrame(qRgb(0, 0, 0));
    kept->setAttachment(PixelAttachmentKey::KeptBySource, true, false);
    const PixelBuffer* keptPixels = kept.get();
    auto drawn = c->overlayCamera(std::move(kept), camera, std::nullopt, false);
    ASSERT_NE(drawn, nullptr);
    EXPECT_NE(drawn.get(), keptPixels); // made while the kept one still lived: a copy
    // Without a picture the frame comes back as it is.
    EXPECT_EQ(c->overlayCamera(shared, std::nullopt, std::nullopt, false), shared);
}

TEST_F(CameraBubbleTest, FullScreenCameraFillsTheFrame)
{
    // Red bands at the top and bottom fall outside the 16:9 cut of the square picture.
    auto camera = overlay->snapshot();
    ASSERT_TRUE(camera.has_value());
    camera->buffer = bgraPicture(64, 64, [](int x, int y) {
        if (y < 12 || y >= 52)
            return qRgb(220, 30, 30);
        return x < 32 ? qRgb(30, 200, 30) : qRgb(30, 30, 220);
    });
    camera->fullScreen = true;
    auto c = make(false);
    auto out = c->overlayCamera(solidFrame(qRgb(255, 255, 255)), camera, std::nullopt, true);
    ASSERT_NE(out, nullptr);
    for (int y : {0, 45, 89}) {
        EXPECT_TRUE(near(rgbAt(*out, 10, y), qRgb(30, 200, 30), 8)) << y;
        EXPECT_TRUE(near(rgbAt(*out, 150, y), qRgb(30, 30, 220), 8)) << y;
    }

    camera->mirrored = true;
    out = c->overlayCamera(solidFrame(qRgb(255, 255, 255)), camera, std::nullopt, true);
    EXPECT_TRUE(near(rgbAt(*out, 10, 45), qRgb(30, 30, 220), 8));
    EXPECT_TRUE(near(rgbAt(*out, 150, 45), qRgb(30, 200, 30), 8));
}

TEST_F(CameraBubbleTest, FullScreenWithoutAPictureIsBlack)
{
    auto c = make(false);
    auto out = c->overlayCamera(solidFrame(qRgb(255, 255, 255)), std::nullopt, std::nullopt, true);
    ASSERT_NE(out, nullptr);
    for (int y = 0; y < H; y += 7)
        for (int x = 0; x < W; x += 9) {
            ASSERT_EQ(lumaAt(*out, x, y), 16);
            ASSERT_EQ(cbAt(*out, x, y), 128);
        }
}

TEST_F(CameraBubbleTest, FullScreenSnapshotInRenderFillsTheFrameToo)
{
    layout.fullScreen = true;
    auto out = renderWith(layout);
    ASSERT_NE(out, nullptr);
    // The square picture cut to 16:9: both halves, edge to edge.
    EXPECT_TRUE(near(rgbAt(*out, 2, 2), qRgb(220, 30, 30), 8));
    EXPECT_TRUE(near(rgbAt(*out, 157, 87), qRgb(30, 30, 220), 8));
}

// ---------------------------------------------------------------- regions and input formats

TEST_F(CursorCompositorTest, AreaAndWindowRegionsMapBothWays)
{
    // An area 100 x 50 points at (20, 10) from the top-left of a display at global (0, 0, 400, 300).
    auto area = make(false, nullptr, CursorCompositor::Region::area(GlobalRect(0, 0, 400, 300), QRectF(20, 10, 100, 50)));
    const auto m = area->mapGlobal({30, 280}, W);
    ASSERT_TRUE(m.has_value());
    EXPECT_DOUBLE_EQ(m->second, 1.6);
    EXPECT_DOUBLE_EQ(m->first.x(), 16);
    EXPECT_DOUBLE_EQ(m->first.y(), 16);
    const GlobalRect back = area->toGlobal(QRectF(16, 16, 32, 16), 1.6);
    EXPECT_DOUBLE_EQ(back.left(), 30);
    EXPECT_DOUBLE_EQ(back.bottom(), 270);
    EXPECT_DOUBLE_EQ(back.height(), 10);

    // A window: nothing until its frame is known, then window-server y flips through the primary height.
    auto win = make(true, nullptr, CursorCompositor::Region::window());
    EXPECT_FALSE(win->mapGlobal({10, 10}, W).has_value());
    EXPECT_EQ(win->toGlobal(QRectF(0, 0, 10, 10), 1), GlobalRect());
    cursorAt(10, 10, kT0);
    EXPECT_EQ(win->render(solidFrame(qRgb(90, 90, 90)), at(kT0), false), nullptr);
}

TEST_F(CursorCompositorTest, AbsurdGeometryStaysBounded)
{
    // A 2-point area blown up to the whole output: the cursor would be 4000 px a side.
    auto c = make(true, nullptr, CursorCompositor::Region::area(GlobalRect(0, 0, 400, 300), QRectF(10, 10, 2, 2)));
    pointer->setLocation({11, 289});
    track->pollAt(kT0);
    auto out = c->render(solidFrame(qRgb(90, 90, 90)), at(kT0), false);
    ASSERT_NE(out, nullptr);

    // A bubble thousands of times the frame is left out, not allocated.
    auto overlay = std::make_shared<CameraOverlayState>();
    overlay->setBuffer(*bgraPicture(64, 64, [](int, int) { return qRgb(200, 0, 0); }), at(kT0));
    CameraOverlayState::Layout layout;
    layout.frame = GlobalRect(-1e6, -1e6, 2e6, 2e6);
    layout.visible = true;
    overlay->setLayout(layout);
    auto plain = make(false);
    plain->setCamOverlay(overlay);
    out = plain->render(solidFrame(qRgb(90, 90, 90)), at(kT0), false);
    ASSERT_NE(out, nullptr);
    EXPECT_TRUE(near(rgbAt(*out, 80, 45), qRgb(90, 90, 90), 1));

    // Frames too small to compose give nothing.
    EXPECT_EQ(plain->render(PixelBuffer::create(1, 1, PixelFormat::BGRA), at(kT0), true), nullptr);
}

TEST_F(CursorCompositorTest, BgraInputAndAnotherOutputSizeAreScaled)
{
    cursorAt(300, 10, kT0); // off the output: only the conversion is drawn
    auto c = std::make_unique<CursorCompositor>(track, CursorCompositor::Region::display(GlobalRect(0, 0, W, H)), 1.0,
                                                QSize(W / 2, 44), true, /*alwaysRender*/ true, nullptr, double(H));
    c->setPenBoard(&board);
    auto input = bgraPicture(W, H, [](int x, int) { return x < W / 2 ? qRgb(200, 100, 50) : qRgb(20, 60, 180); });
    auto out = c->render(input, at(kT0), false);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->width(), W / 2);
    EXPECT_EQ(out->format(), PixelFormat::NV12VideoRange);
    EXPECT_TRUE(near(rgbAt(*out, 10, 20), qRgb(200, 100, 50), 6));
    EXPECT_TRUE(near(rgbAt(*out, 70, 20), qRgb(20, 60, 180), 6));
}

} // namespace
