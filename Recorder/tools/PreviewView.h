#pragma once

#include <QPointer>
#include <QRectF>
#include <QSizeF>
#include <QWidget>

#include <functional>
#include <memory>

class QMenu;
class QPushButton;

namespace corvessa {

class CameraPreview;

// The content of the camera bubble: the camera's latest preview picture, filling
// the view and cropped (aspect fill), mirrored when the preview says so, with
// rounded corners and a thin light border while it floats, and with square
// corners, no border and an exit button while it covers a whole display. A
// right click opens its menu. It knows nothing of the camera's life or of
// where its window goes: the owner binds `preview()` to the camera, sets the
// corner fraction and the full-screen flag and receives two callbacks. Main
// thread.
class PreviewView : public QWidget {
public:
    static constexpr double defaultRadiusFrac = 0.12;
    // Distance of the exit button from the display's left and top edges.
    static constexpr int exitButtonMargin = 24;

    explicit PreviewView(QWidget* parent = nullptr);
    ~PreviewView() override;

    // The preview sink the camera delivers pictures to; the same for the
    // view's life.
    const std::shared_ptr<CameraPreview>& preview() const { return m_preview; }

    // Corner radius as a share of the shorter side (0.5 makes a square round).
    double radiusFrac() const { return m_radiusFrac; }
    void setRadiusFrac(double fraction);

    bool isFullScreen() const { return m_fullScreen; }
    void setFullScreen(bool on);

    // The context menu; not owned. None: a right click does nothing.
    void setMenu(QMenu* menu);
    QMenu* menu() const;

    // After every layout pass (size or mode change).
    std::function<void()> onLayout;
    std::function<void()> onExitFullScreen;

    QPushButton* exitFullScreenButton() const { return m_exitButton; }

    // The corner radius a view of `size` draws with.
    static double cornerRadius(const QSizeF& size, double radiusFrac, bool fullScreen);
    // Where a picture of `picture` is drawn to fill `bounds` (centred, cropped).
    static QRectF fillRect(const QSizeF& picture, const QRectF& bounds);

    // Lays out again: the button's place, then onLayout.
    void relayout();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    std::shared_ptr<CameraPreview> m_preview;
    double m_radiusFrac = defaultRadiusFrac;
    bool m_fullScreen = false;
    QPointer<QMenu> m_menu;
    QPushButton* m_exitButton;
};

} // namespace corvessa
