#pragma once
// SIGTERM, SIGHUP and SIGINT for the windowed program: each asks it to close, and the
// close runs in the event loop like a click on Close (the run stops, the output log is
// finished, the settings are saved). The handler only writes the signal's number into
// a pipe (async-signal-safe); a QSocketNotifier on the pipe's other end calls onClose
// with it on the window thread.
//
// One instance at a time. The signals' earlier handlers come back when it goes.

#include <QObject>

#include <csignal>
#include <functional>
#include <memory>

class QSocketNotifier;

class TCloseSignals final : public QObject {
public:
    explicit TCloseSignals(std::function<void(int)> onClose, QObject* parent = nullptr);
    ~TCloseSignals() override;
    TCloseSignals(const TCloseSignals&) = delete;
    TCloseSignals& operator=(const TCloseSignals&) = delete;

    // The first close signal's number; 0 while none came.
    int Signal() const { return signal_; }

private:
    void Read();

    std::function<void(int)> onClose_;
    int pipe_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
    struct sigaction old_[3] {};
    int signal_ = 0;
};
