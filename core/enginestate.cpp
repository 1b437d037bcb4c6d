#include "enginestate.h"

void CEngineState::SetSelectedAccount(std::string name)
{
    std::lock_guard<std::mutex> guard(selectedLock_);
    selected_ = std::move(name);
}

std::string CEngineState::SelectedAccount() const
{
    std::lock_guard<std::mutex> guard(selectedLock_);
    return selected_;
}

bool CEngineState::IsSelected(const std::string& name) const
{
    std::lock_guard<std::mutex> guard(selectedLock_);
    return !selected_.empty() && selected_ == name;
}

void CEngineState::SetPushState(const std::string& account, const std::string& text)
{
    std::lock_guard<std::mutex> guard(pushLock_);
    if (text.empty())
        push_.erase(account);
    else
        push_[account] = text;
}

std::string CEngineState::PushState(const std::string& account) const
{
    std::lock_guard<std::mutex> guard(pushLock_);
    auto it = push_.find(account);
    return it == push_.end() ? std::string() : it->second;
}
