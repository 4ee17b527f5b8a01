#include "tools/PrompterPanel.h"

#include "prefs/widgets/PasteGuard.h"
#include "prefs/Loc.h"
#include "prefs/LocNotifier.h"
#include "toolbar/kit/Symbols.h"
#include "tools/PrompterEditor.h"
#include "tools/Teleprompter.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSizeGrip>
#include <QSlider>
#include <QTextEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace corvessa {

namespace {

// White at 0.09: the panel's dark background.
const QColor kBackground = QColor::fromRgbF(0.09f, 0.09f, 0.09f);
const QColor kIcon = QColor(255, 255, 255, 230);
const QColor kSecondary = QColor(255, 255, 255, 150);
// The warning yellow of the bar.
const QColor kNotice = QColor::fromRgbF(1.0f, 0.78f, 0.0f);
// How long the notice about the script's limit stays.
constexpr int kNoticeMs = 8000;
constexpr double kIconPoints = 14;
// The English help text of a control, translated again when the language changes.
constexpr const char* kHelpKey = "corvessa.help";

int clampedToSlider(double value, int minimum, int maximum)
{
    return int(std::lround(std::clamp(value, double(minimum), double(maximum))));
}

QFont scriptFont(const QFont& base, double points)
{
    QFont font = base;
    font.setPointSizeF(points);
    font.setWeight(QFont::Medium);
    return font;
}

} // namespace

PrompterPanel::PrompterPanel(Teleprompter& teleprompter) : m_t(teleprompter)
{
    setObjectName(QStringLiteral("teleprompter"));
    setMinimumSize(int(Teleprompter::minWidth), int(Teleprompter::minHeight));
    QFont base = font();
    base.setPointSizeF(14);
    setFont(base);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* row = new QHBoxLayout;
    row->setContentsMargins(10, 3, 12, 3);
    row->setSpacing(12);
    // The close button in the room the leading edge keeps for it.
    QToolButton* close = button(QStringLiteral("xmark"), Loc::mark("Close"));
    close->setObjectName(QStringLiteral("prompterClose"));
    connect(close, &QToolButton::clicked, this, [this] { m_t.hide(); });
    row->addWidget(close);
    m_play = button(QStringLiteral("play.fill"), QString());
    connect(m_play, &QToolButton::clicked, this, [this] { m_t.setPlaying(!m_t.playing()); });
    row->addWidget(m_play);
    QToolButton* rewind = button(QStringLiteral("backward.end.fill"), Loc::mark("Rewind"));
    connect(rewind, &QToolButton::clicked, this, [this] { m_t.rewind(); });
    row->addWidget(rewind);
    row->addStretch(1);
    row->addSpacing(4);
    m_speed = slider(row, QStringLiteral("gauge.with.dots.needle.33percent"), Loc::mark("Scroll Speed"),
                     int(Teleprompter::sliderMinSpeed), int(Teleprompter::sliderMaxSpeed));
    connect(m_speed, &QSlider::valueChanged, this, [this](int v) {
        if (!m_syncing)
            m_t.setSpeed(v);
    });
    m_font = slider(row, QStringLiteral("textformat.size"), Loc::mark("Font Size"),
                    int(Teleprompter::sliderMinFont), int(Teleprompter::sliderMaxFont));
    connect(m_font, &QSlider::valueChanged, this, [this](int v) {
        if (!m_syncing)
            m_t.setFontSize(v);
    });
    m_opacity = slider(row, QStringLiteral("circle.lefthalf.filled"), Loc::mark("Window Opacity"),
                       int(Teleprompter::sliderMinOpacity * 100), int(Teleprompter::sliderMaxOpacity * 100));
    connect(m_opacity, &QSlider::valueChanged, this, [this](int v) {
        if (!m_syncing)
            m_t.setOpacity(v / 100.0);
    });
    auto* rowWidget = new QWidget(this);
    rowWidget->setFixedHeight(rowHeight);
    rowWidget->setLayout(row);
    rowWidget->setAttribute(Qt::WA_TransparentForMouseEvents, false);
    column->addWidget(rowWidget);

    // Said under the controls for a while when a paste or typing met the
    // script's limit.
    m_notice = new QLabel(this);
    m_notice->setObjectName(QStringLiteral("prompterNotice"));
    m_notice->setWordWrap(true);
    m_notice->setContentsMargins(14, 2, 14, 2);
    QPalette noticePalette = m_notice->palette();
    noticePalette.setColor(QPalette::WindowText, kNotice);
    m_notice->setPalette(noticePalette);
    m_notice->hide();
    column->addWidget(m_notice);
    m_noticeTimer.setSingleShot(true);
    m_noticeTimer.setInterval(kNoticeMs);
    connect(&m_noticeTimer, &QTimer::timeout, m_notice, &QLabel::hide);

    m_editor = new PrompterEditor(Teleprompter::maxTextLength, this);
    m_editor->onCut = [this] { showCutNotice(); };
    m_editor->setObjectName(QStringLiteral("prompterText"));
    m_editor->setAcceptRichText(false);
    m_editor->setFrameStyle(QFrame::NoFrame);
    m_editor->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_editor->setLineWrapMode(QTextEdit::WidgetWidth);
    m_editor->setUndoRedoEnabled(true);
    PasteGuard::install(m_editor);
    QPalette palette = m_editor->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    palette.setColor(QPalette::Text, Qt::white);
    m_editor->setPalette(palette);
    m_editor->viewport()->setAutoFillBackground(false);
    m_editor->setAutoFillBackground(false);
    m_editor->document()->setDocumentMargin(12);
    m_editor->setContentsMargins(2, 0, 2, 0);
    m_editor->setFont(scriptFont(m_editor->font(), m_t.fontSize()));
    m_editor->setPlainText(m_t.text());
    connect(m_editor, &QTextEdit::textChanged, this, [this] { m_t.setText(m_editor->toPlainText()); });
    column->addWidget(m_editor, 1);

    m_grip = new QSizeGrip(this);
    m_grip->resize(14, 14);

    connect(&m_t, &Teleprompter::changed, this, &PrompterPanel::sync);
    connect(&LocNotifier::instance(), &LocNotifier::languageChanged, this, [this] {
        for (QWidget* w : findChildren<QWidget*>()) {
            const QString help = w->property(kHelpKey).toString();
            if (!help.isEmpty())
                w->setToolTip(Loc::text(help));
        }
        sync();
    });
    sync();
}

