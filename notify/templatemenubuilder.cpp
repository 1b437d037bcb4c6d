#include "templatemenubuilder.h"

#include "resourceimage.h"

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QPixmap>

namespace
{

// Both drawings of the image, so menus stay sharp on a scaled screen.
QIcon MenuIcon(unsigned imageId)
{
    QIcon icon;
    for (int scale : {1, 2}) {
        const QImage image = LoadResourceImage(imageId, scale);
        if (!image.isNull())
            icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

} // namespace

QMenu* TemplateMenuBuilder::Build(const MenuItem& popup, QWidget* parent)
{
    auto* menu = new QMenu(QString::fromStdString(popup.text), parent);
    for (const MenuItem& child : popup.children)
        AddItem(menu, child);
    return menu;
}

QMenu* TemplateMenuBuilder::BuildContextMenu(unsigned templateId, QWidget* parent)
{
    const MenuTemplate menuTemplate = LoadMenuTemplate(templateId);
    if (menuTemplate.IsNull() || menuTemplate.items.front().kind != MenuItem::Kind::Popup)
        return nullptr;
    return Build(menuTemplate.items.front(), parent);
}

bool TemplateMenuBuilder::FillContextMenu(QMenu* menu, unsigned templateId)
{
    const MenuTemplate menuTemplate = LoadMenuTemplate(templateId);
    if (!menu || menuTemplate.IsNull() || menuTemplate.items.front().kind != MenuItem::Kind::Popup)
        return false;
    for (const MenuItem& child : menuTemplate.items.front().children)
        AddItem(menu, child);
    return true;
}

QAction* TemplateMenuBuilder::AddItem(QMenu* menu, const MenuItem& item)
{
    switch (item.kind) {
    case MenuItem::Kind::Separator:
        return menu->addSeparator();
    case MenuItem::Kind::Popup: {
        QMenu* sub = Build(item, menu);
        return menu->addMenu(sub);
    }
    case MenuItem::Kind::Command:
        break;
    }
    QAction* action = menu->addAction(QString::fromStdString(item.text));
    action->setData(item.commandId);
    action->setCheckable(item.checkable);
    if (item.imageId)
        action->setIcon(MenuIcon(item.imageId));
    return action;
}

unsigned TemplateMenuBuilder::CommandOf(const QAction* action)
{
    if (!action || action->isSeparator() || action->menu())
        return 0;
    return action->data().toUInt();
}

QAction* TemplateMenuBuilder::FindCommand(const QMenu* menu, unsigned commandId)
{
    if (!menu || commandId == 0)
        return nullptr;
    for (QAction* action : menu->actions()) {
        if (QMenu* sub = action->menu()) {
            if (QAction* found = FindCommand(sub, commandId))
                return found;
        } else if (CommandOf(action) == commandId) {
            return action;
        }
    }
    return nullptr;
}
