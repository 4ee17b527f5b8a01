#include "prefs/widgets/ProfilesPanel.h"

#include "platform/FileReveal.h"
#include "prefs/widgets/PasteGuard.h"
#include "platform/core/XdgPaths.h"
#include "prefs/Loc.h"
#include "prefs/LocNotifier.h"
#include "prefs/Prefs.h"
#include "prefs/ProfileStore.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace corvessa {

namespace {

// Sizes in points, as the settings window's other panes use them.
constexpr int kSpacing = 10;
constexpr int kVerticalPadding = 8;
constexpr int kRowSpacing = 8;
constexpr int kRowPaddingX = 12;
constexpr int kRowPaddingY = 7;
constexpr int kDotSize = 7;
constexpr int kListRadius = 10;
constexpr double kListFillOpacity = 0.06;
constexpr double kBadgeFillOpacity = 0.25;
constexpr int kNameFieldWidth = 260;
constexpr int kNameFieldHeight = 24;

// Text styles relative to the body font (13 points on the reference design).
constexpr double kCalloutScale = 12.0 / 13.0;
constexpr double kCaptionScale = 10.0 / 13.0;
constexpr double kCaption2Scale = 10.0 / 13.0;
constexpr double kSmallControlScale = 11.0 / 13.0;

const QColor kActiveGreen(52, 199, 89);
const QColor kStatusOrange(255, 149, 0);

QFont scaledFont(const QFont& base, double factor, bool bold = false)
{
    QFont f = base;
    if (base.pointSizeF() > 0)
        f.setPointSizeF(base.pointSizeF() * factor);
    else if (base.pixelSize() > 0)
        f.setPixelSize(std::max(1, int(base.pixelSize() * factor + 0.5)));
    f.setBold(bold);
    return f;
}

QString rgba(const QColor& c, double opacity)
{
    return QStringLiteral("rgba(%1, %2, %3, %4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(int(opacity * 255 + 0.5));
}

QLabel* secondaryLabel(const QString& text, const QFont& font, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, p.color(QPalette::PlaceholderText));
    label->setPalette(p);
    return label;
}

QPushButton* smallButton(const QString& text, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setFont(scaledFont(parent->font(), kSmallControlScale));
    button->setAutoDefault(false);
    return button;
}

QPixmap dot(const QColor& fill, qreal scale)
{
    QPixmap pixmap(QSize(kDotSize, kDotSize) * scale);
    pixmap.setDevicePixelRatio(scale);
    pixmap.fill(Qt::transparent);
    if (fill.alpha() > 0) {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawEllipse(QRectF(0, 0, kDotSize, kDotSize));
    }
    return pixmap;
}

void revealInFileManager(const QString& path, bool select, std::function<void(bool shown)> done)
{
    if (select)
        FileReveal::current()->showItems({path}, std::move(done));
    else
        FileReveal::current()->openFolder(path, std::move(done));
}

} // namespace

ProfilesPanel::ProfilesPanel(ProfileStore& store, Prefs& prefs, QWidget* parent)
    : QWidget(parent), m_store(store), m_prefs(prefs), m_revealer(revealInFileManager)
{
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);

    connect(&m_store, &ProfileStore::namesChanged, this, &ProfilesPanel::rebuild);
    connect(&m_store, &ProfileStore::folderChanged, this, &ProfilesPanel::rebuild);
    connect(&m_store, &ProfileStore::defaultNameChanged, this, &ProfilesPanel::rebuild);
    connect(&m_store, &ProfileStore::activeNameChanged, this, &ProfilesPanel::rebuild);
    connect(&m_store, &ProfileStore::messageChanged, this, &ProfilesPanel::rebuild);
    connect(&m_prefs, &Prefs::changed, this, [this](Prefs::Key key) {
        if (key == Prefs::Key::isRecording)
            rebuild();
    });
    connect(&LocNotifier::instance(), &LocNotifier::languageChanged, this, &ProfilesPanel::rebuild);
    rebuild();
}

ProfilesPanel::~ProfilesPanel() = default;

void ProfilesPanel::setDialogPresenter(DialogPresenter presenter)
{
    m_presenter = std::move(presenter);
}

void ProfilesPanel::reveal(const QString& path, bool select)
{
    if (!m_revealer)
        return;
    const QString folder = QDir::toNativeSeparators(select ? QFileInfo(path).absolutePath() : path);
    m_revealer(path, select, [panel = QPointer<ProfilesPanel>(this), folder](bool shown) {
        if (!shown && panel)
            panel->m_store.setMessage(Loc::fill(Loc::text(QStringLiteral("The folder could not be opened: %@")), folder));
    });
}

