#pragma once

// Numbers in the resource bundle that the program asks for by name in more than one place,
// and the numbers we gave to texts and images that have no fixed number of their own.
// Texts and images with a single, documented user keep their plain numbers at that user.
namespace ResId
{

// Texts.
constexpr unsigned kCompanyWord = 32899;     // "Koravel": settings path, window title
constexpr unsigned kApplicationWord = 32900; // "Pigeonpost"
constexpr unsigned kFilterSender = 61372;    // stored in filter rules: never reword
constexpr unsigned kFilterSubject = 61373;
constexpr unsigned kFilterContains = 61374;
constexpr unsigned kFilterIs = 61375;

// Texts of our own: 40000-40999.
constexpr unsigned kFirstOwnText = 40000;
constexpr unsigned kLastOwnText = 40999;
constexpr unsigned kAboutCaption = 40000;   // "About %s" (application word)
constexpr unsigned kAboutText = 40001;      // "%s %s\n..." (application word, version)
constexpr unsigned kWebAddress = 40002;     // About box link: the maker's web site
constexpr unsigned kSupportAddress = 40003; // About box link: mailto: support
constexpr unsigned kCertificateCaption = 40010;
constexpr unsigned kCertificateText = 40011; // "%s" server, "%s" reason
constexpr unsigned kNoticeOpen = 40700;      // desktop notice actions
constexpr unsigned kNoticeMarkRead = 40701;
constexpr unsigned kAwayTitle = 40702;         // the summary when quiet hours end
constexpr unsigned kAwayOneMessage = 40703;    // "%d" messages, "%d" accounts
constexpr unsigned kAwayOneAccount = 40704;    // "%d" messages, "%d" accounts
constexpr unsigned kAwayMessages = 40705;      // "%d" messages, "%d" accounts
constexpr unsigned kUseDesktopNotices = 40706; // the Notify page's labels
constexpr unsigned kQuietFrom = 40707;
constexpr unsigned kQuietUntil = 40708;
constexpr unsigned kFollowDoNotDisturb = 40709;

// Menu and toolbar templates.
constexpr unsigned kMainMenu = 128;
constexpr unsigned kNotifierOptionsMenu = 130;
constexpr unsigned kTrayMenu = 132;
constexpr unsigned kHeaderListMenu = 141;
constexpr unsigned kAccountTreeMenu = 142;
constexpr unsigned kMainToolbar = 128;

// Images.
constexpr unsigned kAppIcon = 128; // 64x64 window and desktop icon
constexpr unsigned kTrayImages[8] = {458, 456, 438, 439, 440, 441, 442, 443};
constexpr unsigned kTreeAccount = 319;
constexpr unsigned kTreeAccountLocked = 327;
constexpr unsigned kTreeFolder = 134;
constexpr unsigned kHeaderListStrip = 312; // 16-pixel squares: 3 unread, 4 read, 6 attachment
constexpr unsigned kNoDropCursor = 315;    // 32x32, hot spot in the middle
constexpr unsigned kPopupNewMail = 460;    // 32x32
constexpr unsigned kPopupStatus = 303;     // 32x32
constexpr unsigned kToolbarNormal = 413;   // 32-pixel squares in toolbar button order
constexpr unsigned kToolbarHot = 412;
constexpr unsigned kToolbarDisabled = 414;

// Images of our own: 900-999 (menu images for commands that had none).
constexpr unsigned kFirstOwnImage = 900;
constexpr unsigned kLastOwnImage = 999;

} // namespace ResId
