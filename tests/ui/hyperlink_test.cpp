#include "aboutbox.h"
#include "hyperlink.h"
#include "resourcelibrary.h"
#include "uitestsupport.h"

#include <QEnterEvent>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace
{

TEST(HyperLink, ErrorTextsByCode)
{
    const struct {
        int code;
        const char* text;
    } cases[] = {
        {0, "The operating system is out\nof memory or resources."},
        {2, "The specified file was not found."},
        {3, "The specified path was not found."},
        {5, "The operating system denied\naccess to the specified file."},
        {8, "There was not enough memory to complete the operation."},
        {11, "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image)."},
        {26, "A sharing violation occurred. "},
        {27, "The filename association is\nincomplete or invalid."},
        {28, "The DDE transaction could not\nbe completed because the request timed out."},
        {29, "The DDE transaction failed."},
        {30, "The DDE transaction could not\nbe completed because other DDE transactions\nwere "
             "being processed."},
        {31, "There is no application associated\nwith the given filename extension."},
        {32, "The specified dynamic-link library was not found."},
        {1, "Unknown Error (1) occurred."},
        {-7, "Unknown Error (-7) occurred."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CHyperLink::ErrorText(c.code), c.text) << c.code;
    EXPECT_EQ(CHyperLink::FailureMessage(2),
              "Unable to open hyperlink:\n\nThe specified file was not found.");
}

TEST(HyperLink, OpensItsTargetAndReportsFailures)
{
    const struct {
        const char* name;
        QString text;
        QString target;
        int result;
        QString opened;
        bool visited;
        size_t messages;
    } cases[] = {
        {"configured target", "our site", "https://example.invalid/", 33,
         "https://example.invalid/", true, 0},
        {"no target: its own text", "https://text.invalid/", "", 42, "https://text.invalid/", true,
         0},
        {"failure: message, not visited", "x", "mailto:a@b.invalid", 2, "mailto:a@b.invalid", false,
         1},
        {"32 is still a failure", "x", "y", 32, "y", false, 1},
    };
    for (const auto& c : cases) {
        UiSandbox sandbox;
        CHyperLink link(c.text);
        if (!c.target.isEmpty())
            link.SetTarget(c.target);
        QString opened;
        link.SetOpener([&](const QString& t) {
            opened = t;
            return c.result;
        });
        const QColor before = link.CurrentColour();
        EXPECT_EQ(link.Open(), c.visited) << c.name;
        EXPECT_EQ(opened, c.opened) << c.name;
        EXPECT_EQ(link.Visited(), c.visited) << c.name;
        EXPECT_EQ(link.CurrentColour() == QColor(150, 0, 150), c.visited) << c.name;
        if (!c.visited)
            EXPECT_EQ(link.CurrentColour(), before) << c.name;
        ASSERT_EQ(sandbox.dialogue->calls.size(), c.messages) << c.name;
        if (c.messages) {
            EXPECT_EQ(sandbox.dialogue->calls[0].text, CHyperLink::FailureMessage(c.result))
                << c.name;
            EXPECT_EQ(sandbox.dialogue->calls[0].icon, kDialogueIconExclamation) << c.name;
        }
    }
}

TEST(HyperLink, ColoursAndUnderlineFollowTheMouse)
{
    const struct {
        const char* name;
        int underlineMode;
        bool underlinedOut;
        bool underlinedOver;
    } cases[] = {{"underline while hovering", -1, false, true},
                 {"never underlined", 0, false, false},
                 {"always underlined", 1, true, true}};
    for (const auto& c : cases) {
        CHyperLink link("https://example.invalid/");
        link.SetColours(QColor(1, 2, 3), QColor(150, 0, 150), QColor(0, 0, 255));
        link.SetUnderlineMode(c.underlineMode);
        EXPECT_EQ(link.CurrentColour(), QColor(1, 2, 3)) << c.name;
        EXPECT_EQ(link.font().underline(), c.underlinedOut) << c.name;
        QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
        QCoreApplication::sendEvent(&link, &enter);
        EXPECT_TRUE(link.Hovering()) << c.name;
        EXPECT_EQ(link.CurrentColour(), QColor(0, 0, 255)) << c.name;
        EXPECT_EQ(link.font().underline(), c.underlinedOver) << c.name;
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(&link, &leave);
        EXPECT_EQ(link.CurrentColour(), QColor(1, 2, 3)) << c.name;
        EXPECT_EQ(link.font().underline(), c.underlinedOut) << c.name;
        EXPECT_EQ(link.toolTip(), "https://example.invalid/") << c.name;
    }
}

TEST(HyperLink, AboutBoxLinksToTheSiteAndSupport)
{
    CAboutBox about;
    EXPECT_EQ(about.windowTitle(), "About Pigeonpost");
    EXPECT_EQ(about.WebLink()->Target().toStdString(), LoadResourceString(40002));
    EXPECT_EQ(about.SupportLink()->Target().toStdString(), LoadResourceString(40003));
    EXPECT_FALSE(about.SupportLink()->text().startsWith("mailto:"));
}

} // namespace
