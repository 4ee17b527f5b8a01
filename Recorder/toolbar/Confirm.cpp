#include "toolbar/Confirm.h"

#include "platform/DialogPlacement.h"

#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <QWindow>

#include <utility>

namespace corvessa {

namespace {

constexpr int kIconSize = 48;
constexpr int kTextWidth = 320; // wide enough for a sentence, narrow enough to read as one block

} // namespace

Confirm::Confirm(std::function<void(QWindow*)> registerWindow)
    : m_registerWindow(std::move(registerWindow))
{
}

Confirm::~Confirm()
{
    *m_alive = false;
    abort();
}

QColor Confirm::okColour()
{
    return QColor::fromRgbF(0.84f, 0.16f, 0.16f);
}

bool Confirm::ask(const QString& title, const QString& message, const QString& ok, const QString& cancel)
{
    if (isShowing())
        return false;

    QDialog dialog;
    // A dialog of a fixed size, closed only by its answers.
    dialog.setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowCloseButtonHint);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setWindowTitle(title);

    auto* layout = new QVBoxLayout(&dialog);
    layout->setContentsMargins(24, 20, 24, 16);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    auto* icon = new QLabel(&dialog);
    icon->setPixmap(dialog.style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(kIconSize, kIconSize));
    icon->setAlignment(Qt::AlignCenter);
    layout->addWidget(icon);
    auto addText = [&](const QString& text, bool bold) {
        auto* label = new QLabel(text, &dialog);
        label->setAlignment(Qt::AlignCenter);
        label->setWordWrap(true);
        label->setFixedWidth(kTextWidth);
        label->setTextFormat(Qt::PlainText);
        if (bold) {
            QFont font = label->font();
            font.setBold(true);
            label->setFont(font);
        }
        layout->addWidget(label, 0, Qt::AlignHCenter);
    };
    addText(title, true);
    if (!message.isEmpty())
        addText(message, false);

    // Neither button is a default one, so Return clicks nothing; the key filter
    // turns it into a cancel.
    auto* cancelButton = new QPushButton(cancel, &dialog);
    auto* okButton = new QPushButton(ok, &dialog);
    for (QPushButton* b : {cancelButton, okButton}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    okButton->setStyleSheet(QStringLiteral("QPushButton { background: %1; color: white; border: none;"
                                           " border-radius: 5px; padding: 5px 16px; }"
                                           " QPushButton:pressed { background: %2; }"
                                           " QPushButton:focus { border: 2px solid %3; }")
                                .arg(okColour().name(), okColour().darker(125).name(),
                                     okColour().lighter(150).name()));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancelButton);
    buttons->addWidget(okButton); // the confirming button on the right
    layout->addSpacing(8);
    layout->addLayout(buttons);
    QObject::connect(okButton, &QPushButton::clicked, &dialog, &QDialog::accept);
    QObject::connect(cancelButton, &QPushButton::clicked, &dialog, &QDialog::reject);

    dialog.installEventFilter(this);
    for (QWidget* child : dialog.findChildren<QWidget*>())
        child->installEventFilter(this);

    m_dialog = &dialog;
    m_ok = okButton;
    dialog.adjustSize();
    dialog.winId();
    QWindow* window = dialog.windowHandle();
    if (m_registerWindow)
        m_registerWindow(window);
    DialogPlacement::present(window);
    DialogPlacement::frame(window);
    // QDialog centres itself on first show unless the widget was moved.
    dialog.move(window->framePosition());
    cancelButton->setFocus(Qt::OtherFocusReason);

    auto alive = m_alive;
    const int code = dialog.exec();
    if (!*alive)
        return false;
    m_dialog = nullptr;
    m_ok = nullptr;
    return code == QDialog::Accepted;
}

void Confirm::abort()
{
    // Once answered (hidden) the answer stands: rejecting again would overwrite it.
    if (m_dialog && m_dialog->isVisible())
        m_dialog->reject();
}

bool Confirm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress || !m_dialog)
        return QObject::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    // Shift and the keypad do not matter; with Control, Alt or Meta held the key
    // is someone else's.
    const bool plain = !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    const int k = key->key();
    if (plain && (k == Qt::Key_Return || k == Qt::Key_Enter || k == Qt::Key_Escape)) {
        m_dialog->reject();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace corvessa
