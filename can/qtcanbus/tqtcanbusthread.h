#pragma once
// The one thread of the process that owns every Qt CAN bus device (QCanBusDevice).
//
// A QCanBusDevice is a QObject: it must be made, used and deleted in one thread that
// runs an event loop. The program's own threads (the window thread, which may have no
// Qt event loop, and the transmit timer's thread) never touch a device; they exchange
// frames with this thread through a TQtCanBusPort.
//
// Why one thread for the process, not one per channel: a plugin may keep process-wide
// objects in the thread of its first open. The virtualcan plugin starts the machine's
// virtual bus server (a TCP server on localhost) inside the first device's open, in
// that device's thread, and every later client of the bus, in this process or another,
// depends on it. A thread that ended with its channel would leave that server without
// an event loop, and the bus would go silent for everyone.
//
// Qt delivers no event (socket notifier, timer) in any thread unless a QCoreApplication
// exists. When the process has none (the headless runner, the unit tests), Instance()
// makes one on the calling thread and keeps it until the process ends; a program that
// wants its own QApplication must make it before the first QtCanBus channel.
//
// Lifetime: the thread starts with the first Instance() call and runs until Stop(),
// which runs when the application object is destroyed (Qt delivers no events without
// it) or from an exit handler, whichever comes first. The exit handler is registered
// after the first open of each plugin, so it runs before the process-wide objects that
// the plugin made during that open are destroyed (exit handlers run in reverse order
// of registration); they are then destroyed with their thread already joined.

#include "can/qtcanbus/tqtcanbusport.h"

#include <functional>
#include <memory>

class TQtCanBusThread {
public:
    // The running thread; starts it (and makes a QCoreApplication if there is none) on
    // the first call. Throws TBaseError("TQtCanBusThread::Instance", ...) when the
    // thread has already been stopped (the process is ending).
    static TQtCanBusThread& Instance();

    ~TQtCanBusThread();
    TQtCanBusThread(const TQtCanBusThread&) = delete;
    TQtCanBusThread& operator=(const TQtCanBusThread&) = delete;

    // Hands a port in psOpening to the thread, which makes its device from Plugin and
    // Interface, sets BitRate, connects it and then sets psOpen or psFailed. Returns at
    // once; wait on the port's Changed.
    void Open(std::shared_ptr<TQtCanBusPort> port);
    // Runs task on the thread (where QCanBus may be used: its instance is not made for
    // several threads) and waits for it. False when it did not finish within timeoutMs
    // or the thread has stopped; the task then runs later or not at all, so it must hold
    // what it uses by value or by shared_ptr.
    bool Call(std::function<void()> task, int timeoutMs);
    // Tells the thread to look at its ports again: frames waiting in Send, or
    // CloseRequested set. Cheap, never blocks on the thread; any thread may call it.
    void Wake();
    // Ends the thread: every device is disconnected and deleted, every port set to
    // psClosed, and the thread joined. Later calls do nothing. Called on the thread that
    // made the instance (the application object's destruction, exit handlers).
    void Stop();

private:
    TQtCanBusThread();
    struct TImpl;
    std::unique_ptr<TImpl> impl_;
};
