#include "engine/tcontrolhub.h"

#include <utility>

bool TControlHub::Push(TControlCommand command)
{
    std::lock_guard lock(mutex_);
    if (commands_.size() >= MaxCommands) return false;
    commands_.push_back(std::move(command));
    return true;
}

void TControlHub::RequestRun(TRunRequest request)
{
    std::lock_guard lock(mutex_);
    request_ = request;
}

TControlStatus TControlHub::Status() const
{
    std::lock_guard lock(mutex_);
    return status_;
}

std::vector<TControlCommand> TControlHub::Take()
{
    std::deque<TControlCommand> taken;
    {
        std::lock_guard lock(mutex_);
        taken.swap(commands_);
    }
    return {std::make_move_iterator(taken.begin()), std::make_move_iterator(taken.end())};
}

TControlHub::TRunRequest TControlHub::TakeRunRequest()
{
    std::lock_guard lock(mutex_);
    return std::exchange(request_, TRunRequest::None);
}

void TControlHub::Publish(const TControlStatus& status)
{
    std::lock_guard lock(mutex_);
    status_ = status;
}

void TControlHub::Clear()
{
    std::lock_guard lock(mutex_);
    commands_.clear();
    request_ = TRunRequest::None;
}
