#include "desktopfront.h"

#include "accountmanager.h"
#include "accountreloader.h"
#include "apppaths.h"
#include "capabilitymemory.h"
#include "checkengine.h"
#include "desktopdialogs.h"
#include "desktopdialoguebackend.h"
#include "dialupnetwork.h"
#include "enginestate.h"
#include "exchangelogoff.h"
#include "exitsignalnotifier.h"
#include "leddevice.h"
#include "libraryaccountplugins.h"
#include "mainframe.h"
#include "mapiprobelibrary.h"
#include "newmailmerge.h"
#include "notifier3d.h"
#include "notifier3dwiring.h"
#include "portalpostlibrary.h"
#include "protocolcheck.h"
#include "pushscheduler.h"
#include "qtenginesink.h"
#include "regsettings.h"
#include "routetablenetwork.h"
#include "singleinstance.h"
#include "storefailurenotice.h"
#include "unreadcountfeed.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QElapsedTimer>
#include <QProcess>
#include <QUrl>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <vector>

namespace
{

// Messages Qt gives while the application object connects to the display. A platform
// plug-in that cannot connect ends in a fatal message, which would abort (and dump core):
// we say what happened in our own line and leave with the no-display code instead.
std::vector<std::pair<QtMsgType, QString>>* g_startMessages = nullptr;

void StartHandler(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "%s\n",
                     DesktopFront::NoDisplayMessage("the display cannot be opened").c_str());
        std::fflush(stderr);
        std::_Exit(DesktopFront::kExitNoDisplay);
    }
    if (g_startMessages)
        g_startMessages->emplace_back(type, message);
}

bool EnvSet(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value;
}

void OpenHelp(const QString& page)
{
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(page)))
        return;
    QProcess::startDetached(QStringLiteral("xdg-open"), {page});
}

// A logout or Ctrl+C while a modal dialog is open: the dialog's own event loop would keep
// the program alive after the window closed, so every modal dialog is dismissed first.
void CloseModalDialogs()
{
    for (int guard = 0; guard < 16; ++guard) {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
    }
}

} // namespace

std::string DesktopFront::NoDisplayMessage(const std::string& detail)
{
    return "postwatch: " + detail +
           "; the desktop program needs one. Without a display use the command line: "
           "--add-account, --list-accounts, --list-messages, --check-now, --help";
}

bool DesktopFront::DisplayConfigured(std::string* why)
{
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform) {
        const std::string name(platform);
        const bool needsX = name.rfind("xcb", 0) == 0;
        const bool needsWayland = name.rfind("wayland", 0) == 0;
        if (!needsX && !needsWayland)
            return true; // offscreen, vnc, eglfs ... bring their own output
        if ((needsX && EnvSet("DISPLAY")) || (needsWayland && EnvSet("WAYLAND_DISPLAY")))
            return true;
    } else if (EnvSet("DISPLAY") || EnvSet("WAYLAND_DISPLAY")) {
        return true;
    }
    if (why)
        *why = NoDisplayMessage("no display to open (DISPLAY and WAYLAND_DISPLAY are not set)");
    return false;
}

