#pragma once

#include "toolbar/kit/GlassPanel.h"

#include <QString>

#include <optional>

class QLabel;

namespace corvessa {

// The content of a hover tip: the control's name and, when it has one, the
// display text of its hot key in the dimmer secondary colour, on a small glass
// card with a 4 pt transparent margin. Fixed to its ideal size. Main thread.
class TipView : public GlassPanel {
public:
    static constexpr double cornerRadius = 8;
    static constexpr int margin = 4;
    static constexpr int padX = 12;
    static constexpr int padY = 5;
    static constexpr int spacing = 8;
    static constexpr int fontPoints = 12;

    TipView(const QString& name, const std::optional<QString>& key, QWidget* parent = nullptr);

    QString name() const;
    // Empty when the tip shows no key.
    QString keyText() const;
    // The key label; null when the tip shows no key.
    QLabel* keyLabel() const { return m_key; }

private:
    QLabel* m_name = nullptr;
    QLabel* m_key = nullptr;
};

} // namespace corvessa
