#pragma once

#include "oauthsignin.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <string>
#include <thread>

// One OAuth 2.0 sign-in for the new account wizard, on a thread of its own so the dialog
// stays responsive: the browser opener gets the authorization address (on the
// user-interface thread), the thread waits for the loopback redirect and exchanges the code
// (OAuthSignIn::Obtain). The tokens stay here until the wizard's Finish stores them into the
// new account; they are never shown.
//
// Start() refuses (false, with the profile's problem in `error`) a provider the sign-in
// cannot use, e.g. one without a client id, and while a sign-in runs. Cancel() ends the wait
// for the browser. Finished(ok, text) is emitted on the object's thread; `text` is for the
// user and holds no secret. The destructor cancels and waits for a running sign-in.
class COAuthSignInRunner : public QObject
{
    Q_OBJECT

public:
    using BrowserOpener = std::function<void(const std::string& url)>;

    explicit COAuthSignInRunner(QObject* parent = nullptr);
    ~COAuthSignInRunner() override;

    // Default: the desktop's browser (QDesktopServices).
    void SetBrowserOpener(BrowserOpener opener) { opener_ = std::move(opener); }

    bool Start(const std::string& provider, const std::string& loginHint, std::string& error);
    void Cancel() { cancel_ = true; }
    bool Running() const { return running_; }

    // The last finished sign-in's tokens; Forget() drops them (another provider chosen).
    // Read on the user-interface thread after Finished.
    bool SignedIn() const { return signedIn_; }
    const OAuthSignIn::Tokens& Tokens() const { return tokens_; }
    void Forget();

    // How long the browser may take.
    static constexpr std::chrono::minutes kTimeout{5};

signals:
    void Finished(bool ok, const QString& text);

private:
    void Done(bool ok, const std::string& message, const OAuthSignIn::Tokens& tokens);

    BrowserOpener opener_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> cancel_{false};
    bool signedIn_ = false;
    OAuthSignIn::Tokens tokens_;
};