int DesktopFront::Run(int argc, char** argv)
{
    std::string why;
    if (!DisplayConfigured(&why)) {
        std::cerr << why << "\n";
        return kExitNoDisplay;
    }

    std::vector<std::pair<QtMsgType, QString>> startMessages;
    g_startMessages = &startMessages;
    QtMessageHandler previous = qInstallMessageHandler(StartHandler);
    QApplication app(argc, argv);
    qInstallMessageHandler(previous);
    g_startMessages = nullptr;
    for (const auto& [type, text] : startMessages)
        if (type != QtDebugMsg && type != QtInfoMsg)
            std::fprintf(stderr, "%s\n", qPrintable(text));
    // The window hides into the tray; closing popups or dialogs must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    SetDialogueBackend(std::make_shared<DesktopDialogueBackend>());

    CSingleInstance instance;
    if (instance.Acquire() == CSingleInstance::Result::kHandedOver)
        return 0;

    // The mailbox plug-in is asked once whether it has a provider (MapiPresent); the table,
    // the wizard, the properties dialog and the settings all go by that answer.
    auto plugins = std::make_shared<LibraryAccountPlugins>();

    if (!AppPaths::MakeDirs(AppPaths::MailDir())) {
        std::cerr << "postwatch: cannot create the mail folder " << AppPaths::MailDir() << "\n";
        return 1;
    }
    CLedDevice led;
    CRegSettings settings;
    settings.Prepare(led);

    auto accounts = std::make_shared<CAccountManager>(plugins);
    auto state = std::make_shared<CEngineState>();
    CCheckEngine* enginePtr = nullptr;
    std::shared_ptr<MapiprobeLibrary> exchange; // made with the engine's sink, below
    CMainFrame::Hooks hooks;
    hooks.wake = [&enginePtr] {
        if (enginePtr)
            enginePtr->Wake();
    };
    hooks.openHelp = OpenHelp;
    hooks.logoffExchange = [&exchange] {
        if (exchange)
            LogoffWhileHandlingEvents(*exchange);
    };
    CMainFrame frame(*accounts, *state, led, std::move(hooks));
    frame.PlaceOnScreen(nullptr);
    ConnectDesktopDialogs(frame, *accounts, plugins);
    // Accounts changed by the command line (it says so) or by any other writer (the files
    // say so) show in the tree; reloads start once the tree has been filled.
    CAccountReloader reloader(*accounts, frame, plugins);
    QObject::connect(&instance, &CSingleInstance::accountsChanged, &reloader,
                     &CAccountReloader::Schedule);
    // From here on a later start, a logout or Ctrl+C reach the window, also while the
    // engine loads.
    QObject::connect(&instance, &CSingleInstance::showRequested, &frame,
                     &CMainFrame::ShowFromSecondStart);
    // A --watch started beside the desktop prints its counts instead of checking too.
    UnreadCountFeed unreadCounts;
    instance.AcceptWatchers(true);
    QObject::connect(&instance, &CSingleInstance::watcherAttached, &unreadCounts,
                     &UnreadCountFeed::Attach);
    CExitSignalNotifier exitSignals;
    QObject::connect(&exitSignals, &CExitSignalNotifier::exitRequested, &frame, [&frame](int) {
        CloseModalDialogs();
        frame.ExitSequence();
    });
    QObject::connect(&frame, &CMainFrame::closedForGood, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    CNotifier3d notifier3d(Notifier3dWiring::MainWindowHooks(frame));
    Notifier3dWiring::Connect(frame, notifier3d);

    CNewMailMerge merge(*state, &frame, &frame, &frame);
    auto sink = std::make_shared<CQtEngineSink>(merge);
    CCheckEngine::Parts parts;
    parts.accounts = accounts;
    parts.state = state;
    parts.sink = sink;
    auto capabilities = std::make_shared<CCapabilityMemory>(CCapabilityMemory::Keep::InMemory);
    parts.pop3 = std::make_shared<CProtocolCheck>(CProtocolCheck::Protocol::Pop3, capabilities);
    parts.imap4 = std::make_shared<CProtocolCheck>(CProtocolCheck::Protocol::Imap4, capabilities);
    parts.network = std::make_shared<CDialupNetwork>(sink);
    // Push connections wait while the machine has no route out; the route table can be read
    // from any thread without dialling, unlike the worker's network test.
    auto routes = std::make_shared<RouteTableNetwork>();
    CPushScheduler::Parts push;
    push.accounts = accounts;
    push.state = state;
    push.networkUp = [routes] { return routes->AliveFlags() != 0; };
    parts.push = std::make_shared<CPushScheduler>(std::move(push));
    parts.webMail = std::make_shared<PortalpostLibrary>();
    exchange = std::make_shared<MapiprobeLibrary>(sink);
    parts.exchange = exchange;
    auto engine = std::make_unique<CCheckEngine>(std::move(parts));
    enginePtr = engine.get();
    engine->Start();
    // The worker loads the account table; while it does, it may need this thread (a
    // message box about a damaged file), so events are handled while we wait.
    QElapsedTimer waited;
    waited.start();
    while (!engine->WaitLoaded(std::chrono::milliseconds(20)) && waited.elapsed() < kLoadWaitMs)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);

    const bool haveAccounts = frame.FillTree();
    reloader.Start();
    settings.LoadGeneral();
    const bool minimum = settings.general.minimum.Get();
    // An exit asked for while the engine loaded leaves the window hidden.
    if (!frame.Exiting())
        frame.StartShown(minimum, !haveAccounts);
    CStoreFailureNotice::OfferAccountListRepair(&frame);

    // The drain may already have closed the window while a dialog shown before the main
    // loop (the first start's wizard) ran its own loop; its quit is gone then.
    if (!frame.ClosedForGood())
        app.exec();

    // The worker has drained (it asked for the close). Nothing can be handled any more:
    // later calls of check threads are answered at once.
    sink->Shutdown();
    if (!engine->WaitEnded(std::chrono::milliseconds(kEndWaitMs))) {
        // A worker that does not end would hold the process forever; everything it
        // writes is written atomically, so leaving now loses nothing already stored.
        std::cerr << "postwatch: the checking engine did not end in time; leaving without it\n";
        std::fflush(nullptr);
        std::_Exit(0);
    }
    // A log-on that ended after the exit sequence had run leaves a watch: it ends here,
    // where the sink answers at once.
    exchange->LogoffIfLoggedOn();
    enginePtr = nullptr;
    engine.reset();
    return 0;
}
