#include "app/MenuNode.h"

#include <utility>

namespace corvessa {

MenuNode MenuNode::command(QString title, QString identifier, std::function<void()> action)
{
    MenuNode node;
    node.title = std::move(title);
    node.identifier = std::move(identifier);
    node.action = std::move(action);
    return node;
}

MenuNode MenuNode::menu(QString title, std::vector<MenuNode> entries)
{
    MenuNode node;
    node.title = std::move(title);
    node.isSubmenu = true;
    node.submenu = std::move(entries);
    return node;
}

MenuNode MenuNode::divider()
{
    MenuNode node;
    node.separator = true;
    return node;
}

MenuNode& MenuNode::check(bool on)
{
    checkable = true;
    checked = on;
    return *this;
}

MenuNode& MenuNode::enable(bool on)
{
    enabled = on;
    return *this;
}

MenuNode& MenuNode::key(QString text)
{
    keyText = std::move(text);
    return *this;
}

const MenuNode* MenuNode::find(const QString& id) const
{
    if (!identifier.isEmpty() && identifier == id)
        return this;
    return find(submenu, id);
}

const MenuNode* MenuNode::find(const std::vector<MenuNode>& entries, const QString& id)
{
    for (const MenuNode& entry : entries) {
        if (const MenuNode* found = entry.find(id))
            return found;
    }
    return nullptr;
}

} // namespace corvessa