void ProfilesPanel::setRevealer(Revealer revealer)
{
    m_revealer = std::move(revealer);
}

QString ProfilesPanel::displayPath(const QString& folder)
{
    const QString home = QDir::cleanPath(XdgPaths::home());
    const QString path = QDir::cleanPath(folder);
    // Whole folder names only: /home/al must not shorten /home/alice.
    if (home != QStringLiteral("/") && (path == home || path.startsWith(home + u'/')))
        return QStringLiteral("~") + path.mid(home.size());
    return path;
}

void ProfilesPanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_store.reload();
}

bool ProfilesPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_folderLabel && event->type() == QEvent::Resize)
        updateFolderText();
    return QWidget::eventFilter(watched, event);
}

// ---- Building ----

void ProfilesPanel::rebuild()
{
    // The old widgets may be running the very action that led here (a button's
    // click, a menu item), so they leave the tree now and are deleted later.
    if (m_content) {
        m_content->hide();
        m_content->setParent(nullptr);
        m_content->deleteLater();
        m_folderLabel = nullptr;
    }

    m_content = new QWidget(this);
    auto* column = new QVBoxLayout(m_content);
    column->setSpacing(kSpacing);
    column->setContentsMargins(0, kVerticalPadding, 0, kVerticalPadding);

    column->addWidget(header());

    auto* description = secondaryLabel(
        Loc::text(QStringLiteral("Save your settings now and switch back with one click. Mark one as \"Default\" to "
                                 "auto-load when opening the app.")),
        scaledFont(font(), kCaptionScale), m_content);
    description->setWordWrap(true);
    column->addWidget(description);

    if (!m_store.names().isEmpty()) {
        column->addWidget(list());
    } else {
        auto* placeholder = secondaryLabel(
            Loc::text(QStringLiteral("No profiles yet. Click “Save as New Profile…” in the top right.")),
            scaledFont(font(), kCalloutScale), m_content);
        placeholder->setObjectName(QStringLiteral("placeholder"));
        placeholder->setWordWrap(true);
        placeholder->setContentsMargins(0, 6, 0, 6);
        column->addWidget(placeholder);
    }

    if (const auto& message = m_store.message()) {
        auto* status = new QLabel(*message, m_content);
        status->setObjectName(QStringLiteral("statusLine"));
        status->setFont(scaledFont(font(), kCaptionScale));
        status->setWordWrap(true);
        QPalette p = status->palette();
        p.setColor(QPalette::WindowText, kStatusOrange);
        status->setPalette(p);
        column->addWidget(status);
    }

    column->addWidget(folderRow());
    m_layout->addWidget(m_content);
    updateFolderText();
}

QWidget* ProfilesPanel::header()
{
    auto* box = new QWidget(m_content);
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);

    auto* title = new QLabel(Loc::text(QStringLiteral("Profile")), box);
    title->setFont(scaledFont(font(), 1.0, true));
    layout->addWidget(title);
    layout->addStretch(1);

    auto* save = new QPushButton(Loc::text(QStringLiteral("Save as New Profile…")), box);
    save->setObjectName(QStringLiteral("saveAsNewButton"));
    save->setAutoDefault(false);
    connect(save, &QPushButton::clicked, this, &ProfilesPanel::newProfile);
    layout->addWidget(save);
    return box;
}

QWidget* ProfilesPanel::list()
{
    auto* frame = new QFrame(m_content);
    frame->setObjectName(QStringLiteral("profileList"));
    frame->setAttribute(Qt::WA_StyledBackground);
    frame->setStyleSheet(QStringLiteral("QFrame#profileList { background: %1; border-radius: %2px; }")
                             .arg(rgba(palette().color(QPalette::WindowText), kListFillOpacity))
                             .arg(kListRadius));
    auto* layout = new QVBoxLayout(frame);
    layout->setSpacing(0);
    layout->setContentsMargins(0, 0, 0, 0);

    bool first = true;
    for (const QString& name : m_store.names()) {
        if (!first) {
            auto* divider = new QFrame(frame);
            divider->setFrameShape(QFrame::HLine);
            divider->setFrameShadow(QFrame::Plain);
            divider->setStyleSheet(QStringLiteral("color: %1;").arg(rgba(palette().color(QPalette::WindowText), 0.12)));
            layout->addWidget(divider);
        }
        first = false;
        QWidget* entry = row(name);
        entry->setParent(frame);
        layout->addWidget(entry);
    }
    return frame;
}

