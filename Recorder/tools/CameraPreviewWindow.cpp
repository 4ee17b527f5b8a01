#include "tools/CameraPreviewWindow.h"

#include "capture/CameraCapture.h"
#include "model/CameraControl.h"
#include "model/RecorderModel.h"
#include "platform/DisplayList.h"
#include "platform/FloatingSurfaces.h"
#include "platform/PointerService.h"
#include "platform/QtScreenChanges.h"
#include "platform/QtScreenLayout.h"
#include "platform/core/ScreenCoordinates.h"
#include "platform/core/UserDefaults.h"
#include "prefs/KeyBinding.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"
#include "toolbar/DragHandle.h"
#include "toolbar/kit/FloatingWindow.h"
#include "tools/PreviewView.h"

#include <QAction>
#include <QMenu>
#include <QMoveEvent>
#include <QPainterPath>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cmath>
#include <utility>

namespace corvessa {

namespace {

double area(const GlobalRect& r)
{
    return r.isValid() ? r.width() * r.height() : 0;
}

const char* const fullScreenID = "camera-full-screen";
const char* const mirrorID = "camera-mirror";

} // namespace

CameraPreviewWindow::CameraPreviewWindow(RecorderModel& model, Prefs& prefs, UserDefaults& defaults, Setup setup)
    : m_model(model)
    , m_prefs(prefs)
    , m_defaults(defaults)
    , m_setup(std::move(setup))
    , m_throttle(new QTimer(this))
{
    if (!m_setup.displays)
        m_setup.displays = [] { return DisplayList::current()->displays(); };
    if (!m_setup.leftButtonDown)
        m_setup.leftButtonDown = [] {
            const auto state = PointerService::current()->state();
            return state && state->primaryDown;
        };
    if (!m_setup.mouseLocation)
        m_setup.mouseLocation = []() -> std::optional<GlobalPoint> {
            const auto state = PointerService::current()->state();
            if (!state)
                return std::nullopt;
            return state->location;
        };
    if (!m_setup.barRect)
        m_setup.barRect = [] { return std::optional<GlobalRect>(); };
    follow();
}

CameraPreviewWindow::~CameraPreviewWindow()
{
    m_previewSettle.reset();
    if (m_previewPanel)
        m_previewPanel->removeEventFilter(this);
}

// MARK: - Geometry

QSizeF CameraPreviewWindow::previewSize(int shape, double width)
{
    if (shape == 0)
        return {width, width * 9 / 16};
    return {width * 0.72, width * 0.72};
}

GlobalRect CameraPreviewWindow::previewBounds(const std::vector<DisplayInfo>& displays, const GlobalRect& rect)
{
    if (displays.empty())
        return rect;
    const DisplayInfo* best = &displays.front();
    double bestArea = -1;
    for (const DisplayInfo& d : displays) {
        const double a = area(d.frame.intersected(rect));
        if (a > bestArea) {
            bestArea = a;
            best = &d;
        }
    }
    return best->visibleFrame;
}

GlobalRect CameraPreviewWindow::clampPreview(const std::vector<DisplayInfo>& displays, const GlobalRect& rect)
{
    const GlobalRect b = previewBounds(displays, rect);
    const double x = std::min(std::max(rect.left(), b.left() + margin),
                              std::max(b.right() - rect.width() - margin, b.left() + margin));
    const double y = std::min(std::max(rect.bottom(), b.bottom() + margin),
                              std::max(b.top() - rect.height() - margin, b.bottom() + margin));
    return {GlobalPoint{x, y}, rect.size()};
}

GlobalPoint CameraPreviewWindow::cornerOrigin(const GlobalRect& bounds, const QSizeF& size, int corner)
{
    const double x = corner % 2 ? bounds.right() - size.width() - margin : bounds.left() + margin;
    const double y = corner > 1 ? bounds.top() - size.height() - margin : bounds.bottom() + margin;
    return {x, y};
}

std::optional<int> CameraPreviewWindow::nearestCorner(const std::vector<DisplayInfo>& displays, const GlobalRect& rect)
{
    const GlobalRect b = previewBounds(displays, rect);
    std::optional<int> best;
    double bestDistance = 0;
    for (int corner = 0; corner < 4; ++corner) {
        const GlobalPoint p = cornerOrigin(b, rect.size(), corner);
        const double dx = std::abs(p.x - rect.left());
        const double dy = std::abs(p.y - rect.bottom());
        if (dx > snapDistance || dy > snapDistance)
            continue;
        const double distance = std::hypot(dx, dy);
        if (!best || distance < bestDistance) {
            best = corner;
            bestDistance = distance;
        }
    }
    return best;
}

GlobalRect CameraPreviewWindow::defaultFrame(const std::vector<DisplayInfo>& displays, const QSizeF& size,
                                             std::optional<GlobalPoint> saved, std::optional<GlobalRect> bar)
{
    GlobalRect frame(GlobalPoint(), size);
    bool placed = false;
    if (saved) {
        const GlobalPoint probe = *saved + GlobalPoint{savedProbe, savedProbe};
        for (const DisplayInfo& d : displays) {
            if (d.frame.contains(probe)) {
                frame = frame.movedTo(*saved);
                placed = true;
                break;
            }
        }
    }
    if (!placed && bar) {
        frame = frame.movedTo({bar->center().x - size.width() / 2, bar->top() + barGap});
    } else if (!placed && !displays.empty()) {
        frame = frame.movedCenterTo(displays.front().visibleFrame.center());
    }
    return clampPreview(displays, frame);
}

double CameraPreviewWindow::previewRadius() const
{
    return m_prefs.cameraShape() == 2 ? 0.5 : m_prefs.cameraRadius();
}

GlobalRect CameraPreviewWindow::frame() const
{
    if (!m_previewPanel)
        return {};
    return QtScreenLayout::current().toGlobalRect(QRectF(m_previewPanel->geometry()));
}

bool CameraPreviewWindow::isVisible() const
{
    return m_previewPanel && m_previewPanel->isVisible();
}

const DisplayInfo* CameraPreviewWindow::displayAt(const std::vector<DisplayInfo>& displays, const GlobalRect& rect) const
{
    const DisplayInfo* best = nullptr;
    double bestArea = 0;
    for (const DisplayInfo& d : displays) {
        const double a = area(d.frame.intersected(rect));
        if (a > bestArea) {
            bestArea = a;
            best = &d;
        }
    }
    return best;
}

// MARK: - Following the model, the preferences and the displays

void CameraPreviewWindow::follow()
{
    m_throttle->setSingleShot(true);
    m_throttle->setInterval(modelThrottleMs);
    connect(m_throttle, &QTimer::timeout, this, [this] { updatePreview(); });
    connect(&m_model, &RecorderModel::changed, this, [this] {
        if (!m_throttle->isActive())
            m_throttle->start();
    });
    connect(&m_prefs, &Prefs::changed, this, [this](Prefs::Key key) {
        using K = Prefs::Key;
        if (key == K::cameraShape || key == K::cameraPreviewW || key == K::cameraRadius)
            QTimer::singleShot(0, this, [this] { applyPreviewShape(); });
        else if (key == K::cameraMirrored)
            mirrorChanged();
    });
    // Displays added, removed or rearranged: the bubble stays on a screen.
    QtScreenChanges::follow(this, [this] {
        updatePreview();
        settlePreview(true);
    });
}

void CameraPreviewWindow::mirrorChanged()
{
    if (auto capture = m_model.dependencies().camera->capture())
        capture->setMirrored(m_prefs.cameraMirrored(), m_previewView ? m_previewView->preview() : nullptr);
    QTimer::singleShot(0, this, [this] { updatePreview(); });
}

// MARK: - Showing

void CameraPreviewWindow::updatePreview()
{
    CameraControl& camera = *m_model.dependencies().camera;
    const bool show = m_model.cameraLive() && !m_model.cameraPreviewHidden();
    const std::shared_ptr<CameraCapture> capture = camera.capture();
    const std::shared_ptr<CameraSession> session = capture ? capture->session() : nullptr;

    if (!show || !session) {
        applyPreviewScene(false);
        if (m_previewPanel)
            m_previewPanel->hide();
        if (m_hasAttached && m_previewView) {
            m_attached.reset();
            m_hasAttached = false;
            if (capture)
                capture->setPreview(m_previewView->preview(), nullptr);
        }
        pushOverlay();
        return;
    }
    if (!m_previewPanel)
        createPreview();
    if (!m_hasAttached || m_attached.lock() != session) {
        m_attached = session;
        m_hasAttached = true;
        capture->setPreview(m_previewView->preview(), session);
    }
    applyPreviewScene(m_model.cameraFullScreen());
    refreshMenu();
    if (!m_previewPanel->isVisible())
        m_previewPanel->show();
    m_setup.kit.raise(m_previewPanel.get());
    pushOverlay();
}

void CameraPreviewWindow::createPreview()
{
    const QSizeF size = previewSize(m_prefs.cameraShape(), m_prefs.cameraPreviewW());
    m_previewPanel = std::make_unique<QWidget>();
    m_previewPanel->setAttribute(Qt::WA_TranslucentBackground);
    m_previewPanel->setWindowTitle(Loc::text(QStringLiteral("Corvessa")));
    m_setup.kit.prepare(m_previewPanel.get(), {SurfaceLevel::floating, false, false});

    m_previewView = new PreviewView(m_previewPanel.get());
    m_previewView->setRadiusFrac(previewRadius());
    m_previewView->onLayout = [this] {
        updateVisibleRegion();
        pushOverlay();
    };
    m_previewView->onExitFullScreen = [this] { m_model.exitCameraFullScreen(); };
    // Dragged by its content, except while it covers a display.
    new DragHandle(m_previewPanel.get(), [this](const QPoint&) { return !m_previewIsFullScreen; });

    buildMenu();
    m_previewView->setMenu(m_menu.get());

    std::optional<GlobalPoint> saved;
    const auto x = m_defaults.doubleValue(xKey());
    const auto y = m_defaults.doubleValue(yKey());
    if (x && y)
        saved = GlobalPoint{*x, *y};
    setFrame(defaultFrame(m_setup.displays(), size, saved, m_setup.barRect()));

    m_setup.kit.track(m_previewPanel.get());
    // Installed after the first placement, which is not a user move.
    m_previewPanel->installEventFilter(this);
}

void CameraPreviewWindow::buildMenu()
{
    m_menu = std::make_unique<QMenu>();
    m_fullScreenAction = m_menu->addAction(Loc::text(QStringLiteral("Full-Screen Camera")), this,
                                           [this] { toggleCameraFullScreen(); });
    m_fullScreenAction->setObjectName(QString::fromLatin1(fullScreenID));
    m_fullScreenAction->setCheckable(true);
    m_mirrorAction = m_menu->addAction(Loc::text(QStringLiteral("Mirror Camera Horizontally")), this,
                                       [this] { m_prefs.setCameraMirrored(!m_prefs.cameraMirrored()); });
    m_mirrorAction->setObjectName(QString::fromLatin1(mirrorID));
    m_mirrorAction->setCheckable(true);
    m_menu->addSeparator();
    const QString sizeTemplate = Loc::text(QStringLiteral("Preview Size: %@"));
    const std::pair<int, QString> sizes[] = {
        {smallWidth, Loc::text(QStringLiteral("Small"))},
        {mediumWidth, Loc::text(QStringLiteral("Medium"))},
        {largeWidth, Loc::text(QStringLiteral("Large"))},
    };
    for (const auto& [width, name] : sizes) {
        QAction* action = m_menu->addAction(Loc::fill(sizeTemplate, name), this, [this, width] { resizePreview(width); });
        action->setData(width);
    }
    m_menu->addSeparator();
    m_menu->addAction(Loc::text(QStringLiteral("Hide Camera Preview")), this, [this] { hidePreview(); });
    m_setup.kit.track(m_menu.get());
}

void CameraPreviewWindow::refreshMenu()
{
    if (!m_menu)
        return;
    m_fullScreenAction->setChecked(m_model.cameraFullScreen());
    KeyBinding::setMenuKey(*m_fullScreenAction, Loc::text(QStringLiteral("Full-Screen Camera")),
                           KeyBinding::keyEquivalent(m_prefs.bindings(), HotKeyAction::cameraFullScreen));
    m_mirrorAction->setChecked(m_prefs.cameraMirrored());
}

void CameraPreviewWindow::toggleCameraFullScreen()
{
    m_model.toggleCameraFullScreen();
}

void CameraPreviewWindow::resizePreview(int width)
{
    if (m_previewPanel)
        m_prefs.setCameraPreviewW(width);
}

void CameraPreviewWindow::hidePreview()
{
    m_model.setCameraPreviewHidden(true);
}

// MARK: - Placing

void CameraPreviewWindow::setFrame(const GlobalRect& frame)
{
    const QRect target = QtScreenLayout::current().fromGlobal(frame).toRect();
    m_moving = true;
    // Place and size in one request: a resize alone grows the window downwards
    // (y down), and a window manager may push that off-screen step back on
    // screen with a move of its own.
    if (target != m_previewPanel->geometry())
        m_previewPanel->setGeometry(target);
    m_previewView->setGeometry(QRect(QPoint(), target.size()));
    m_ownPosition = m_previewPanel->pos();
    m_moving = false;
}

void CameraPreviewWindow::bubbleMoved()
{
    if (!m_previewIsFullScreen && !m_adjustingPreviewScene) {
        const GlobalRect f = frame();
        m_defaults.setDouble(xKey(), f.left());
        m_defaults.setDouble(yKey(), f.bottom());
    }
    pushOverlay();
}

bool CameraPreviewWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_previewPanel.get() && event->type() == QEvent::Move && !m_moving) {
        // The window system confirms each move later: a move to where we put
        // it is still ours.
        if (m_ownPosition != m_previewPanel->pos()) {
            m_ownPosition.reset();
            if (!m_previewIsFullScreen && !m_adjustingPreviewScene) {
                bubbleMoved();
                settlePreview(false);
            }
        }
    }
    return QObject::eventFilter(watched, event);
}

