#include "settings/AboutPane.h"

#include "prefs/Loc.h"
#include "settings/GatedSegmented.h"
#include "settings/SettingsLayout.h"
#include "toolbar/kit/Symbols.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <utility>

namespace corvessa {

bool AboutPane::openGuideNext = false;

namespace {

constexpr int kPickerWidth = 220;
constexpr int kIconSize = 96;
constexpr int kItemIconWidth = 28;
constexpr int kItemIconPoints = 15;


QLabel* label(const QString& text, QWidget* parent, int pointDelta = -1, bool secondary = true, bool wrap = true)
{
    auto* l = new QLabel(text, parent);
    QFont font = l->font();
    if (pointDelta && font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() + pointDelta);
    l->setFont(font);
    if (secondary) {
        SettingsLayout::greyText(l);
    }
    l->setWordWrap(wrap);
    return l;
}

} // namespace

AboutPane::AboutPane(LinkActions links, QWidget* parent)
    : QWidget(parent)
    , m_links(std::move(links))
    , m_page(openGuideNext ? Page::usage : Page::about)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_picker = new GatedSegmented([this] { return int(m_page); }, [this](int page) { setPage(Page(page)); },
                                  {{Loc::text(QStringLiteral("About")), {}, int(Page::about)}, {Loc::text(QStringLiteral("Guide")), {}, int(Page::usage)}}, this);
    m_picker->setFixedWidth(kPickerWidth);
    layout->addWidget(m_picker, 0, Qt::AlignHCenter);
    layout->addSpacing(16);
    m_about = aboutPage();
    m_usage = usagePage();
    layout->addWidget(m_about);
    layout->addWidget(m_usage);
    setPage(m_page);
}

void AboutPane::show(Page page)
{
    openGuideNext = page == Page::usage;
    for (QWidget* widget : QApplication::allWidgets()) {
        if (auto* pane = dynamic_cast<AboutPane*>(widget))
            pane->setPage(page);
    }
}

void AboutPane::setPage(Page page)
{
    m_page = page;
    // Only the page shown takes room, so the short about page does not scroll.
    m_about->setVisible(page == Page::about);
    m_usage->setVisible(page == Page::usage);
    m_picker->update();
}

QString AboutPane::versionText()
{
    return Loc::fill(Loc::text(QStringLiteral("Version %@ (%@)")), LinkActions::version(), LinkActions::build());
}

QString AboutPane::nameText()
{
    const QString name = QStringLiteral("Corvessa");
    const QString translated = Loc::text(name);
    return translated == name ? name : translated + QStringLiteral(" · ") + name;
}