QWidget* ProfilesPanel::row(const QString& name)
{
    auto* box = new QWidget;
    box->setObjectName(QStringLiteral("profileRow"));
    box->setProperty("profileName", name);
    auto* layout = new QHBoxLayout(box);
    layout->setSpacing(kRowSpacing);
    layout->setContentsMargins(kRowPaddingX, kRowPaddingY, kRowPaddingX, kRowPaddingY);

    const bool active = m_store.activeName() == name;
    const bool isDefault = m_store.defaultName() == name;

    auto* mark = new QLabel(box);
    mark->setObjectName(QStringLiteral("activeDot"));
    mark->setProperty("active", active);
    mark->setFixedSize(kDotSize, kDotSize);
    mark->setPixmap(dot(active ? kActiveGreen : QColor(Qt::transparent), devicePixelRatioF()));
    mark->setToolTip(active ? Loc::text(QStringLiteral("Currently using this profile.")) : QString());
    layout->addWidget(mark);

    auto* title = new QLabel(name, box);
    title->setObjectName(QStringLiteral("profileName"));
    title->setTextFormat(Qt::PlainText);
    layout->addWidget(title);

    if (isDefault) {
        auto* badge = new QLabel(Loc::text(QStringLiteral("Default")), box);
        badge->setObjectName(QStringLiteral("defaultBadge"));
        const QFont badgeFont = scaledFont(font(), kCaption2Scale);
        badge->setFont(badgeFont);
        const int height = QFontMetrics(badgeFont).height() + 2;
        badge->setStyleSheet(QStringLiteral("QLabel { background: %1; border-radius: %2px; padding: 1px 6px; }")
                                 .arg(rgba(palette().color(QPalette::Highlight), kBadgeFillOpacity))
                                 .arg(height / 2));
        layout->addWidget(badge);
    }
    layout->addStretch(1);

    auto* load = smallButton(Loc::text(QStringLiteral("Load")), box);
    load->setObjectName(QStringLiteral("loadButton"));
    load->setEnabled(!m_prefs.isRecording());
    connect(load, &QPushButton::clicked, this, [this, name] { m_store.load(name, true); });
    layout->addWidget(load);

    auto* actions = new QToolButton(box);
    actions->setObjectName(QStringLiteral("actionsButton"));
    actions->setIcon(QIcon::fromTheme(QStringLiteral("view-more-symbolic"),
                                      QIcon::fromTheme(QStringLiteral("view-more"))));
    if (actions->icon().isNull())
        actions->setText(QStringLiteral("⋯"));
    actions->setAutoRaise(true);
    actions->setPopupMode(QToolButton::InstantPopup);
    actions->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; width: 0px; }"));

    auto* menu = new QMenu(actions);
    menu->addAction(Loc::text(QStringLiteral("Update with Current Settings")), this,
                    [this, name] { updateProfile(name); });
    menu->addAction(Loc::text(QStringLiteral("Rename…")), this, [this, name] { renameProfile(name); });
    if (isDefault) {
        menu->addAction(Loc::text(QStringLiteral("Unset Default")), this,
                        [this] { m_store.setDefaultName(std::nullopt); });
    } else {
        menu->addAction(Loc::text(QStringLiteral("Set as Default (Auto-Load on Startup)")), this,
                        [this, name] { m_store.setDefaultName(name); });
    }
    menu->addSeparator();
    menu->addAction(Loc::text(QStringLiteral("Show in Finder")), this, [this, name] {
        if (const auto path = m_store.filePath(name))
            reveal(*path, true);
    });
    QAction* remove = menu->addAction(Loc::text(QStringLiteral("Delete (Move to Trash)")), this,
                                      [this, name] { m_store.remove(name); });
    QFont destructive = remove->font();
    destructive.setBold(true);
    remove->setFont(destructive);
    actions->setMenu(menu);
    layout->addWidget(actions);
    return box;
}

