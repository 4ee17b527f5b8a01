#pragma once

#include "prefs/LinkActions.h"

#include <QColor>
#include <QString>
#include <QWidget>

#include <vector>

namespace corvessa {

class GatedSegmented;

// The About tab: a picker between the about page (icon, name, version,
// taglines, the web pages and the support address) and the built-in guide in
// five sections. Texts are translated when the pane is built. Main thread.
class AboutPane : public QWidget {
    Q_OBJECT
public:
    enum class Page { about, usage };

    // One line of the guide: an icon, a title and its explanation.
    struct Item {
        QString symbol;
        QString title;  // translated
        QString detail; // translated
        QColor tint;    // invalid: the secondary colour
    };
    struct Section {
        QString title; // translated
        std::vector<Item> items;
        QString note; // translated; empty for none
    };

    // Panes built from now on start on the guide when true, else on the about
    // page; the Guide and About commands set it through show().
    static bool openGuideNext;
    // The Guide command (`usage`) and the About command (`about`): panes built
    // from now on, and every pane already there, show that page.
    static void show(Page page);

    // Links go through `links` (its opener decides who shows them).
    explicit AboutPane(LinkActions links = LinkActions(), QWidget* parent = nullptr);

    Page page() const { return m_page; }
    void setPage(Page page);

    // "Version 1.2 (34)" in the interface language.
    static QString versionText();
    // "Corvessa", or its translation, " · " and "Corvessa".
    static QString nameText();
    // The guide's sections, translated now.
    static std::vector<Section> guideSections();

private:
    QWidget* aboutPage();
    QWidget* usagePage();
    QWidget* section(const Section& section, QWidget* parent);
    QWidget* link(const QString& text, const QString& symbol, const QUrl& url, QWidget* parent);

    LinkActions m_links;
    Page m_page = Page::about;
    GatedSegmented* m_picker = nullptr;
    QWidget* m_about = nullptr;
    QWidget* m_usage = nullptr;
};

} // namespace corvessa