std::vector<AboutPane::Section> AboutPane::guideSections()
{
    const auto item = [](const char* symbol, const QString& title, const QString& detail, QColor tint = {}) {
        return Item{QString::fromLatin1(symbol), title, detail, tint};
    };
    std::vector<Section> sections;
    sections.push_back(
        {Loc::text(QStringLiteral("Before You Record")),
         {item("rectangle.dashed", Loc::text(QStringLiteral("1. Choose What to Record")),
               Loc::text(QStringLiteral("Three buttons on the left: record full screen, record a window, or record an area. After selecting "
                  "\"Window\" or \"Area\", click the window as shown, or drag to create a selection."))),
          item("mic", Loc::text(QStringLiteral("2. Turn On Audio if You Want It")),
               Loc::text(QStringLiteral("\"Microphone\" records your voice; click it to choose a device. \"System Audio\" records sounds "
                  "from your Mac, like videos and music. The level meter under each one shows if it's picking up "
                  "sound."))),
          item("video", Loc::text(QStringLiteral("3. Turn On Camera to Show Yourself")),
               Loc::text(QStringLiteral("Click \"Camera\" to choose one. A camera window appears on screen and also in your recording."))),
          item("record.circle", Loc::text(QStringLiteral("4. Click the Blue \"Record\" Button")),
               Loc::text(QStringLiteral("A 3, 2, 1 countdown appears in the center (you can turn it off in Settings › Recording), then "
                  "recording starts. The toolbar won't appear in your video.")))},
         {}});
    sections.push_back(
        {Loc::text(QStringLiteral("While Recording")),
         {item("arrow.down.right.and.arrow.up.left", Loc::text(QStringLiteral("Compact Recording Toolbar")),
               Loc::text(QStringLiteral("Click the leftmost button while recording to switch to a shorter horizontal toolbar: time, pause, "
                  "stop, and microphone and system audio icons with vertical meters. Click the leftmost button again "
                  "to expand it. Your choice is remembered for future recordings. Use the tools button next to them, "
                  "or shortcuts, for the magnifier, pen, and teleprompter."))),
          item("pause.fill", Loc::text(QStringLiteral("Pause, Stop, Restart, and Cancel")),
               Loc::text(QStringLiteral("Four buttons on the left of the toolbar. Pause: click if you need a break, then resume when ready. "
                  "Stop: you're done. Restart: discard and re-record. Cancel: discard without saving. Restart and "
                  "Cancel ask for confirmation first."))),
          item("hand.tap", Loc::text(QStringLiteral("Tool Buttons: Click or Press and Hold")),
               Loc::text(QStringLiteral("On the magnifier and pen buttons, a click turns the tool on or off. Press and hold to open more "
                  "options: mode, zoom size and speed for the magnifier; tools for the pen. While a tool is on, press "
                  "Esc to leave it."))),
          item("pencil.tip", Loc::text(QStringLiteral("Pen")),
               Loc::text(QStringLiteral("Click to draw on screen as you talk. The color dot changes the color. Click again, or press Esc, "
                  "to turn the pen off and clear your drawings. Press and hold for lines, arrows, boxes, and more."))),
          item("plus.magnifyingglass", Loc::text(QStringLiteral("Magnifier")),
               Loc::text(QStringLiteral("Zoom in so small text is clear. Two modes. Follow Cursor: click to zoom around the cursor. Select "
                  "Region: click, then drag a box on screen to zoom into it (Esc cancels). Zoom in or out with ⌃⌥] "
                  "and ⌃⌥[. While paused you can pick the spot first; it zooms when you resume. Press Esc to turn it "
                  "off."))),
          item("person.crop.square", Loc::text(QStringLiteral("Camera Window")),
               Loc::text(QStringLiteral("Drag it with your mouse; it snaps to screen corners. To temporarily hide the preview, click "
                  "\"Camera\" and select \"Hide Camera Feed\" (you'll still be in the video)."))),
          item("mic.slash", Loc::text(QStringLiteral("Mute for a Moment")),
               Loc::text(QStringLiteral("Click \"Microphone\" and select \"Temporary Mute\", or press the shortcut. Press again to "
                  "unmute."))),
          item("eye.slash", Loc::text(QStringLiteral("Hidden While Recording")),
               Loc::text(QStringLiteral("The toolbar, menus, teleprompter, and settings window are hidden from your recording.")))},
         {}});
    sections.push_back(
        {Loc::text(QStringLiteral("While Paused")),
         {item("circle.fill", Loc::text(QStringLiteral("Ready to Resume")),
               Loc::text(QStringLiteral("Right after you pause. Everything stays ready, so resuming is instant.")), SettingsLayout::orange),
          item("leaf.fill", Loc::text(QStringLiteral("Eco Standby")),
               Loc::text(QStringLiteral("After 10 seconds. The screen is captured at only 1 frame per second to save power.")), SettingsLayout::orange),
          item("moon.zzz.fill", Loc::text(QStringLiteral("Deep Sleep")),
               Loc::text(QStringLiteral("After 3 minutes. Screen and camera capture stop completely, so resuming takes a moment longer.")),
               SettingsLayout::orange)},
         Loc::text(QStringLiteral("Nothing is recorded while paused, and the paused time is cut from your video. Hover over the icon beside "
            "the time to see the current mode."))});
    sections.push_back(
        {Loc::text(QStringLiteral("After Recording")),
         {item("checkmark.circle", Loc::text(QStringLiteral("Click “Stop” and Your Video Is Ready")),
               Loc::text(QStringLiteral("It saves in seconds. Click \"Show in Finder\" to find it. It's a .mov file—double-click to play or "
                  "send directly to others. No export needed."))),
          item("folder", Loc::text(QStringLiteral("Where Are Videos Saved?")),
               Loc::text(QStringLiteral("Videos are saved to the folder you choose when you first record. To change it, go to Settings › "
                  "General.")))},
         {}});
    sections.push_back(
        {Loc::text(QStringLiteral("And More")),
         {item("cursorarrow.rays", Loc::text(QStringLiteral("Cursor")),
               Loc::text(QStringLiteral("The cursor in your video can change to a glove. See Settings › Cursor.")) + QLatin1Char(' ')
                   + Loc::text(QStringLiteral("Your screen cursor doesn't change."))),
          item("text.justify.left", Loc::text(QStringLiteral("Teleprompter")),
               Loc::text(QStringLiteral("Paste your script, click play, and text scrolls up for you to read along. Press ⌃⌥T to show or "
                  "hide it, or Esc to close it. Change the shortcut in Settings › Shortcuts."))),
          item("command", Loc::text(QStringLiteral("Shortcuts")),
               Loc::text(QStringLiteral("Default shortcuts: Start ⌃⌥R, Pause ⌃⌥P, Stop ⌃⌥S, Mute ⌃⌥M, Pen ⌃⌥D, Magnifier ⌃⌥F, Zoom ⌃⌥] "
                  "and ⌃⌥[, Magnifier mode ⌃⌥G, Re-select ⌃⌥E, Teleprompter ⌃⌥T, Show or hide toolbar ⌃⌥H. They "
                  "work in any app. A small hint bar above the toolbar shows the shortcuts you can use right now; "
                  "turn it off in Settings › Shortcuts. Change shortcuts there, or find every command in the "
                  "Recording menu at the top of the screen.")))},
         {}});
    return sections;
}

