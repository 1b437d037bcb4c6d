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
