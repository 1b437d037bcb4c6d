#include "menubuilder.h"

#include "commandtable.h"
#include "menustyle.h"

#include <QMenu>
#include <QMenuBar>

void MenuBuilder::Fill(QMenu* menu, const std::vector<MenuItem>& items, CommandTable& commands)
{
    for (const MenuItem& item : items) {
        switch (item.kind) {
        case MenuItem::Kind::Separator:
            menu->addSeparator();
            break;
        case MenuItem::Kind::Popup: {
            QMenu* sub = menu->addMenu(QString::fromStdString(item.text));
            Fill(sub, item.children, commands);
            break;
        }
        case MenuItem::Kind::Command:
            if (item.commandId == 0)
                break;
            if (!commands.Find(item.commandId)) {
                MenuTemplate one;
                one.items.push_back(item);
                commands.AddMenuTemplate(one);
            }
            menu->addAction(commands.Action(item.commandId));
            break;
        }
    }
}

QMenu* MenuBuilder::BuildContextMenu(unsigned templateId, CommandTable& commands, QWidget* parent)
{
    return BuildContextMenu(LoadMenuTemplate(templateId), commands, parent);
}

QMenu* MenuBuilder::BuildContextMenu(const MenuTemplate& menu, CommandTable& commands,
                                     QWidget* parent)
{
    for (const MenuItem& item : menu.items) {
        if (item.kind != MenuItem::Kind::Popup)
            continue;
        auto* result = new QMenu(QString::fromStdString(item.text), parent);
        Fill(result, item.children, commands);
        MenuStyle::Apply(result);
        return result;
    }
    return nullptr;
}

void MenuBuilder::FillMenuBar(QMenuBar* bar, const MenuTemplate& menu, CommandTable& commands)
{
    for (const MenuItem& item : menu.items) {
        if (item.kind != MenuItem::Kind::Popup)
            continue;
        QMenu* sub = bar->addMenu(QString::fromStdString(item.text));
        Fill(sub, item.children, commands);
        MenuStyle::Track(sub);
    }
}