void CameraPreviewWindow::applyPreviewShape()
{
    if (m_previewIsFullScreen || !m_previewPanel)
        return;
    const QSizeF size = previewSize(m_prefs.cameraShape(), m_prefs.cameraPreviewW());
    const GlobalRect current = frame();
    GlobalRect next(GlobalPoint(), size);
    if (m_previewCorner)
        next = next.movedTo(cornerOrigin(previewBounds(m_setup.displays(), current), size, *m_previewCorner));
    else
        next = next.movedCenterTo(current.center());
    setFrame(clampPreview(m_setup.displays(), next));
    m_previewView->setRadiusFrac(previewRadius());
    m_previewView->relayout();
    bubbleMoved();
}

void CameraPreviewWindow::settlePreview(bool immediate)
{
    if (m_previewIsFullScreen)
        return;
    m_previewSettle.reset();
    if (immediate) {
        settleNow();
        return;
    }
    m_previewSettle = m_model.dependencies().scheduler->after(settleDelay, [this] { settleNow(); });
}

void CameraPreviewWindow::settleNow()
{
    if (!m_previewPanel || m_previewIsFullScreen)
        return;
    // Still held: the drag is not over.
    if (m_setup.leftButtonDown()) {
        settlePreview(false);
        return;
    }
    m_previewSettle.reset();
    const std::vector<DisplayInfo> displays = m_setup.displays();
    const GlobalRect current = frame();
    m_previewCorner = nearestCorner(displays, current);
    const GlobalRect target =
        m_previewCorner
            ? GlobalRect(cornerOrigin(previewBounds(displays, current), current.size(), *m_previewCorner), current.size())
            : clampPreview(displays, current);
    if (std::abs(target.left() - current.left()) > settleTolerance
        || std::abs(target.bottom() - current.bottom()) > settleTolerance) {
        // Not animated: every step of an animation would reach the move
        // handler as a move of its own.
        setFrame(target);
        bubbleMoved();
    }
}

