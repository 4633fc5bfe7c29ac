#include "app/ui/tclosesignals.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int Signals[3] = {SIGTERM, SIGHUP, SIGINT};

// The pipe's write end for the handler; -1 while no instance exists.
std::atomic<int> writeEnd{-1};

extern "C" void OnCloseSignal(int signal)
{
    const int saved = errno;
    const int fd = writeEnd.load();
    const unsigned char number = static_cast<unsigned char>(signal);
    if (fd >= 0) (void)!::write(fd, &number, 1);
    errno = saved;
}

}  // namespace

TCloseSignals::TCloseSignals(std::function<void(int)> onClose, QObject* parent)
    : QObject(parent), onClose_(std::move(onClose))
{
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        pipe_[0] = pipe_[1] = -1;
        return;
    }
    writeEnd.store(pipe_[1]);
    notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { Read(); });
    struct sigaction action {};
    action.sa_handler = OnCloseSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i) sigaction(Signals[i], &action, &old_[i]);
}

TCloseSignals::~TCloseSignals()
{
    if (pipe_[1] < 0) return;
    for (int i = 0; i < 3; ++i) sigaction(Signals[i], &old_[i], nullptr);
    writeEnd.store(-1);
    notifier_.reset();
    ::close(pipe_[0]);
    ::close(pipe_[1]);
}

void TCloseSignals::Read()
{
    unsigned char number = 0;
    int last = 0;
    while (::read(pipe_[0], &number, 1) == 1) last = number;
    if (last == 0) return;
    if (signal_ == 0) signal_ = last;
    if (onClose_) onClose_(last);
}
