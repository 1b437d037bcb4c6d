// What a user meets on a first look at the main window, under a private X server with a real
// tray host: an open account's messages under its own item while a protected one stays
// gated, the preview pane and its remembered toggle, and a popup whose long texts are elided
// inside its margins. Screenshots are kept for a human to look at.
#include "accountmanager.h"
#include "apppaths.h"
#include "commandtable.h"
#include "enginestate.h"
#include "leddevice.h"
#include "leftview.h"
#include "mailboxfile.h"
#include "mailheadlist.h"
#include "mainframe.h"
#include "popupframe.h"
#include "previewpane.h"
#include "support/component.h"
#include "ui/uitestsupport.h"

#include <QAction>
#include <QDir>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QPointer>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>

namespace
{

constexpr unsigned kPreviewPaneCommand = 32885;
constexpr unsigned kNewMailBitmap = 303;

struct Message {
    std::string subject;
    std::string preview; // as stored: UTF-8, decoded by the check
};

struct Account {
    std::string name;
    std::string accessPassword; // "" = none
    std::vector<Message> messages;
};

const std::vector<Account> kAccounts = {
    {"Open",
     "",
     {{"Lunch", "Gr\xC3\xBC\xC3\x9F"
                "e aus K\xC3\xB6ln,\r\nbis morgen."},
      {"Offer", "<b>Not bold</b> &amp; <i>not</i> rich\x07 text"},
      {"Empty", ""}}},
    {"Locked", "key", {{"Secret", "nobody reads this without the key"}}},
};

class MainWindowView : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << MissingComponent("An X server", "the tests run under with-xvfb.sh");
        const QString trayer = QStandardPaths::findExecutable(QStringLiteral("trayer"));
        if (trayer.isEmpty())
            GTEST_SKIP() << MissingComponent("the tray host (trayer)",
                                             "package trayer; scripts/bootstrap.sh installs it");
        tray_.start(trayer, {QStringLiteral("--edge"), QStringLiteral("top"),
                             QStringLiteral("--align"), QStringLiteral("right")});
        ASSERT_TRUE(tray_.waitForStarted());
        for (const Account& a : kAccounts)
            Store(a);
    }

    void TearDown() override
    {
        frame_.reset();
        CPopupFrame::CloseAll();
        if (tray_.state() != QProcess::NotRunning) {
            tray_.kill();
            tray_.waitForFinished();
        }
    }

    // The account's row in the table and its Message.box.
    void Store(const Account& a)
    {
        const std::string* access = a.accessPassword.empty() ? nullptr : &a.accessPassword;
        ASSERT_EQ(accounts_.EnterOrRequest(a.name, 1, access, nullptr, 1),
                  CAccountManager::kEnterAdded);
        ASSERT_TRUE(AppPaths::MakeDirs(AppPaths::AccountDir(a.name)));
        CMailBoxFile box;
        ASSERT_TRUE(box.Open(AppPaths::MailBoxFile(a.name))) << box.LastError();
        int n = 0;
        for (const Message& m : a.messages) {
            StoredMessage stored;
            stored.messageId = "00000000-0000-0000-0000-00000000000" + std::to_string(n++);
            stored.mailType = "POP3";
            stored.read = "No";
            stored.sender = "sender@example.org";
            stored.subject = m.subject;
            stored.date = "2024/05/06 07:08";
            stored.size = "1.00 K";
            stored.preview = m.preview;
            stored.attachment = "No";
            stored.uid = "uid" + std::to_string(n);
            ASSERT_TRUE(box.Append(stored)) << box.LastError();
        }
    }

    // A new main window over the same table and settings, shown and filled as at start.
    CMainFrame& OpenFrame()
    {
        frame_.reset();
        frame_ = std::make_unique<CMainFrame>(accounts_, state_, led_, CMainFrame::Hooks{});
        frame_->Tree()->SetAccessPrompt([this](const std::string& account) {
            prompts_.push_back(account);
            return false;
        });
        frame_->FillTree();
        frame_->PlaceOnScreen(nullptr);
        frame_->StartShown(false, false);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(frame_.get()));
        return *frame_;
    }

    static QString PaneText(const CMainFrame& frame) { return frame.Preview()->toPlainText(); }

    // The picture the X server shows of the screen, kept for review.
    static void Screenshot(const char* name)
    {
        QTest::qWait(100); // the last change is painted first
        QDir().mkpath(QStringLiteral(POSTWATCH_SCREENSHOT_DIR));
        QGuiApplication::primaryScreen()->grabWindow(0).save(
            QStringLiteral(POSTWATCH_SCREENSHOT_DIR "/main-window-%1.png")
                .arg(QString::fromUtf8(name)));
    }

    UiSandbox sandbox_;
    CAccountManager accounts_;
    CEngineState state_;
    CLedDevice led_{sandbox_.Dir().File("leds")};
    std::vector<std::string> prompts_;
    std::unique_ptr<CMainFrame> frame_;
    QProcess tray_;
};