QWidget* AboutPane::link(const QString& text, const QString& symbol, const QUrl& url, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    const QColor accent = button->palette().color(QPalette::Link);
    QPalette palette = button->palette();
    palette.setColor(QPalette::ButtonText, accent);
    button->setPalette(palette);
    if (!symbol.isEmpty() && Symbols::has(symbol))
        button->setIcon(QIcon(Symbols::pixmap(symbol, 14, accent, devicePixelRatioF())));
    connect(button, &QPushButton::clicked, this, [this, url] { m_links.open(url); });
    return button;
}

QWidget* AboutPane::aboutPage()
{
    auto* page = new QWidget(this);
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(5);
    const auto centred = [column](QWidget* w, int above = 0) {
        if (above)
            column->addSpacing(above);
        if (auto* l = qobject_cast<QLabel*>(w))
            l->setAlignment(Qt::AlignHCenter);
        column->addWidget(w, 0, Qt::AlignHCenter);
    };

    auto* icon = new QLabel(page);
    const QIcon appIcon = QApplication::windowIcon();
    if (!appIcon.isNull())
        icon->setPixmap(appIcon.pixmap(QSize(kIconSize, kIconSize), devicePixelRatioF()));
    icon->setFixedSize(kIconSize, kIconSize);
    centred(icon);

    auto* name = label(nameText(), page, 6, false, false);
    QFont bold = name->font();
    bold.setBold(true);
    name->setFont(bold);
    centred(name, 2);
    auto* version = label(versionText(), page, -1, true, false);
    version->setObjectName(QStringLiteral("version"));
    centred(version);
    auto* tagline = label(Loc::text(QStringLiteral("Lightweight screen recording. Done in seconds.")), page, -1, false, false);
    QFont semibold = tagline->font();
    semibold.setWeight(QFont::DemiBold);
    tagline->setFont(semibold);
    QPalette accent = tagline->palette();
    accent.setColor(QPalette::WindowText, accent.color(QPalette::Highlight));
    tagline->setPalette(accent);
    centred(tagline, 8);
    centred(label(QStringLiteral("Record. Stop. Done."), page, -1, true, false));
    auto* summary = label(Loc::text(QStringLiteral("Screen, camera, audio—all in one toolbar.")), page);
    summary->setAlignment(Qt::AlignHCenter);
    column->addWidget(summary);

    auto* divider = new QFrame(page);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    column->addSpacing(16);
    auto* dividerLine = new QHBoxLayout;
    dividerLine->setContentsMargins(60, 0, 60, 0);
    dividerLine->addWidget(divider);
    column->addLayout(dividerLine);
    column->addSpacing(16);

    const QString code = Loc::code();
    const auto row = [&](std::initializer_list<QWidget*> widgets, int spacing, int above) {
        auto* line = new QHBoxLayout;
        line->setSpacing(spacing);
        line->addStretch();
        for (QWidget* w : widgets)
            line->addWidget(w, 0, Qt::AlignVCenter);
        line->addStretch();
        column->addSpacing(above);
        column->addLayout(line);
    };
    row({link(Loc::text(QStringLiteral("Website")), QStringLiteral("globe"), LinkActions::websiteUrl(code), page),
         link(Loc::text(QStringLiteral("Guide")), QStringLiteral("book"), LinkActions::guideUrl(code), page)},
        16, 6);
    row({link(Loc::text(QStringLiteral("Privacy Policy")), {}, LinkActions::privacyUrl(code), page),
         link(Loc::text(QStringLiteral("Terms of Service")), {}, LinkActions::termsUrl(code), page),
         link(QStringLiteral("GitHub"), QStringLiteral("chevron.left.forwardslash.chevron.right"),
              QUrl(QString::fromLatin1(LinkActions::githubProfileAddress)), page)},
        16, 4);
    auto* question = label(Loc::text(QStringLiteral("Questions or suggestions? Email")), page, -1, true, false);
    question->setTextInteractionFlags(Qt::TextSelectableByMouse);
    row({question, link(QString::fromLatin1(LinkActions::supportAddress), {},
                        LinkActions::supportUrl(LinkActions::version()), page)},
        4, 8);
    column->addStretch();
    return page;
}

