#include "tools/PrompterEditor.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

namespace corvessa {

namespace {

bool kept(QChar c)
{
    return c == QLatin1Char('\n') || c == QLatin1Char('\t') || c.category() != QChar::Other_Control;
}

} // namespace

PrompterEditor::PrompterEditor(qsizetype limit, QWidget* parent)
    : QTextEdit(parent), m_limit(limit)
{
}

QString PrompterEditor::fitted(const QString& text, qsizetype room)
{
    room = std::max<qsizetype>(room, 0);
    QString out;
    out.reserve(std::min(text.size(), room));
    qsizetype run = 0; // characters since the last place a line may break
    for (qsizetype i = 0; i < text.size() && out.size() < room; ++i) {
        QChar c = text.at(i);
        if (c == QLatin1Char('\r')) {
            // Windows and old Mac line ends become one line break.
            if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
                continue;
            c = QLatin1Char('\n');
        } else if (!kept(c)) {
            continue;
        }
        if (c.isSpace() || c == breakOpportunity) {
            run = 0;
        } else if (++run > longestRun && !c.isLowSurrogate()) {
            if (out.size() + 1 >= room)
                break;
            out += breakOpportunity;
            run = 1;
        }
        out += c;
    }
    if (!out.isEmpty() && out.back().isHighSurrogate())
        out.chop(1);
    return out;
}

qsizetype PrompterEditor::length() const
{
    // The document counts the paragraph separator after its last block.
    return document()->characterCount() - 1;
}

qsizetype PrompterEditor::room() const
{
    const QTextCursor cursor = textCursor();
    return m_limit - length() + (cursor.selectionEnd() - cursor.selectionStart());
}

void PrompterEditor::cut()
{
    if (onCut)
        onCut();
}

void PrompterEditor::insertFromMimeData(const QMimeData* source)
{
    if (!source || !source->hasText())
        return;
    const QString text = source->text();
    const qsizetype room = this->room();
    // Two over the room tells whether anything was left out, a surrogate pair
    // at the edge included; only what fits is ever laid out.
    const QString wide = fitted(text, room + 2);
    const bool cutShort = wide.size() > room;
    const QString insert = cutShort ? fitted(text, room) : wide;
    if (!insert.isEmpty()) {
        textCursor().insertText(insert);
        ensureCursorVisible();
    }
    if (cutShort)
        cut();
}

void PrompterEditor::keyPressEvent(QKeyEvent* event)
{
    const QString text = event->text();
    const bool types = !text.isEmpty() && !(event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier))
        && (text.at(0).isPrint() || text.at(0) == QLatin1Char('\r') || text.at(0) == QLatin1Char('\t'));
    if (types && room() < text.size()) {
        event->accept();
        cut();
        return;
    }
    QTextEdit::keyPressEvent(event);
}

void PrompterEditor::inputMethodEvent(QInputMethodEvent* event)
{
    const qsizetype room = this->room() + event->replacementLength();
    if (event->commitString().size() > room) {
        QInputMethodEvent shorter(event->preeditString(), event->attributes());
        shorter.setCommitString(fitted(event->commitString(), room), event->replacementStart(),
                                event->replacementLength());
        QTextEdit::inputMethodEvent(&shorter);
        cut();
        return;
    }
    QTextEdit::inputMethodEvent(event);
}

} // namespace corvessa
