#pragma once

#include <QString>

#include <functional>
#include <variant>
#include <vector>

namespace corvessa {

// One row of a floating menu, a value: a command, a line of text, a gain
// slider or a divider. The closures run on the main thread. The toolbar, the
// pen menu and the tray build lists of these; the floating menu draws them.
struct MenuRow {
    struct Item {
        QString title;
        bool checked = false;
        bool enabled = true;
        bool dim = false;
        std::function<void()> action;
    };
    struct Note {
        QString text;
    };
    struct Slider {
        QString title;
        std::function<double()> get; // gain in dB
        std::function<void(double)> set;
    };
    struct Separator {};

    std::variant<Item, Note, Slider, Separator> row;

    static MenuRow item(QString title, bool checked, bool enabled, bool dim, std::function<void()> action)
    {
        return {Item{std::move(title), checked, enabled, dim, std::move(action)}};
    }
    static MenuRow note(QString text) { return {Note{std::move(text)}}; }
    static MenuRow slider(QString title, std::function<double()> get, std::function<void(double)> set)
    {
        return {Slider{std::move(title), std::move(get), std::move(set)}};
    }
    static MenuRow separator() { return {Separator{}}; }

    const Item* asItem() const { return std::get_if<Item>(&row); }
    const Note* asNote() const { return std::get_if<Note>(&row); }
    const Slider* asSlider() const { return std::get_if<Slider>(&row); }
    bool isSeparator() const { return std::holds_alternative<Separator>(row); }
};

using MenuRows = std::vector<MenuRow>;
using MenuProvider = std::function<MenuRows()>;

} // namespace corvessa