QWidget* AboutPane::section(const Section& s, QWidget* parent)
{
    auto* box = new QWidget(parent);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);
    auto* title = label(s.title, box, 1, false, false);
    QFont headline = title->font();
    headline.setBold(true);
    title->setFont(headline);
    column->addWidget(title);
    const QColor secondary = palette().color(QPalette::PlaceholderText);
    for (const Item& item : s.items) {
        auto* line = new QHBoxLayout;
        line->setSpacing(10);
        auto* icon = new QLabel(box);
        icon->setFixedWidth(kItemIconWidth);
        icon->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        if (Symbols::has(item.symbol))
            icon->setPixmap(Symbols::pixmap(item.symbol, kItemIconPoints, item.tint.isValid() ? item.tint : secondary,
                                            devicePixelRatioF()));
        line->addWidget(icon, 0, Qt::AlignTop);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(1);
        auto* itemTitle = label(item.title, box, -1, false);
        QFont semibold = itemTitle->font();
        semibold.setWeight(QFont::DemiBold);
        itemTitle->setFont(semibold);
        texts->addWidget(itemTitle);
        texts->addWidget(label(item.detail, box));
        line->addLayout(texts, 1);
        column->addLayout(line);
    }
    if (!s.note.isEmpty())
        column->addWidget(label(s.note, box));
    return box;
}

QWidget* AboutPane::usagePage()
{
    auto* page = new QWidget(this);
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(18);
    for (const Section& s : guideSections())
        column->addWidget(section(s, page));
    column->addWidget(label(Loc::text(QStringLiteral("On first use, allow “Screen & System Audio Recording” in the system prompt; it also "
                               "covers system audio. When you use the microphone or camera, you'll be asked again. "
                               "Just click “Allow”. If you click “Don't Allow” by accident, you can turn it back on "
                               "in Settings › Permissions.")),
                            page, -2));
    auto* trouble = label(Loc::fill(Loc::text(QStringLiteral("Having trouble? Email us at %@")), QString::fromLatin1(LinkActions::supportAddress)),
                          page, -2);
    trouble->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(trouble);
    column->addStretch();
    return page;
}

} // namespace corvessa
