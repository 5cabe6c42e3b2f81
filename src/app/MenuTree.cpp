#include "app/MenuTree.h"

#include "res/Menus.h"
#include "res/Resource.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QWidget>

namespace {

// Items that carry a check mark at some point; they get the check-mark space
// in their menu.
bool IsCheckableCommand(UINT command) {
    switch (command) {
    case IDM_LOOP:
    case IDM_RGB8:
    case IDM_RGB16:
    case IDM_RGB24:
    case IDM_RGB32:
    case IDM_NATIVE:
    case IDM_PIXELDOUBLE:
    case IDM_ALTLINE:
    case IDM_PALDEFAULT:
    case IDM_PALCLIPBOARD:
    case IDM_PALFILE:
        return true;
    default:
        return false;
    }
}

} // namespace

MenuTree::MenuTree(UINT id, QWidget* owner, CommandHandler onCommand) : QObject(owner) {
    std::function<void(QMenu*, std::span<const MenuTemplateItem>)> fill =
        [&](QMenu* menu, std::span<const MenuTemplateItem> entries) {
            for (const MenuTemplateItem& entry : entries) {
                if (entry.flags & MF_SEPARATOR) {
                    menu->addSeparator();
                    continue;
                }
                const QString text = QString::fromLatin1(entry.text);
                if (entry.flags & MF_POPUP) {
                    QMenu* sub = menu->addMenu(text);
                    sub->menuAction()->setEnabled(!(entry.flags & MF_GRAYED));
                    fill(sub, entry.children);
                    continue;
                }
                QAction* action = menu->addAction(text);
                const UINT command = entry.command;
                action->setData(command);
                action->setEnabled(!(entry.flags & MF_GRAYED));
                if (IsCheckableCommand(command)) {
                    action->setCheckable(true);
                    action->setChecked(entry.flags & MF_CHECKED);
                }
                // A selection is a command; check marks change only when the
                // command's handler says so, so undo Qt's own toggle first.
                connect(action, &QAction::triggered, this, [action, command, onCommand](bool) {
                    if (action->isCheckable())
                        action->setChecked(!action->isChecked());
                    onCommand(command);
                });
                items[command] = action;
            }
        };
    for (const MenuTemplateItem& top : LoadMenuTemplate(id)) {
        auto* menu = new QMenu(QString::fromLatin1(top.text), owner);
        fill(menu, top.children);
        topMenus.push_back(menu);
    }
}

MenuTree::~MenuTree() = default;

void MenuTree::AttachTo(QMenuBar* bar) {
    for (QMenu* menu : topMenus)
        bar->addAction(menu->menuAction());
}

void MenuTree::DetachFrom(QMenuBar* bar) {
    for (QMenu* menu : topMenus)
        bar->removeAction(menu->menuAction());
}

QAction* MenuTree::Item(UINT command) const {
    const auto it = items.find(command);
    return it == items.end() ? nullptr : it->second;
}

QMenu* MenuTree::SubMenu(std::initializer_list<int> path) const {
    QMenu* menu = nullptr;
    bool first = true;
    for (int position : path) {
        if (first) {
            if (position < 0 || position >= static_cast<int>(topMenus.size()))
                return nullptr;
            menu = topMenus[static_cast<size_t>(position)];
            first = false;
            continue;
        }
        const QList<QAction*> actions = menu->actions();
        if (position < 0 || position >= actions.size() || actions[position]->menu() == nullptr)
            return nullptr;
        menu = actions[position]->menu();
    }
    return menu;
}

UINT MenuTree::GetMenuState(UINT command) const {
    const QAction* action = Item(command);
    if (action == nullptr)
        return MF_GRAYED;
    UINT state = 0;
    if (!action->isEnabled())
        state |= MF_GRAYED;
    if (action->isChecked())
        state |= MF_CHECKED;
    return state;
}

void MenuTree::EnableMenuItem(UINT command, bool enabled) {
    if (QAction* action = Item(command))
        action->setEnabled(enabled);
}

void MenuTree::CheckMenuItem(UINT command, bool checked) {
    if (QAction* action = Item(command)) {
        if (checked)
            action->setCheckable(true);
        action->setChecked(checked);
    }
}

void MenuTree::EnableSubMenu(std::initializer_list<int> path, bool enabled) {
    if (QMenu* menu = SubMenu(path))
        menu->menuAction()->setEnabled(enabled);
}

bool MenuTree::IsSubMenuEnabled(std::initializer_list<int> path) const {
    const QMenu* menu = SubMenu(path);
    return menu != nullptr && menu->menuAction()->isEnabled();
}