QWidget* ProfilesPanel::folderRow()
{
    auto* box = new QWidget(m_content);
    auto* layout = new QHBoxLayout(box);
    layout->setSpacing(kRowSpacing);
    layout->setContentsMargins(0, 0, 0, 0);

    const QFont caption = scaledFont(font(), kCaptionScale);
    layout->addWidget(secondaryLabel(Loc::text(QStringLiteral("Profile Location")), caption, box));

    // Elided at the head when too long, so the folder's own name stays visible.
    m_folderLabel = secondaryLabel(QString(), caption, box);
    m_folderLabel->setObjectName(QStringLiteral("folderPath"));
    m_folderLabel->setTextFormat(Qt::PlainText);
    m_folderLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_folderLabel->setMinimumWidth(40);
    m_folderLabel->setProperty("displayPath", displayPath(m_store.folder()));
    m_folderLabel->setToolTip(m_store.folder());
    m_folderLabel->installEventFilter(this);
    layout->addWidget(m_folderLabel, 1);

    auto* change = smallButton(Loc::text(QStringLiteral("Change…")), box);
    change->setObjectName(QStringLiteral("changeFolderButton"));
    connect(change, &QPushButton::clicked, this, &ProfilesPanel::chooseFolder);
    layout->addWidget(change);

    auto* show = smallButton(Loc::text(QStringLiteral("Show in Finder")), box);
    show->setObjectName(QStringLiteral("showFolderButton"));
    connect(show, &QPushButton::clicked, this, [this] { reveal(m_store.folder(), false); });
    layout->addWidget(show);
    return box;
}

void ProfilesPanel::updateFolderText()
{
    if (!m_folderLabel)
        return;
    const QString full = m_folderLabel->property("displayPath").toString();
    const int width = m_folderLabel->width();
    m_folderLabel->setText(width > 0 ? m_folderLabel->fontMetrics().elidedText(full, Qt::ElideLeft, width) : full);
}

// ---- Actions ----

std::optional<QString> ProfilesPanel::askForName(const QString& title, const QString& informative,
                                                 const QString& accept, const QString& proposed)
{
    QDialog dialog(window());
    dialog.setObjectName(QStringLiteral("profileNameDialog"));
    dialog.setWindowTitle(title);
    auto* layout = new QVBoxLayout(&dialog);

    auto* heading = new QLabel(title, &dialog);
    heading->setFont(scaledFont(dialog.font(), 1.0, true));
    layout->addWidget(heading);
    layout->addWidget(new QLabel(informative, &dialog));

    auto* field = new QLineEdit(proposed, &dialog);
    field->setObjectName(QStringLiteral("nameField"));
    PasteGuard::install(field);
    field->setFixedSize(kNameFieldWidth, kNameFieldHeight);
    field->selectAll();
    layout->addWidget(field);

    auto* buttons = new QDialogButtonBox(&dialog);
    QPushButton* ok = buttons->addButton(accept, QDialogButtonBox::AcceptRole);
    buttons->addButton(Loc::text(QStringLiteral("Cancel")), QDialogButtonBox::RejectRole);
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);

    dialog.adjustSize();
    field->setFocus();
    if (m_presenter)
        m_presenter(&dialog);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return field->text();
}

void ProfilesPanel::newProfile()
{
    const QString proposed = Loc::fill(Loc::text(QStringLiteral("Profile %@")), m_store.names().size() + 1);
    if (const auto name = askForName(Loc::text(QStringLiteral("Save as New Profile")),
                                     Loc::text(QStringLiteral("Save your current settings with a name:")),
                                     Loc::text(QStringLiteral("Save")), proposed))
        m_store.create(*name);
}

void ProfilesPanel::renameProfile(const QString& name)
{
    if (const auto newName = askForName(Loc::text(QStringLiteral("Rename")), Loc::text(QStringLiteral("New name:")),
                                        Loc::text(QStringLiteral("OK")), name))
        m_store.rename(name, *newName);
}

void ProfilesPanel::updateProfile(const QString& name)
{
    // No confirmation: updating is what the user just picked. A failed write
    // leaves the store's own message and the active mark as they were.
    if (!m_store.write(name))
        return;
    m_store.setActiveName(name);
    m_store.setMessage(Loc::fill(Loc::text(QStringLiteral("Updated “%@” with current settings.")), name));
}

void ProfilesPanel::chooseFolder()
{
    QFileDialog dialog(window());
    dialog.setObjectName(QStringLiteral("profileFolderDialog"));
    // Our own dialog rather than another program's, so it can be kept out of
    // recordings like every other window of ours.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setDirectory(m_store.folder());
    dialog.setWindowTitle(Loc::text(QStringLiteral("Select a folder to store profiles.")));
    dialog.setLabelText(QFileDialog::Accept, Loc::text(QStringLiteral("Choose")));
    dialog.setLabelText(QFileDialog::Reject, Loc::text(QStringLiteral("Cancel")));
    if (m_presenter)
        m_presenter(&dialog);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QStringList chosen = dialog.selectedFiles();
    if (!chosen.isEmpty() && !chosen.first().isEmpty())
        m_store.setFolder(chosen.first());
}

} // namespace corvessa
