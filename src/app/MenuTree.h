// One menu of the main window (112 or 113) built from its template: the
// top-level popups and an index of the items by command, with the graying and
// check marks that the operations read and set. The tree lives for the whole
// run; attaching it to the menu bar adds its popups, detaching removes them,
// so states carry over from one movie to the next.
#pragma once

#include "platform/win32/Types.h"

#include <QObject>

#include <functional>
#include <initializer_list>
#include <map>
#include <vector>

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

class MenuTree : public QObject {
    Q_OBJECT
public:
    using CommandHandler = std::function<void(UINT command)>;

    // Builds menu `id`; every item's selection calls `onCommand`.
    MenuTree(UINT id, QWidget* owner, CommandHandler onCommand);
    ~MenuTree() override;

    void AttachTo(QMenuBar* bar);
    void DetachFrom(QMenuBar* bar);

    // The item of `command`, or null.
    QAction* Item(UINT command) const;
    // The popup at a position path ({2} Options, {2, 1} Options > Resolution),
    // or null when the tree has no such popup.
    QMenu* SubMenu(std::initializer_list<int> path) const;

    // MF_GRAYED and MF_CHECKED bits of the item; a missing item reads as
    // grayed, as a missing menu entry does.
    UINT GetMenuState(UINT command) const;
    void EnableMenuItem(UINT command, bool enabled);
    void CheckMenuItem(UINT command, bool checked);
    // Grays or enables the popup at a position path.
    void EnableSubMenu(std::initializer_list<int> path, bool enabled);
    bool IsSubMenuEnabled(std::initializer_list<int> path) const;

    const std::vector<QMenu*>& TopMenus() const { return topMenus; }

private:
    std::vector<QMenu*> topMenus;
    std::map<UINT, QAction*> items;
};
