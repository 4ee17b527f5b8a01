#pragma once

#include <QTimer>
#include <QWidget>

#include <functional>

class QHBoxLayout;
class QLabel;
class QSizeGrip;
class QSlider;
class QToolButton;

namespace corvessa {

class PrompterEditor;
class Teleprompter;

// The teleprompter's window: a dark panel with a row of controls (close,
// play/pause, rewind, then the speed, font-size and opacity sliders) above the
// plain-text editor of the script (at most Teleprompter::maxTextLength
// characters; a line under the controls says when input was cut), moved by dragging its control row and
// resized by its corner grip. The editor takes Ctrl+V, C, X, A, Z and
// Ctrl+Shift+Z as any text field does. Main thread.
class PrompterPanel : public QWidget {
public:
    static constexpr int rowHeight = 28;
    static constexpr int buttonSize = 22;
    static constexpr int sliderWidth = 60;

    explicit PrompterPanel(Teleprompter& teleprompter);

    PrompterEditor* editor() const { return m_editor; }
    // The line under the controls that says a paste or typing met the script's limit.
    QLabel* notice() const { return m_notice; }
    static QString cutNotice();
    QToolButton* playButton() const { return m_play; }
    // Called after the user moved or resized the panel.
    std::function<void()> onGeometryChanged;

    // Shows the teleprompter's playing state, values and font size.
    void sync();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // `help` is the English help text.
    QToolButton* button(const QString& symbol, const QString& help);
    QSlider* slider(QHBoxLayout* row, const QString& symbol, const QString& help, int minimum, int maximum);
    void setSymbol(QToolButton* button, const QString& symbol);
    void showCutNotice();

    Teleprompter& m_t;
    QToolButton* m_play = nullptr;
    QSlider* m_speed = nullptr;
    QSlider* m_font = nullptr;
    QSlider* m_opacity = nullptr;
    PrompterEditor* m_editor = nullptr;
    QLabel* m_notice = nullptr;
    QTimer m_noticeTimer;
    QSizeGrip* m_grip = nullptr;
    bool m_syncing = false;
};

} // namespace corvessa
