#include "accountmanager.h"
#include "apppaths.h"
#include "commandtable.h"
#include "leftview.h"
#include "mailboxfile.h"
#include "mailheadlist.h"
#include "uitestsupport.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>
#include <gtest/gtest.h>

namespace
{

// Sends a context-menu event to `view` and returns the command ids of the menu that opened
// (closing it at once), or an empty list when none opened.
std::vector<unsigned> MenuShownFor(QAbstractScrollArea* view, QContextMenuEvent::Reason reason,
                                   QPoint at)
{
    std::vector<unsigned> ids;
    bool seen = false;
    auto* poll = new QTimer();
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        seen = true;
        for (const QAction* a : menu->actions())
            if (!a->isSeparator())
                ids.push_back(a->data().toUInt());
        menu->close();
    });
    poll->start();
    QContextMenuEvent event(reason, at, view->viewport()->mapToGlobal(at));
    QCoreApplication::sendEvent(view->viewport(), &event);
    QApplication::processEvents();
    delete poll;
    return seen ? ids : std::vector<unsigned>{};
}

const std::vector<unsigned> kTreeMenu = {32809, 32800, 32797, 32786, 32782};
const std::vector<unsigned> kListMenu = {32801, 32856, 32857, 32807};

TEST(ContextMenu, TreeMenuOnlyOverAccountItems)
{
    UiSandbox sandbox;
    CAccountManager accounts;
    CommandTable commands;
    ASSERT_EQ(accounts.EnterOrRequest("Alpha", 1, nullptr, nullptr, 1),
              CAccountManager::kEnterAdded);
    CLeftView tree(&accounts);
    tree.SetCommandTable(&commands);
    tree.AddAccount("Alpha", false);
    tree.topLevelItem(0)->setExpanded(true);
    ASSERT_TRUE(tree.topLevelItem(0)->isExpanded());
    tree.resize(300, 300);
    tree.show();
    QApplication::processEvents();
    QTreeWidgetItem* account = tree.topLevelItem(0);
    QTreeWidgetItem* folder = account->child(0);
    const QPoint onAccount = tree.visualItemRect(account).center();
    const QPoint onFolder = tree.visualItemRect(folder).center();
    const struct {
        const char* name;
        QContextMenuEvent::Reason reason;
        QTreeWidgetItem* current;
        QPoint at;
        std::vector<unsigned> menu;
    } cases[] = {
        {"mouse over an account item", QContextMenuEvent::Mouse, folder, onAccount, kTreeMenu},
        {"mouse over a folder item", QContextMenuEvent::Mouse, account, onFolder, {}},
        {"mouse over no item", QContextMenuEvent::Mouse, account, QPoint(150, 280), {}},
        {"keyboard on an account item", QContextMenuEvent::Keyboard, account, QPoint(), kTreeMenu},
        {"keyboard on a folder item", QContextMenuEvent::Keyboard, folder, QPoint(), {}},
    };
    for (const auto& c : cases) {
        tree.setCurrentItem(c.current);
        EXPECT_EQ(MenuShownFor(&tree, c.reason, c.at), c.menu) << c.name;
    }
}

TEST(ContextMenu, ListMenuOnlyOverRowsOfAFilledList)
{
    UiSandbox sandbox;
    ASSERT_TRUE(AppPaths::MakeDirs(AppPaths::AccountDir("Alpha")));
    {
        CMailBoxFile file;
        ASSERT_TRUE(file.Open(AppPaths::MailBoxFile("Alpha")));
        StoredMessage m;
        m.messageId = "m1";
        m.mailType = "POP3";
        m.read = "No";
        m.sender = "carol";
        ASSERT_TRUE(file.Append(m));
    }
    CommandTable commands;
    CMailHeadList list;
    list.SetCommandTable(&commands);
    list.resize(500, 300);
    list.show();
    QApplication::processEvents();
    EXPECT_TRUE(MenuShownFor(&list, QContextMenuEvent::Keyboard, QPoint()).empty())
        << "an empty list has no menu";
    list.Load("Alpha");
    QApplication::processEvents();
    const QPoint onRow = list.visualRect(list.Model()->index(0, 2)).center();
    const struct {
        const char* name;
        QContextMenuEvent::Reason reason;
        QPoint at;
        std::vector<unsigned> menu;
    } cases[] = {
        {"mouse on a row", QContextMenuEvent::Mouse, onRow, kListMenu},
        {"mouse below the rows", QContextMenuEvent::Mouse, QPoint(100, 250), {}},
        {"keyboard", QContextMenuEvent::Keyboard, QPoint(), kListMenu},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MenuShownFor(&list, c.reason, c.at), c.menu) << c.name;
}

TEST(ContextMenu, ExpandButtonGoesThroughTheGate)
{
    UiSandbox sandbox;
    CAccountManager accounts;
    ASSERT_EQ(accounts.EnterOrRequest("Beta", 1, nullptr, nullptr, 1),
              CAccountManager::kEnterAdded);
    accounts.SetAccessPassword("Beta", "key");
    CLeftView tree(&accounts);
    int prompts = 0;
    bool answer = false;
    tree.SetAccessPrompt([&](const std::string&) {
        ++prompts;
        return answer;
    });
    tree.AddAccount("Beta", true);
    tree.resize(300, 300);
    tree.show();
    QApplication::processEvents();
    QTreeWidgetItem* beta = tree.topLevelItem(0);
    const QRect r = tree.visualItemRect(beta);
    const QPoint button(r.left() - tree.indentation() / 2, r.center().y());
    for (bool ok : {false, true}) {
        answer = ok;
        QMouseEvent press(QEvent::MouseButtonPress, button, tree.viewport()->mapToGlobal(button),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(tree.viewport(), &press);
        QMouseEvent release(QEvent::MouseButtonRelease, button,
                            tree.viewport()->mapToGlobal(button), Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QCoreApplication::sendEvent(tree.viewport(), &release);
        EXPECT_EQ(beta->isExpanded(), ok) << (ok ? "password given" : "password refused");
    }
    EXPECT_EQ(prompts, 2);
}

} // namespace
