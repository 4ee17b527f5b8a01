#pragma once

#include <QWidget>

#include <vector>

class QGridLayout;
class QLabel;

namespace corvessa {

class CursorShadowPreview;
class CursorSizePreview;
class CursorTile;
class Prefs;
class ResetSlider;
class SettingRow;

// The cursor pane: how the cursor is drawn into the finished video (system
// arrows, cursor art or none), the tile of the chosen style, its size and the
// shadow strengths released and pressed, with live previews of both. The user's
// own screen cursor never changes. Main thread.
class CursorPane : public QWidget {
    Q_OBJECT
public:
    explicit CursorPane(Prefs& prefs, QWidget* parent = nullptr);

    CursorSizePreview* sizePreview() const { return m_sizePreview; }
    CursorShadowPreview* shadowPreview() const { return m_shadowPreview; }
    const std::vector<CursorTile*>& tiles() const { return m_tiles; }

private:
    bool systemStyle() const;
    void rebuildTiles();
    void refresh();

    Prefs& m_prefs;
    QWidget* m_body = nullptr;
    QGridLayout* m_grid = nullptr;
    std::vector<CursorTile*> m_tiles;
    int m_tileStyle = -1;
    QLabel* m_note = nullptr;
    SettingRow* m_sizeRow = nullptr;
    ResetSlider* m_size = nullptr;
    ResetSlider* m_shadowUp = nullptr;
    ResetSlider* m_shadowDown = nullptr;
    CursorSizePreview* m_sizePreview = nullptr;
    CursorShadowPreview* m_shadowPreview = nullptr;
};

} // namespace corvessa
