#pragma once
// The control API's HTTP server: Qt HTTP Server on a thread of its own with its own
// event loop, so that the runner's loop (which has no Qt event loop) and the window's
// never wait for a client. Every request goes to TControlApi on that thread; changes
// reach the run through the control hub, which the model's next step empties.
//
// Binds the address given (the loopback address unless the user names another); the
// caller makes sure that any other address has a token (TControlApi answers 401
// without it).

#include "support/tastring.h"

#include <cstdint>
#include <memory>

class TControlApi;

class TControlServer {
public:
    // api must outlive this.
    explicit TControlServer(const TControlApi& api);
    // Stops the server and joins its thread.
    ~TControlServer();
    TControlServer(const TControlServer&) = delete;
    TControlServer& operator=(const TControlServer&) = delete;

    // Listens on address ("127.0.0.1", "::1", "0.0.0.0", a host's address) and port
    // (0: one the system chooses) and returns the port it listens on. Throws
    // TBaseError("TControlServer::Start", "Control API not started", why) when the
    // address is not one or cannot be bound (in use, no permission); nothing is left
    // running then.
    uint16_t Start(const TAString& address, uint16_t port);
    // Closes every connection and joins the thread; a request being answered is finished
    // first. Later calls do nothing.
    void Stop();

    // Whether address is a loopback address ("127.0.0.1", "::1", "localhost").
    static bool IsLoopback(const TAString& address);

private:
    class TThread;
    const TControlApi& api_;
    std::unique_ptr<TThread> thread_;
};
