#include "maintoolbar.h"

#include "commandtable.h"
#include "toolbartemplate.h"

CMainToolBar::CMainToolBar(const ToolbarTemplate& toolbar, CommandTable& commands, QWidget* parent)
    : QToolBar(parent)
{
    setObjectName(QStringLiteral("mainToolBar"));
    setIconSize(QSize(kImageSize, kImageSize));
    setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    commands.AddToolbarTemplate(toolbar);
    for (const ToolbarButton& button : toolbar.buttons) {
        if (button.commandId == 0)
            addSeparator();
        else
            addAction(commands.Action(button.commandId));
    }
}