QToolButton* PrompterPanel::button(const QString& symbol, const QString& help)
{
    auto* b = new QToolButton(this);
    b->setAutoRaise(true);
    b->setFixedSize(buttonSize, buttonSize);
    b->setIconSize(QSize(int(kIconPoints), int(kIconPoints)));
    b->setFocusPolicy(Qt::NoFocus);
    b->setProperty(kHelpKey, help);
    b->setToolTip(help.isEmpty() ? QString() : Loc::text(help));
    setSymbol(b, symbol);
    return b;
}

void PrompterPanel::setSymbol(QToolButton* button, const QString& symbol)
{
    button->setIcon(QIcon(Symbols::pixmap(symbol, kIconPoints, kIcon, devicePixelRatioF())));
}

QSlider* PrompterPanel::slider(QHBoxLayout* row, const QString& symbol, const QString& help, int minimum,
                               int maximum)
{
    auto* icon = new QLabel(this);
    icon->setPixmap(Symbols::pixmap(symbol, kIconPoints, kSecondary, devicePixelRatioF()));
    icon->setProperty(kHelpKey, help);
    icon->setToolTip(Loc::text(help));
    auto* s = new QSlider(Qt::Horizontal, this);
    s->setRange(minimum, maximum);
    s->setFixedWidth(sliderWidth);
    s->setFocusPolicy(Qt::NoFocus);
    s->setProperty(kHelpKey, help);
    s->setToolTip(Loc::text(help));
    auto* pair = new QHBoxLayout;
    pair->setSpacing(4);
    pair->addWidget(icon);
    pair->addWidget(s);
    row->addLayout(pair);
    return s;
}

void PrompterPanel::sync()
{
    m_syncing = true;
    const bool playing = m_t.playing();
    setSymbol(m_play, playing ? QStringLiteral("pause.fill") : QStringLiteral("play.fill"));
    m_play->setToolTip(playing ? Loc::text(QStringLiteral("Pause Scrolling"))
                               : Loc::text(QStringLiteral("Start Scrolling")));
    // A value beyond a slider's range (from a profile) is shown at its end, not changed.
    m_speed->setValue(clampedToSlider(m_t.speed(), m_speed->minimum(), m_speed->maximum()));
    m_font->setValue(clampedToSlider(m_t.fontSize(), m_font->minimum(), m_font->maximum()));
    m_opacity->setValue(clampedToSlider(m_t.opacity() * 100, m_opacity->minimum(), m_opacity->maximum()));
    if (m_editor->font().pointSizeF() != m_t.fontSize())
        m_editor->setFont(scriptFont(m_editor->font(), m_t.fontSize()));
    setWindowOpacity(m_t.opacity());
    m_syncing = false;
}

QString PrompterPanel::cutNotice()
{
    return Loc::fill(Loc::text(QStringLiteral("A script holds at most %@ characters: the rest was left out.")),
                     QString::number(Teleprompter::maxTextLength));
}

void PrompterPanel::showCutNotice()
{
    m_notice->setText(cutNotice());
    m_notice->show();
    m_noticeTimer.start();
}

void PrompterPanel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), kBackground);
}

void PrompterPanel::mousePressEvent(QMouseEvent* event)
{
    // The control row's background moves the panel.
    if (event->button() == Qt::LeftButton && windowHandle() && windowHandle()->startSystemMove()) {
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void PrompterPanel::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    if (isVisible() && onGeometryChanged)
        onGeometryChanged();
}

void PrompterPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_grip->move(width() - m_grip->width(), height() - m_grip->height());
    m_grip->raise();
    if (isVisible() && onGeometryChanged)
        onGeometryChanged();
}

void PrompterPanel::closeEvent(QCloseEvent* event)
{
    // The window manager's close: stop and hide, keeping the panel.
    event->ignore();
    m_t.hide();
}

} // namespace corvessa
