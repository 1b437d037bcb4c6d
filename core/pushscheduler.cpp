#include "pushscheduler.h"

#include "accountfile.h"
#include "accountmanager.h"
#include "accountrecord.h"
#include "accountsecret.h"
#include "apppaths.h"
#include "enginestate.h"
#include "regsettings.h"

#include <algorithm>
#include <set>

CPushScheduler::CPushScheduler(Parts parts) : parts_(std::move(parts))
{
}

CPushScheduler::~CPushScheduler()
{
    StopAll();
}

void CPushScheduler::Bind(std::function<void()> wakeWorker)
{
    std::lock_guard<std::mutex> guard(lock_);
    parts_.wakeWorker = std::move(wakeWorker);
}

std::shared_ptr<CPushSession> CPushScheduler::SessionOf(const std::string& account) const
{
    std::lock_guard<std::mutex> guard(lock_);
    auto it = sessions_.find(account);
    return it == sessions_.end() ? nullptr : it->second.session;
}

void CPushScheduler::Retire(std::shared_ptr<CPushSession> session)
{
    // Asked to end now; joined once it has, without the worker waiting for a connect.
    session->RequestStop();
    retired_.push_back(std::move(session));
}

bool CPushScheduler::RequestCheck(const std::string& account)
{
    const bool placed = parts_.accounts->WithTable([&](std::vector<AccountEntry>& rows) {
        auto row = std::find_if(rows.begin(), rows.end(),
                                [&](const AccountEntry& r) { return r.name == account; });
        if (row == rows.end() || row->IsRequested())
            return true; // gone, or a check is already wanted
        if (!row->IsIdle())
            return false; // a check runs: ask again once it has ended
        row->checkState = CheckState::Requested;
        return true;
    });
    if (placed && parts_.wakeWorker)
        parts_.wakeWorker();
    return placed;
}

void CPushScheduler::Follow(const std::vector<std::string>& accounts, bool reread)
{
    std::lock_guard<std::mutex> guard(lock_);
    retired_.erase(std::remove_if(retired_.begin(), retired_.end(),
                                  [](const std::shared_ptr<CPushSession>& s) {
                                      if (!s->Ended())
                                          return false;
                                      s->Stop(); // joins a thread that has already ended
                                      return true;
                                  }),
                   retired_.end());
    const std::set<std::string> names(accounts.begin(), accounts.end());
    for (auto it = sessions_.begin(); it != sessions_.end();) {
        if (names.count(it->first) == 0) {
            if (it->second.session)
                Retire(std::move(it->second.session));
            if (parts_.state)
                parts_.state->SetPushState(it->first, "");
            it = sessions_.erase(it);
        } else {
            ++it;
        }
    }
    for (const std::string& name : names) {
        auto known = sessions_.find(name);
        if (!reread && known != sessions_.end())
            continue;
        AccountRecord record;
        record.name = name;
        // A password in the keyring is asked for without a prompt (this is the worker's
        // thread); while it is not given the account has no push, and its checks say why.
        const bool wanted =
            CAccountFile::ReadAccountFile(AppPaths::AccountFile(name), record) == 1 &&
            record.mailType == kMailTypeImap4 && record.push == "Yes" &&
            // An OAuth 2.0 account's password slot holds its refresh token, which must never
            // reach a mail server; its push connection would need access tokens of its own.
            !UsesOAuthSignIn(record) &&
            AccountSecret::Resolve(record, SystemKeyring::Prompt::Never, SystemKeyring::kQuickLimit)
                .Ok();
        const std::string settings = record.server + '\n' + record.port + '\n' + record.security +
                                     '\n' + record.userName + '\n' + record.password + '\n' +
                                     record.pin;
        if (known != sessions_.end() && known->second.session &&
            (!wanted || known->second.settings != settings)) {
            Retire(std::move(known->second.session));
            sessions_.erase(known);
            if (parts_.state)
                parts_.state->SetPushState(name, "");
        } else if (known != sessions_.end() && (known->second.session || !wanted)) {
            continue;
        }
        if (!wanted) {
            // Remembered as "no push" until the next reread, so the file is read once a minute.
            sessions_[name] = Entry{nullptr, settings};
            continue;
        }
        CheckRequest request;
        request.server = record.server;
        request.port = LeadingDecimal(record.port);
        request.security = record.security;
        request.userName = record.userName;
        request.password = record.password;
        request.pin = record.pin;
        request.account = name;
        std::optional<int> timeOut;
        if (parts_.readTimeOut) {
            timeOut = parts_.readTimeOut();
        } else {
            CRegSettings settingsStore;
            if (settingsStore.LoadNetwork() == 1)
                timeOut = settingsStore.network.TimeOutSeconds();
        }
        request.timeOutSeconds = timeOut.value_or(60);
        CPushSession::Hooks hooks;
        hooks.wake = [this, name] { return RequestCheck(name); };
        hooks.networkUp = parts_.networkUp;
        std::shared_ptr<CEngineState> state = parts_.state;
        hooks.changed = [state, name](CPushSession::State s) {
            if (state)
                state->SetPushState(name, s == CPushSession::State::Stopped
                                              ? std::string()
                                              : std::string(CPushSession::StateName(s)));
        };
        auto session =
            std::make_shared<CPushSession>(std::move(request), std::move(hooks), parts_.options);
        session->Start();
        sessions_[name] = Entry{std::move(session), settings};
    }
}

void CPushScheduler::StopAll()
{
    std::vector<std::shared_ptr<CPushSession>> all;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (auto& [name, entry] : sessions_) {
            if (entry.session)
                all.push_back(std::move(entry.session));
            if (parts_.state)
                parts_.state->SetPushState(name, "");
        }
        sessions_.clear();
        all.insert(all.end(), retired_.begin(), retired_.end());
        retired_.clear();
    }
    // Ask all first, so that they end side by side, then wait for each.
    for (auto& s : all)
        s->RequestStop();
    for (auto& s : all)
        s->Stop();
}