// MARK: - Full-screen scene

std::optional<GlobalRect> CameraPreviewWindow::displayFrame(uint32_t id) const
{
    for (const DisplayInfo& d : m_setup.displays())
        if (d.id == id)
            return d.frame;
    return std::nullopt;
}

void CameraPreviewWindow::applyPreviewScene(bool fullScreen)
{
    if (!m_previewPanel || !m_previewView)
        return;
    m_adjustingPreviewScene = true;
    const std::vector<DisplayInfo> displays = m_setup.displays();
    if (fullScreen) {
        m_previewSettle.reset();
        if (!m_previewIsFullScreen) {
            m_normalPreviewFrame = frame();
            const DisplayInfo* chosen = nullptr;
            if (const auto mouse = m_setup.mouseLocation()) {
                for (const DisplayInfo& d : displays)
                    if (!chosen && d.frame.contains(*mouse))
                        chosen = &d;
            }
            if (!chosen)
                chosen = displayAt(displays, frame());
            if (!chosen && !displays.empty())
                chosen = &displays.front();
            m_fullPreviewDisplay = chosen ? std::optional<uint32_t>(chosen->id) : std::nullopt;
        }
        m_previewIsFullScreen = true;
        m_previewView->setFullScreen(true);
        // Under the toolbar, over everything else.
        m_setup.kit.prepare(m_previewPanel.get(), {SurfaceLevel::dim, false, false});
        m_setup.kit.raise(m_previewPanel.get());
        std::optional<GlobalRect> target = m_fullPreviewDisplay ? displayFrame(*m_fullPreviewDisplay) : std::nullopt;
        if (!target) {
            if (const DisplayInfo* d = displayAt(displays, frame()))
                target = d->frame;
            else if (!displays.empty())
                target = displays.front().frame;
        }
        if (target && frame() != *target)
            setFrame(*target);
    } else if (m_previewIsFullScreen) {
        m_previewIsFullScreen = false;
        m_previewView->setFullScreen(false);
        m_previewView->setRadiusFrac(previewRadius());
        m_setup.kit.prepare(m_previewPanel.get(), {SurfaceLevel::floating, false, false});
        m_setup.kit.raise(m_previewPanel.get());
        if (m_normalPreviewFrame)
            setFrame(clampPreview(displays, *m_normalPreviewFrame));
        m_normalPreviewFrame.reset();
        m_fullPreviewDisplay.reset();
        applyPreviewShape();
    }
    m_previewView->relayout();
    m_adjustingPreviewScene = false;
}

void CameraPreviewWindow::updateVisibleRegion()
{
    if (!m_previewPanel)
        return;
    const QRectF bounds = m_previewView->rect();
    const double radius = PreviewView::cornerRadius(bounds.size(), m_previewView->radiusFrac(), m_previewIsFullScreen);
    QPainterPath shape;
    shape.addRoundedRect(bounds, radius, radius);
    m_setup.kit.surfaces().setVisibleRegion(m_previewPanel.get(), QRegion(shape.toFillPolygon().toPolygon()));
}

// MARK: - The compositor's layout

void CameraPreviewWindow::pushOverlay()
{
    const std::shared_ptr<CameraOverlayState> overlay = m_model.dependencies().camera->overlay();
    if (!overlay)
        return;
    CameraOverlayState::Layout layout;
    layout.mirrored = m_prefs.cameraMirrored();
    if (isVisible() && m_previewView) {
        layout.frame = frame();
        layout.shape = m_prefs.cameraShape();
        layout.radius = m_prefs.cameraRadius();
        layout.visible = true;
    } else {
        layout.shape = 0;
        layout.radius = 0;
        layout.visible = false;
    }
    overlay->setBubble(layout);
}

} // namespace corvessa
