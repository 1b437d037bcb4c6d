#include "menustyle.h"

#include <QAction>
#include <QGuiApplication>
#include <QMenu>
#include <QPointer>
#include <QProxyStyle>
#include <QScreen>
#include <QStyleFactory>
#include <vector>

namespace
{

bool g_flat = true;
std::vector<QPointer<QMenu>> g_tracked;

QStyle* FlatStyle()
{
    static QStyle* style = [] {
        QStyle* s = QStyleFactory::create(QStringLiteral("Fusion"));
        return s ? s : new QProxyStyle();
    }();
    return style;
}

QStyle* ClassicStyle()
{
    static QStyle* style = [] {
        QStyle* s = QStyleFactory::create(QStringLiteral("Windows"));
        return s ? s : new QProxyStyle();
    }();
    return style;
}

int ScreenDepth()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->depth() : 32;
}

void ApplyTo(QMenu* menu, bool flat)
{
    menu->setStyleSheet(flat ? QString::fromLatin1(MenuStyle::FlatStyleSheet()) : QString());
    menu->setStyle(flat ? FlatStyle() : ClassicStyle());
    for (QAction* action : menu->actions())
        if (QMenu* sub = action->menu())
            ApplyTo(sub, flat);
}

} // namespace

const char* MenuStyle::FlatStyleSheet()
{
    return "QMenu { background: #fcfcfd; border: 1px solid #b9c4d4; padding: 2px; }"
           "QMenu::item { padding: 4px 28px 4px 8px; border: 1px solid transparent; }"
           "QMenu::item:selected { background: #dde8f8; border: 1px solid #8fb0e0;"
           " color: #000000; }"
           "QMenu::item:disabled { color: #9aa0a8; }"
           "QMenu::icon { padding-left: 4px; }"
           "QMenu::separator { height: 1px; background: #dde1e8; margin: 3px 6px; }";
}

void MenuStyle::SetFlat(bool on)
{
    g_flat = on;
    std::erase_if(g_tracked, [](const QPointer<QMenu>& m) { return m.isNull(); });
    for (const QPointer<QMenu>& menu : g_tracked)
        Apply(menu.data());
}

bool MenuStyle::IsFlatSwitchOn()
{
    return g_flat;
}

bool MenuStyle::UseFlat(bool switchOn, int screenDepth)
{
    return switchOn && screenDepth > 8;
}

void MenuStyle::Apply(QMenu* menu)
{
    if (menu)
        ApplyTo(menu, UseFlat(g_flat, ScreenDepth()));
}

void MenuStyle::Track(QMenu* menu)
{
    if (!menu)
        return;
    g_tracked.emplace_back(menu);
    Apply(menu);
}
