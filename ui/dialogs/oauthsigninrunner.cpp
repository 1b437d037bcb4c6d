#include "oauthsigninrunner.h"

#include "dialogtext.h"

#include <QDesktopServices>
#include <QUrl>

COAuthSignInRunner::COAuthSignInRunner(QObject* parent) : QObject(parent)
{
    opener_ = [](const std::string& url) {
        QDesktopServices::openUrl(QUrl(QString::fromStdString(url), QUrl::StrictMode));
    };
}

COAuthSignInRunner::~COAuthSignInRunner()
{
    cancel_ = true;
    if (thread_.joinable())
        thread_.join();
}

bool COAuthSignInRunner::Start(const std::string& provider, const std::string& loginHint,
                               std::string& error)
{
    if (running_)
        return false;
    // Checked here too, so a profile the sign-in cannot use never opens a browser.
    OAuthProvider profile;
    if (OAuthProviders::Read(provider, profile, error) != 1)
        return false;
    if (thread_.joinable())
        thread_.join();
    Forget();
    cancel_ = false;
    running_ = true;
    thread_ = std::thread([this, provider, loginHint] {
        OAuthSignIn::Tokens tokens;
        const OAuthSignIn::Outcome outcome = OAuthSignIn::Obtain(
            provider, loginHint,
            [this](const std::string& url) {
                // The browser is the desktop's business, so it is opened from the
                // user-interface thread; the queued call is dropped with the object.
                QMetaObject::invokeMethod(
                    this, [this, url] { opener_(url); }, Qt::QueuedConnection);
            },
            kTimeout, &cancel_, tokens);
        // The destructor joins this thread, so `this` is alive while the call is posted.
        QMetaObject::invokeMethod(
            this,
            [this, ok = outcome.ok, message = outcome.message, tokens] {
                Done(ok, message, tokens);
            },
            Qt::QueuedConnection);
    });
    return true;
}

void COAuthSignInRunner::Forget()
{
    signedIn_ = false;
    tokens_ = {};
}

void COAuthSignInRunner::Done(bool ok, const std::string& message,
                              const OAuthSignIn::Tokens& tokens)
{
    if (thread_.joinable())
        thread_.join();
    running_ = false;
    signedIn_ = ok;
    tokens_ = ok ? tokens : OAuthSignIn::Tokens{};
    Finished(ok, ok ? DlgText::Fill(DlgText::Text(DlgText::kOAuthSignedIn),
                                    QString::fromStdString(tokens.provider))
                    : DlgText::Fill(DlgText::Text(DlgText::kOAuthFailed),
                                    QString::fromStdString(message)));
}
