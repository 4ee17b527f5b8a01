// How long the teleprompter's script editor takes to paste and lay out a
// script at its length limit, and then to take one more keystroke, for three
// shapes of text: lines of words, one paragraph of words, and one run with no
// place to break a line (which the editor gives invisible breaks). Prints
// milliseconds; run with QT_QPA_PLATFORM=offscreen where no display is open.
#include "tools/PrompterEditor.h"
#include "tools/Teleprompter.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QKeyEvent>

#include <cstdio>

using namespace corvessa;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const qsizetype n = Teleprompter::maxTextLength;
    const struct {
        const char* name;
        QString text;
    } shapes[] = {
        {"lines of words", QStringLiteral("A line of the script to read aloud.\n").repeated(n / 36 + 1)},
        {"one paragraph of words", QStringLiteral("word ").repeated(n / 5 + 1)},
        {"one run without breaks", QString(n, QLatin1Char('w'))},
    };
    std::printf("script limit: %lld characters\n", static_cast<long long>(n));
    for (const auto& shape : shapes) {
        PrompterEditor editor(n);
        editor.resize(460, 270);
        editor.show();
        QGuiApplication::clipboard()->setText(shape.text + shape.text); // twice the limit: cut
        QElapsedTimer clock;
        clock.start();
        editor.paste();
        QCoreApplication::processEvents();
        const qint64 paste = clock.elapsed();
        editor.moveCursor(QTextCursor::Start);
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
        clock.restart();
        QCoreApplication::sendEvent(&editor, &key);
        QCoreApplication::processEvents();
        std::printf("%-24s paste of %lld characters: %lld ms, then one key: %lld ms (holds %lld)\n", shape.name,
                    static_cast<long long>(2 * shape.text.size()), static_cast<long long>(paste),
                    static_cast<long long>(clock.elapsed()), static_cast<long long>(editor.length()));
    }
    return 0;
}
