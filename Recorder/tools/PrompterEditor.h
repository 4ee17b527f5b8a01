#pragma once

#include <QTextEdit>

#include <functional>

namespace corvessa {

// The teleprompter's script editor: a plain-text field that never holds more
// than `limit` characters. A paste or a drop is cut to the room left before it
// is inserted (laying out megabytes in one go would hold the program up for
// minutes), typing stops at the limit, and control characters other than tabs
// and line breaks are left out, and a run with nowhere to break a line is
// given such a place (see longestRun). When input is cut, onCut says so. Main
// thread.
class PrompterEditor : public QTextEdit {
public:
    PrompterEditor(qsizetype limit, QWidget* parent = nullptr);

    qsizetype limit() const { return m_limit; }
    // The characters the script holds now.
    qsizetype length() const;
    // Called when input was cut or refused at the limit.
    std::function<void()> onCut;

    // Text wraps in time proportional to its length only where a line may
    // break: a run with no such place (a pasted "wwww…") takes time growing
    // with its square, seconds for a few hundred thousand characters. No
    // spoken script has a word this long, so a longer run is given an
    // invisible place to break.
    static constexpr qsizetype longestRun = 256;
    static constexpr QChar breakOpportunity = QChar(0x200B); // zero-width space

    // `text` without the control characters a script has no use for, with
    // CR LF and CR as line breaks, a breakOpportunity in every run longer than
    // longestRun, and at most `room` characters (never half a surrogate pair).
    static QString fitted(const QString& text, qsizetype room);

protected:
    void insertFromMimeData(const QMimeData* source) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

private:
    // Room for new text where the cursor is: what the selection frees counts.
    qsizetype room() const;
    void cut();

    qsizetype m_limit;
};

} // namespace corvessa
