#include "accountlock.h"
#include "accountmanager.h"
#include "apppaths.h"
#include "mailboxfile.h"
#include "mailheadlist.h"
#include "newaccount.h"
#include "programkey.h"
#include "registrykey.h"
#include "uitestsupport.h"

#include <QApplication>
#include <QHeaderView>
#include <QSignalSpy>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

namespace
{

StoredMessage Message(const std::string& id, const std::string& read, const std::string& sender,
                      const std::string& subject, const std::string& attachment = "No")
{
    StoredMessage m;
    m.messageId = id;
    m.mailType = "POP3";
    m.read = read;
    m.sender = sender;
    m.subject = subject;
    m.date = "2026-12-0" + id.substr(id.size() - 1);
    m.size = id.substr(id.size() - 1) + " KB";
    m.preview = "preview of " + id;
    m.attachment = attachment;
    m.uid = "uid-" + id;
    return m;
}

// Writes the account's Message.box with `messages` in this order.
void WriteMailBox(const std::string& account, const std::vector<StoredMessage>& messages)
{
    ASSERT_TRUE(AppPaths::MakeDirs(AppPaths::AccountDir(account)));
    CMailBoxFile file;
    ASSERT_TRUE(file.Open(AppPaths::MailBoxFile(account))) << file.LastError();
    if (!messages.empty())
        ASSERT_TRUE(file.Append(messages)) << file.LastError();
}

// id -> Read field, as Message.box holds it now.
std::map<std::string, std::string> StoredReadFlags(const std::string& account)
{
    std::map<std::string, std::string> flags;
    CMailBoxFile file;
    EXPECT_TRUE(file.Open(AppPaths::MailBoxFile(account)));
    StoredMessage m;
    while (file.Next() && file.ReadCurrent(m, false, false))
        flags[m.messageId] = m.read;
    return flags;
}

std::vector<StoredMessage> FiveMessages()
{
    return {Message("m1", "No", "carol", "Budget"), Message("m2", "Yes", "alice", "lunch"),
            Message("m3", "No", "Bob", "Agenda", "Yes"), Message("m4", "Yes", "dave", ""),
            Message("m5", "Yes", "eve", "Zebra")};
}

std::vector<std::string> IdsInRowOrder(const CMailHeadModel& model)
{
    std::vector<std::string> ids;
    for (int r = 0; r < model.Rows(); ++r)
        ids.push_back(model.RowAt(r).messageId);
    return ids;
}

void Select(CMailHeadList& list, const std::vector<int>& rows)
{
    list.clearSelection();
    for (int r : rows)
        list.selectionModel()->select(list.Model()->index(r, 0),
                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

TEST(MailHeadList, LoadShowsTheStoredMessagesWithCountsAndLooks)
{
    UiSandbox sandbox;
    WriteMailBox("Alpha", FiveMessages());
    CMailHeadList list;
    QSignalSpy counts(&list, &CMailHeadList::countsChanged);
    list.Load("Alpha");

    const CMailHeadModel& model = *list.Model();
    ASSERT_EQ(model.Rows(), 5);
    EXPECT_EQ(model.UnreadCount(), 2);
    ASSERT_FALSE(counts.isEmpty());
    EXPECT_EQ(counts.last().at(0).toInt(), 5);
    EXPECT_EQ(counts.last().at(1).toInt(), 2);
    EXPECT_EQ(IdsInRowOrder(model), (std::vector<std::string>{"m1", "m2", "m3", "m4", "m5"}));
    EXPECT_EQ(list.SelectedRows(), std::vector<int>{0}) << "row 0 is selected after a load";

    // Columns: read image, attachment image, sender, subject, date, size.
    EXPECT_EQ(CMailHeadModel::CellImage(model.RowAt(0), 0), CMailHeadModel::kImageUnread);
    EXPECT_EQ(CMailHeadModel::CellImage(model.RowAt(1), 0), CMailHeadModel::kImageRead);
    EXPECT_EQ(CMailHeadModel::CellImage(model.RowAt(2), 1), CMailHeadModel::kImageAttachment);
    EXPECT_EQ(CMailHeadModel::CellImage(model.RowAt(0), 1), -1);
    EXPECT_EQ(model.data(model.index(0, 2), Qt::DisplayRole).toString(), "carol");
    EXPECT_EQ(model.data(model.index(0, 3), Qt::DisplayRole).toString(), "Budget");
    EXPECT_TRUE(model.data(model.index(0, 3), Qt::FontRole).value<QFont>().bold());
    EXPECT_FALSE(model.data(model.index(1, 3), Qt::FontRole).isValid()) << "read rows plain";
    EXPECT_FALSE(model.data(model.index(0, 0), Qt::DecorationRole).value<QIcon>().isNull());
    EXPECT_EQ(model.data(model.index(0, 5), Qt::TextAlignmentRole).toInt() & Qt::AlignRight,
              Qt::AlignRight);
    EXPECT_EQ(model.headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), "From");
    EXPECT_EQ(model.headerData(0, Qt::Horizontal, Qt::ToolTipRole).toString(), "Read");
    EXPECT_FALSE(model.headerData(1, Qt::Horizontal, Qt::DecorationRole).value<QIcon>().isNull())
        << "image columns show an image in the header";
    EXPECT_EQ(model.Preview(2), "preview of m3") << "the preview is read on demand";
}

// Another process appending to Message.box holds the account's lock; until it raises the
// count its record is an uncommitted tail, which opening the file would cut. A preview read
// then gives nothing and leaves the file alone.
TEST(MailHeadList, APreviewIsNotReadWhileAnotherProcessHoldsTheLock)
{
    UiSandbox sandbox;
    WriteMailBox("Alpha", FiveMessages());
    CMailHeadList list;
    list.Load("Alpha");
    ASSERT_EQ(list.Model()->Preview(0), "preview of m1");
    const std::string box = AppPaths::MailBoxFile("Alpha");
    {
        CMailBoxFile file;
        ASSERT_TRUE(file.Open(box));
        ASSERT_TRUE(file.Append(Message("m6", "No", "fay", "in flight")));
    }
    std::FILE* raw = std::fopen(box.c_str(), "r+b");
    ASSERT_NE(raw, nullptr);
    const unsigned char five[4] = {5, 0, 0, 0}; // the count before the append's commit
    ASSERT_EQ(std::fseek(raw, CMailBoxFile::kCountOffset, SEEK_SET), 0);
    ASSERT_EQ(std::fwrite(five, 1, 4, raw), 4u);
    std::fclose(raw);
    const std::string before = ReadWholeFile(box);

    const std::string lockFile = AppPaths::AccountDir("Alpha") + "/" + CAccountLock::kFileName;
    const int other = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0); // a descriptor of its own: another holder
    EXPECT_EQ(list.Model()->Preview(0), "");
    EXPECT_EQ(ReadWholeFile(box), before) << "the uncommitted tail is still there";
    ::close(other);
    EXPECT_EQ(list.Model()->Preview(0), "preview of m1");
}

TEST(MailHeadList, LoadOfAMissingOrUnsafeStoreGivesAnEmptyListAndCreatesNothing)
{
    UiSandbox sandbox;
    const struct {
        const char* name;
        std::string account;
    } cases[] = {{"no folder", "Nobody"}, {"path escape", ".."}, {"slash", "a/b"}};
    for (const auto& c : cases) {
        CMailHeadList list;
        list.Load(c.account);
        EXPECT_EQ(list.Model()->Rows(), 0) << c.name;
    }
    ASSERT_TRUE(AppPaths::MakeDirs(AppPaths::AccountDir("Empty")));
    CMailHeadList list;
    list.Load("Empty");
    EXPECT_EQ(list.Model()->Rows(), 0);
    EXPECT_FALSE(std::filesystem::exists(AppPaths::MailBoxFile("Empty")));
}

TEST(MailHeadList, SortingByHeaderOrdersRowsAsTheReportCompareSays)
{
    UiSandbox sandbox;
    WriteMailBox("Alpha", FiveMessages());
    const struct {
        const char* name;
        int column;
        Qt::SortOrder order;
        std::vector<std::string> ids;
    } cases[] = {
        {"read state ascending: unread first",
         0,
         Qt::AscendingOrder,
         {"m1", "m3", "m2", "m4", "m5"}},
        {"read state descending: read first, equal rows keep their order",
         0,
         Qt::DescendingOrder,
         {"m2", "m4", "m5", "m1", "m3"}},
        {"attachment ascending: none first", 1, Qt::AscendingOrder, {"m1", "m2", "m4", "m5", "m3"}},
        {"sender: upper case before lower case",
         2,
         Qt::AscendingOrder,
         {"m3", "m2", "m1", "m4", "m5"}},
        {"subject: empty first, then bytes", 3, Qt::AscendingOrder, {"m4", "m3", "m1", "m5", "m2"}},
        {"subject descending", 3, Qt::DescendingOrder, {"m2", "m5", "m1", "m3", "m4"}},
    };
    for (const auto& c : cases) {
        CMailHeadList list;
        list.Load("Alpha");
        list.sortByColumn(c.column, c.order);
        EXPECT_EQ(IdsInRowOrder(*list.Model()), c.ids) << c.name;
        list.Model()->sort(c.column, c.order);
        EXPECT_EQ(IdsInRowOrder(*list.Model()), c.ids) << c.name << ": sorting again keeps it";
    }
}

TEST(MailHeadList, SelectionFollowsItsMessagesWhenSorted)
{
    UiSandbox sandbox;
    WriteMailBox("Alpha", FiveMessages());
    CMailHeadList list;
    list.Load("Alpha");
    Select(list, {1, 4}); // m2, m5
    list.sortByColumn(2, Qt::DescendingOrder);
    std::vector<std::string> selected;
    for (int r : list.SelectedRows())
        selected.push_back(list.Model()->RowAt(r).messageId);
    std::sort(selected.begin(), selected.end());
    EXPECT_EQ(selected, (std::vector<std::string>{"m2", "m5"}));
}

TEST(MailHeadList, MarkReadAndUnreadChangeRowsCountsAndTheStore)
{
    const struct {
        const char* name;
        std::vector<int> rows;
        bool read;
        int unread;
        std::map<std::string, std::string> stored;
        size_t messages; // message boxes shown
    } cases[] = {
        {"mark read: unread rows become read",
         {0, 2},
         true,
         0,
         {{"m1", "Yes"}, {"m2", "Yes"}, {"m3", "Yes"}, {"m4", "Yes"}, {"m5", "Yes"}},
         0},
        {"mark read: read rows are left alone",
         {1},
         true,
         2,
         {{"m1", "No"}, {"m2", "Yes"}, {"m3", "No"}, {"m4", "Yes"}, {"m5", "Yes"}},
         0},
        {"mark read with nothing selected does nothing",
         {},
         true,
         2,
         {{"m1", "No"}, {"m2", "Yes"}, {"m3", "No"}, {"m4", "Yes"}, {"m5", "Yes"}},
         0},
        {"mark unread",
         {1, 3, 0},
         false,
         4,
         {{"m1", "No"}, {"m2", "No"}, {"m3", "No"}, {"m4", "No"}, {"m5", "Yes"}},
         0},
        {"mark unread with nothing selected says so",
         {},
         false,
         2,
         {{"m1", "No"}, {"m2", "Yes"}, {"m3", "No"}, {"m4", "Yes"}, {"m5", "Yes"}},
         1},
    };
    for (const auto& c : cases) {
        UiSandbox sandbox;
        WriteMailBox("Alpha", FiveMessages());
        CMailHeadList list;
        list.Load("Alpha");
        Select(list, c.rows);
        if (c.read)
            list.MarkSelectedRead();
        else
            list.MarkSelectedUnread();
        EXPECT_EQ(list.Model()->UnreadCount(), c.unread) << c.name;
        EXPECT_EQ(StoredReadFlags("Alpha"), c.stored) << c.name;
        ASSERT_EQ(sandbox.dialogue->calls.size(), c.messages) << c.name;
        if (c.messages) {
            EXPECT_EQ(sandbox.dialogue->calls[0].caption, "Mark as Unread") << c.name;
            EXPECT_EQ(sandbox.dialogue->calls[0].icon, kDialogueIconExclamation) << c.name;
        }
        for (int r = 0; r < list.Model()->Rows(); ++r) {
            const bool unread = list.Model()->RowAt(r).unread;
            EXPECT_EQ(list.Model()->data(list.Model()->index(r, 2), Qt::FontRole).isValid(), unread)
                << c.name << " row " << r << ": bold exactly when unread";
        }
        EXPECT_EQ(list.Model()->WriteFailures(), 0) << c.name;
    }
}

TEST(MailHeadList, RemoveDeletesRowsAndRecordsAndMovesTheSelection)
{
    const struct {
        const char* name;
        std::vector<int> rows;
        std::vector<std::string> left;
        int unread;
        std::vector<int> selectedAfter;
        size_t messages;
    } cases[] = {
        {"one row in the middle", {2}, {"m1", "m2", "m4", "m5"}, 1, {2}, 0},
        {"two rows apart: the row in the last one's place", {0, 3}, {"m2", "m3", "m5"}, 1, {2}, 0},
        {"the last row: the row before it", {4}, {"m1", "m2", "m3", "m4"}, 2, {3}, 0},
        {"all rows: no selection left", {0, 1, 2, 3, 4}, {}, 0, {}, 0},
        {"nothing selected says so", {}, {"m1", "m2", "m3", "m4", "m5"}, 2, {}, 1},
    };
    for (const auto& c : cases) {
        UiSandbox sandbox;
        WriteMailBox("Alpha", FiveMessages());
        CMailHeadList list;
        list.Load("Alpha");
        Select(list, c.rows);
        list.RemoveSelected();
        EXPECT_EQ(IdsInRowOrder(*list.Model()), c.left) << c.name;
        EXPECT_EQ(list.Model()->UnreadCount(), c.unread) << c.name;
        if (!c.messages)
            EXPECT_EQ(list.SelectedRows(), c.selectedAfter) << c.name;
        std::vector<std::string> stored;
        for (const auto& [id, read] : StoredReadFlags("Alpha"))
            stored.push_back(id);
        EXPECT_EQ(stored, c.left) << c.name << ": Message.box follows";
        ASSERT_EQ(sandbox.dialogue->calls.size(), c.messages) << c.name;
        if (c.messages)
            EXPECT_EQ(sandbox.dialogue->calls[0].caption, "Remove Messages") << c.name;
    }
}

TEST(MailHeadList, RemovingAScatteredSelectionKeepsEveryOtherRow)
{
    // Every third of 120 rows: 40 separate runs, more than are removed run by run.
    UiSandbox sandbox;
    std::vector<StoredMessage> messages;
    for (int i = 0; i < 120; ++i) {
        char id[8];
        std::snprintf(id, sizeof id, "m%03d", i);
        messages.push_back(Message(id, i % 2 ? "Yes" : "No", "sender", "subject"));
    }
    WriteMailBox("Alpha", messages);
    CMailHeadList list;
    list.Load("Alpha");
    std::vector<int> rows;
    std::vector<std::string> left;
    int unread = 0;
    for (int i = 0; i < 120; ++i) {
        if (i % 3 == 0) {
            rows.push_back(i);
            continue;
        }
        left.push_back(messages[static_cast<size_t>(i)].messageId);
        unread += i % 2 ? 0 : 1;
    }
    ASSERT_GT(rows.size(), CMailHeadModel::kMostRunsRemovedOneByOne);
    Select(list, rows);
    list.RemoveSelected();
    EXPECT_EQ(IdsInRowOrder(*list.Model()), left);
    EXPECT_EQ(list.Model()->UnreadCount(), unread);
    std::vector<std::string> stored;
    for (const auto& [id, read] : StoredReadFlags("Alpha"))
        stored.push_back(id);
    EXPECT_EQ(stored, left);
    EXPECT_EQ(list.SelectedRows().size(), 1u);
    EXPECT_EQ(list.Model()->WriteFailures(), 0);
}

TEST(MailHeadList, WritesFollowTheFolderOfARenamedAccount)
{
    struct Case {
        const char* name;
        bool busy; // a check runs: the rename waits for the worker
    } cases[] = {{"renamed at once", false}, {"rename waits for the check", true}};
    for (const Case& c : cases) {
        UiSandbox sandbox;
        CAccountManager table;
        ASSERT_TRUE(
            CreateNewAccount({"Alpha", "POP3", "h", "u", "pw", std::nullopt, ""}, &table).Ok());
        WriteMailBox("Alpha", FiveMessages());
        CMailHeadList list(&table);
        list.Load("Alpha");
        table.WithTable([&](std::vector<AccountEntry>& rows) {
            rows[0].checkState = c.busy ? CheckState::Busy : CheckState::Idle;
            return 0;
        });
        const int renamed = table.Rename("Alpha", "Beta");
        EXPECT_EQ(renamed, c.busy ? CAccountManager::kRenameDeferred : CAccountManager::kRenamedNow)
            << c.name;
        list.AccountRenamed("Alpha", "Beta");
        Select(list, {0});
        list.MarkSelectedUnread();
        if (c.busy) {
            // The check ends and the worker carries the rename out under the shown rows.
            table.WithTable([](std::vector<AccountEntry>& rows) {
                rows[0].checkState = CheckState::Idle;
                return 0;
            });
            EXPECT_EQ(table.ApplyPendingRename("Alpha"), "Beta") << c.name;
        }
        Select(list, {1});
        list.MarkSelectedUnread();
        const auto flags = StoredReadFlags("Beta");
        EXPECT_EQ(flags.at("m1"), "No") << c.name;
        EXPECT_EQ(flags.at("m2"), "No") << c.name;
        EXPECT_EQ(list.Model()->WriteFailures(), 0) << c.name;
    }
}

TEST(MailHeadList, SelectAllSelectsEveryRow)
{
    UiSandbox sandbox;
    WriteMailBox("Alpha", FiveMessages());
    CMailHeadList list;
    list.SelectAllRows(); // empty list: nothing happens
    EXPECT_TRUE(list.SelectedRows().empty());
    list.Load("Alpha");
    list.SelectAllRows();
    EXPECT_EQ(list.SelectedRows().size(), 5u);
}

TEST(MailHeadList, DoubleClickAsksToReadMailAndMarksTheRowRead)
{
    UiSandbox sandbox;
    WriteMailBox("Alpha", FiveMessages());
    CMailHeadList list;
    list.Load("Alpha");
    QSignalSpy read(&list, &CMailHeadList::readMailRequested);
    emit list.doubleClicked(list.Model()->index(2, 3));
    EXPECT_EQ(read.count(), 1);
    EXPECT_FALSE(list.Model()->RowAt(2).unread);
    EXPECT_EQ(list.Model()->UnreadCount(), 1);
    EXPECT_EQ(StoredReadFlags("Alpha")["m3"], "Yes");
}

TEST(MailHeadList, NewMessagesAppearOnlyForTheShownAccount)
{
    UiSandbox sandbox;
    WriteMailBox("Alpha", FiveMessages());
    WriteMailBox("Gamma", {});
    CAccountManager accounts;
    // Gamma is being renamed to Delta while its check runs: its folder keeps the old name.
    ASSERT_EQ(accounts.EnterOrRequest("Gamma", 1, nullptr, nullptr, 1),
              CAccountManager::kEnterAdded);
    accounts.WithTable([](std::vector<AccountEntry>& rows) {
        rows[0].checkState = CheckState::Busy;
        return 0;
    });
    ASSERT_EQ(accounts.Rename("Gamma", "Delta"), CAccountManager::kRenameDeferred);

    const struct {
        const char* name;
        std::string shown;   // account shown in the list ("" = none)
        std::string arrives; // account the merge names
        bool added;
    } cases[] = {
        {"the shown account", "Alpha", "Alpha", true},
        {"another account", "Alpha", "Beta", false},
        {"case differs: another account", "Alpha", "alpha", false},
        {"nothing shown", "", "Alpha", false},
        {"a check that began before the rename", "Delta", "Gamma", true},
    };
    for (const auto& c : cases) {
        CMailHeadList list(&accounts);
        if (!c.shown.empty())
            list.Load(c.shown);
        const int before = list.Model()->Rows();
        const int unreadBefore = list.Model()->UnreadCount();
        QSignalSpy counts(&list, &CMailHeadList::countsChanged);
        list.AddNewMessage(c.arrives, Message("n9", "No", "zed", "new"));
        EXPECT_EQ(list.Model()->Rows(), before + (c.added ? 1 : 0)) << c.name;
        EXPECT_EQ(list.Model()->UnreadCount(), unreadBefore + (c.added ? 1 : 0)) << c.name;
        EXPECT_EQ(counts.count(), c.added ? 1 : 0) << c.name;
    }
}

TEST(MailHeadList, WaitingRenameStillLoadsFromTheOldFolder)
{
    UiSandbox sandbox;
    WriteMailBox("Gamma", FiveMessages());
    CAccountManager accounts;
    ASSERT_EQ(accounts.EnterOrRequest("Gamma", 1, nullptr, nullptr, 1),
              CAccountManager::kEnterAdded);
    accounts.WithTable([](std::vector<AccountEntry>& rows) {
        rows[0].checkState = CheckState::Busy;
        return 0;
    });
    ASSERT_EQ(accounts.Rename("Gamma", "Delta"), CAccountManager::kRenameDeferred);
    CMailHeadList list(&accounts);
    list.Load("Delta");
    EXPECT_EQ(list.Model()->Rows(), 5);
}

TEST(MailHeadList, NewMessageKeepsTheSortOrder)
{
    UiSandbox sandbox;
    WriteMailBox("Alpha", FiveMessages());
    const struct {
        const char* name;
        int column;
        Qt::SortOrder order;
        std::vector<std::string> ids;
    } cases[] = {
        {"unsorted: appended", -1, Qt::AscendingOrder, {"m1", "m2", "m3", "m4", "m5", "n9"}},
        {"by sender ascending", 2, Qt::AscendingOrder, {"m3", "m2", "m1", "n9", "m4", "m5"}},
        {"by sender descending", 2, Qt::DescendingOrder, {"m5", "m4", "n9", "m1", "m2", "m3"}},
        {"by read state: after the unread ones",
         0,
         Qt::AscendingOrder,
         {"m1", "m3", "n9", "m2", "m4", "m5"}},
    };
    for (const auto& c : cases) {
        CMailHeadList list;
        list.Load("Alpha");
        if (c.column >= 0)
            list.sortByColumn(c.column, c.order);
        list.AddNewMessage("Alpha", Message("n9", "No", "dan", "new"));
        EXPECT_EQ(IdsInRowOrder(*list.Model()), c.ids) << c.name;
    }
}

TEST(MailHeadList, ColumnLayoutRoundTripsThroughTheProfile)
{
    UiSandbox sandbox;
    const std::string layout = ",6,4,24,24,150,200,120,60,3,2,5,0";
    CMailHeadList list;
    ASSERT_TRUE(list.ApplyLayout(layout));
    EXPECT_TRUE(list.header()->isSectionHidden(1));
    EXPECT_TRUE(list.header()->isSectionHidden(4));
    EXPECT_EQ(list.header()->logicalIndex(0), 3);
    EXPECT_EQ(list.header()->sectionSize(3), 200);
    EXPECT_EQ(list.CurrentLayout().substr(0, 5), ",6,4,");
    {
        CRegistryKey key;
        ASSERT_TRUE(key.CreateKey(RegistryRoot::CurrentUser, ProgramKey::Path("Settings")));
        ASSERT_TRUE(key.Open(RegistryRoot::CurrentUser, ProgramKey::Path("Settings")));
        ASSERT_TRUE(key.WriteString("MailHeaderList", list.CurrentLayout()));
    }

    CMailHeadList other;
    ASSERT_TRUE(other.ReadLayoutFromProfile());
    EXPECT_EQ(other.CurrentLayout(), list.CurrentLayout());
    EXPECT_EQ(other.header()->logicalIndex(1), 2);

    CMailHeadList untouched;
    const std::string before = untouched.CurrentLayout();
    EXPECT_FALSE(untouched.ApplyLayout(",5,5,1,1,1,1,1,0,1,2,3,4"))
        << "a layout for another column count is ignored";
    EXPECT_EQ(untouched.CurrentLayout(), before);
}

TEST(MailHeadList, ResizeSpreadsTheWidthOverTheTextColumns)
{
    UiSandbox sandbox;
    CMailHeadList list;
    list.resize(800, 400);
    list.show();
    QApplication::processEvents();
    const int client = list.viewport()->width();
    int sum = 0;
    for (int c = 0; c < 6; ++c)
        sum += list.header()->sectionSize(c);
    EXPECT_EQ(sum, client - 21) << "the last column takes the rest less 21 pixels";
    const int subject = list.header()->sectionSize(3);
    list.resize(900, 400);
    QApplication::processEvents();
    const int d = list.viewport()->width() - client;
    EXPECT_EQ(list.header()->sectionSize(3), subject + static_cast<int>(d * 0.28));
}

} // namespace
