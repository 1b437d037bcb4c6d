#include "commandtable.h"

#include "menutemplate.h"
#include "resourceids.h"
#include "resourceimage.h"
#include "resourcelibrary.h"
#include "toolbartemplate.h"

#include <QIcon>
#include <QPixmap>

namespace
{

void AddImage(QIcon& icon, const QImage& image, QIcon::Mode mode)
{
    if (!image.isNull())
        icon.addPixmap(QPixmap::fromImage(image), mode);
}

void AddItems(CommandTable& table, const std::vector<MenuItem>& items)
{
    for (const MenuItem& item : items) {
        if (item.kind == MenuItem::Kind::Popup) {
            AddItems(table, item.children);
            continue;
        }
        if (item.kind != MenuItem::Kind::Command || item.commandId == 0)
            continue;
        QAction* action = table.Action(item.commandId);
        if (action->text().isEmpty())
            action->setText(QString::fromStdString(item.text));
        if (item.checkable)
            action->setCheckable(true);
        // Only the nominal 16 x 16 image: a 2x drawing has the pixel size of the toolbar's
        // 32 x 32 images and QIcon would mix them up.
        if (item.imageId != 0 && !action->property("pwMenuImage").isValid()) {
            QIcon icon = action->icon();
            AddImage(icon, LoadResourceImage(item.imageId), QIcon::Normal);
            action->setIcon(icon);
            action->setProperty("pwMenuImage", item.imageId);
        }
    }
}

} // namespace

CommandTable::CommandTable(QObject* parent) : QObject(parent)
{
}

QAction* CommandTable::Action(unsigned commandId)
{
    auto it = actions_.find(commandId);
    if (it != actions_.end())
        return it->second;
    auto* action = new QAction(this);
    action->setData(commandId);
    actions_.emplace(commandId, action);
    return action;
}

QAction* CommandTable::Find(unsigned commandId) const
{
    auto it = actions_.find(commandId);
    return it == actions_.end() ? nullptr : it->second;
}

std::vector<unsigned> CommandTable::Ids() const
{
    std::vector<unsigned> ids;
    for (const auto& [id, action] : actions_)
        ids.push_back(id);
    return ids;
}

void CommandTable::AddMenuTemplate(const MenuTemplate& menu)
{
    AddItems(*this, menu.items);
}

void CommandTable::AddToolbarTemplate(const ToolbarTemplate& toolbar)
{
    for (const ToolbarButton& button : toolbar.buttons) {
        if (button.commandId == 0)
            continue;
        QAction* action = Action(button.commandId);
        if (button.textId != 0)
            action->setIconText(QString::fromStdString(LoadResourceString(button.textId)));
        QIcon icon = action->icon();
        const struct {
            ToolbarLook look;
            QIcon::Mode mode;
        } looks[] = {{ToolbarLook::Normal, QIcon::Normal},
                     {ToolbarLook::Hot, QIcon::Active},
                     {ToolbarLook::Disabled, QIcon::Disabled}};
        for (const auto& l : looks) {
            AddImage(icon, LoadToolbarImage(toolbar.id, button.commandId, l.look), l.mode);
            AddImage(icon, LoadToolbarImage(toolbar.id, button.commandId, l.look, 2), l.mode);
        }
        action->setIcon(icon);
    }
}

void CommandTable::AddBundleTemplates()
{
    for (unsigned id : {ResId::kMainMenu, ResId::kAccountTreeMenu, ResId::kHeaderListMenu,
                        ResId::kTrayMenu, ResId::kNotifierOptionsMenu})
        AddMenuTemplate(LoadMenuTemplate(id));
    AddToolbarTemplate(LoadToolbarTemplate(ResId::kMainToolbar));
}