TEST_F(MainWindowView, AnOpenAccountShowsItsMessagesAtItsItemAndAProtectedOneStaysGated)
{
    CMainFrame& frame = OpenFrame();
    const struct {
        const char* name;
        std::string account;
        bool expanded;
        int rows;
    } cases[] = {
        {"no access password: expanded, messages at the account's item", "Open", true, 3},
        {"access password: collapsed, nothing shown, nothing asked", "Locked", false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        frame.Tree()->SelectAccount(c.account);
        QTreeWidgetItem* item = frame.Tree()->AccountItem(c.account);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(frame.Tree()->currentItem(), item);
        EXPECT_EQ(item->isExpanded(), c.expanded);
        EXPECT_EQ(frame.List()->Model()->Rows(), c.rows);
        EXPECT_TRUE(prompts_.empty());
        if (c.rows > 0)
            Screenshot("open-account");
    }
    // The protected account opens only through its password.
    EXPECT_FALSE(frame.Tree()->RequestExpand(frame.Tree()->AccountItem("Locked")));
    EXPECT_EQ(prompts_, std::vector<std::string>{"Locked"});
    EXPECT_EQ(frame.List()->Model()->Rows(), 0);
}

TEST_F(MainWindowView, ThePreviewPaneShowsTheSelectedMessageAndIsRemembered)
{
    CMainFrame& frame = OpenFrame();
    QAction* toggle = frame.Commands().Action(kPreviewPaneCommand);
    ASSERT_TRUE(toggle->isCheckable());
    EXPECT_TRUE(toggle->isChecked()) << "shown on a first start";
    EXPECT_TRUE(frame.Preview()->isVisible());
    frame.Tree()->SelectAccount("Open");
    CMailHeadList* list = frame.List();
    ASSERT_EQ(list->Model()->Rows(), 3);

    const struct {
        const char* name;
        std::vector<int> rows;
        QString shown;
    } cases[] = {
        {"decoded text, line ends kept", {0}, QStringLiteral(u"Grüße aus Köln,\nbis morgen.")},
        {"markup stays text, a control character is replaced",
         {1},
         QStringLiteral(u"<b>Not bold</b> &amp; <i>not</i> rich\uFFFD text")},
        {"several messages: empty", {0, 1}, QString()},
        {"a message without a preview", {2}, QString()},
        {"nothing selected: empty", {}, QString()},
        {"back to one message",
         {1},
         QStringLiteral(u"<b>Not bold</b> &amp; <i>not</i> rich\uFFFD text")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        list->clearSelection();
        for (int row : c.rows)
            list->selectionModel()->select(list->Model()->index(row, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
        EXPECT_TRUE(QTest::qWaitFor([&] { return PaneText(frame) == c.shown; }, 2000))
            << PaneText(frame).toStdString();
    }
    EXPECT_TRUE(frame.Preview()->isReadOnly());
    Screenshot("preview-pane");

    // The toggle hides the pane, and the next window starts as it was left.
    for (bool shown : {false, true}) {
        SCOPED_TRACE(shown ? "shown again" : "hidden");
        frame_->Commands().Action(kPreviewPaneCommand)->trigger();
        EXPECT_EQ(frame_->Preview()->isVisible(), shown);
        CMainFrame& next = OpenFrame();
        EXPECT_EQ(next.Commands().Action(kPreviewPaneCommand)->isChecked(), shown);
        EXPECT_EQ(next.Preview()->isVisible(), shown);
    }
}

TEST_F(MainWindowView, APopupElidesLongTextsInsideItsMargins)
{
    const QString longTitle =
        QStringLiteral("A very long account name that never fits beside the bitmap");
    QString longBody;
    for (int i = 0; i < 40; ++i)
        longBody += QStringLiteral("word%1 ").arg(i);
    longBody += QStringLiteral("\nAnUnbrokenWordThatIsFarWiderThanTheWholePopupCanEverShow");
    const struct {
        const char* name;
        QString title;
        QString body;
        bool titleElided;
        bool bodyElided;
    } cases[] = {
        {"short texts show whole", QStringLiteral("Work"), QStringLiteral("You have 1 new message"),
         false, false},
        {"long texts end in an ellipsis", longTitle, longBody, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QPointer<CPopupFrame> popup = new CPopupFrame;
        popup->SetSize(CPopupFrame::kDefaultWidth, CPopupFrame::kDefaultHeight);
        ASSERT_TRUE(popup->Create(nullptr, c.body, c.title, kNewMailBitmap, 5));
        // Slides in at once; a popup that never got its turn ends the loop as well.
        for (int tick = 0; tick < 1000 && popup &&
                           (popup->ActiveTimer() == CPopupFrame::kWaitTimer ||
                            popup->ActiveTimer() == CPopupFrame::kSlideInTimer);
             ++tick)
            popup->Tick();
        ASSERT_TRUE(popup);

        // What is laid out fits its boxes, and says when it was shortened.
        const PopupTextLayout& layout = popup->Layout();
        QFont titleFont = QGuiApplication::font();
        titleFont.setBold(true);
        const QFontMetrics titleMetrics(titleFont);
        const QFontMetrics bodyMetrics(QGuiApplication::font());
        EXPECT_EQ(layout.titleElided, c.titleElided);
        EXPECT_EQ(layout.title.endsWith(PopupTextLayout::kEllipsis), c.titleElided);
        if (!c.titleElided)
            EXPECT_EQ(layout.title, c.title);
        EXPECT_LE(titleMetrics.horizontalAdvance(layout.title), popup->TitleBox().width());
        EXPECT_LE(titleMetrics.height(), popup->TitleBox().height());
        EXPECT_EQ(layout.bodyElided, c.bodyElided);
        ASSERT_FALSE(layout.bodyLines.isEmpty());
        EXPECT_EQ(layout.bodyLines.back().endsWith(PopupTextLayout::kEllipsis), c.bodyElided);
        for (const QString& line : layout.bodyLines)
            EXPECT_LE(bodyMetrics.horizontalAdvance(line), popup->BodyBox().width())
                << line.toStdString();
        EXPECT_LE((layout.bodyLines.size() - 1) * bodyMetrics.lineSpacing() + bodyMetrics.height(),
                  popup->BodyBox().height());

        // What is drawn: text in the body's colour, and the margins are the bare gradient
        // (each column's colour is the one just above the frame's bottom line).
        const QImage image = popup->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const int w = image.width();
        const int h = image.height();
        int ink = 0;
        int stray = 0;
        for (int y = 1; y < h - 1; ++y) {
            for (int x = 1; x < w - 1; ++x) {
                const QRgb pixel = image.pixel(x, y);
                if (qGray(pixel) < 0x60)
                    ++ink;
                const bool margin = x < CPopupFrame::kMargin || x >= w - CPopupFrame::kMargin ||
                                    y >= h - CPopupFrame::kMargin;
                if (margin && pixel != image.pixel(x, h - 2))
                    ++stray;
            }
        }
        EXPECT_GT(ink, 50) << "the texts are drawn dark";
        EXPECT_EQ(stray, 0) << "nothing is drawn into the margins";
        image.save(QStringLiteral(POSTWATCH_SCREENSHOT_DIR "/popup-%1.png")
                       .arg(c.titleElided ? QStringLiteral("long") : QStringLiteral("short")));
        CPopupFrame::CloseAll();
        QTest::qWait(10);
    }
}

} // namespace
