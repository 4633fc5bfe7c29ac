#include "can/qtcanbus/tqtcanbusthread.h"

#include "support/tbaseerror.h"

#include <QAbstractEventDispatcher>
#include <QByteArray>
#include <QCanBus>
#include <QCanBusDevice>
#include <QCanBusDeviceInfo>
#include <QCanBusFrame>
#include <QCoreApplication>
#include <QEventLoop>
#include <QStringList>
#include <QTimer>
#include <QVariant>

#include <algorithm>
#include <chrono>
#include <atomic>
#include <cstdlib>
#include <list>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

// The arguments of the application object made for a process that has none; Qt keeps
// references to both for the object's whole life.
int g_argc = 1;
char g_name[] = "quorvella";
char* g_argv[] = {g_name, nullptr};

// How long a closing device may take to say goodbye (the virtualcan client tells the
// server that it leaves) before it is deleted anyway.
constexpr int CloseGraceMs = 500;

std::string Utf8(const QString& text)
{
    return text.toStdString();
}

std::string JoinOrNone(const QStringList& names)
{
    return names.isEmpty() ? std::string("none") : Utf8(names.join(QStringLiteral(", ")));
}

QCanBusFrame ToQt(const TCanFrame& frame)
{
    const uint32_t mask = frame.Extended ? TCanFrame::MaxExtendedId : TCanFrame::MaxStandardId;
    QCanBusFrame qt(frame.Id & mask,
                    QByteArray(reinterpret_cast<const char*>(frame.Data.data()),
                               static_cast<qsizetype>(std::min<uint8_t>(frame.Dlc, 8))));
    qt.setExtendedFrameFormat(frame.Extended);
    return qt;
}

// Data frames only: error frames and remote requests carry no data for the program.
// Time is left at 0; Read stamps the frame with the reader's clock. Dlc and the
// identifier's kind are the frame's own; CAN FD frames (more than 8 bytes) are not
// classic frames and are refused like remote frames.
bool FromQt(const QCanBusFrame& qt, TCanFrame& frame)
{
    if (!qt.isValid() || qt.frameType() != QCanBusFrame::DataFrame) return false;
    frame = TCanFrame();
    const QByteArray payload = qt.payload();
    if (qt.hasFlexibleDataRateFormat() || payload.size() > 8) return false;
    frame.Id = qt.frameId();
    frame.Extended = qt.hasExtendedFrameFormat();
    frame.Dlc = static_cast<uint8_t>(payload.size());
    // Byte by byte: GCC 12 takes a bulk copy from a possibly empty QByteArray for an
    // out-of-bounds read of Qt's shared empty buffer and refuses to build.
    const qsizetype n = std::min<qsizetype>(payload.size(), static_cast<qsizetype>(frame.Data.size()));
    for (qsizetype i = 0; i < n; ++i) frame.Data[static_cast<size_t>(i)] = static_cast<uint8_t>(payload[i]);
    return true;
}

// The interfaces that the plugin reports, or none when it cannot tell.
QStringList InterfaceNames(const QString& plugin)
{
    QStringList names;
    QString error;
    const QList<QCanBusDeviceInfo> devices = QCanBus::instance()->availableDevices(plugin, &error);
    for (const QCanBusDeviceInfo& info : devices) names.append(info.name());
    return names;
}

bool LooksLikeUrl(const std::string& interface)
{
    return interface.find('/') != std::string::npos;
}

// An open failure as a message that tells the user what to do. The text before the
// first ':' is fixed (the error table matches on it); the rest names the details.
std::string OpenFailure(const TQtCanBusPort& port, QCanBusDevice::CanBusError code,
                        const QString& qtText)
{
    const QString plugin = QString::fromStdString(port.Plugin);
    const std::string text = qtText.isEmpty() ? std::string("no reason given") : Utf8(qtText);
    const std::string where = port.Plugin + " " + port.Interface;
    if (qtText.contains(QStringLiteral("Address family not supported")))
        return "SocketCAN not available: " + text + "; this machine's kernel has no SocketCAN"
               " (load the modules can and can_raw) or use another plugin";
    if (qtText.contains(QStringLiteral("ermission denied")) ||
        qtText.contains(QStringLiteral("not permitted")))
        return "Permission denied: " + where + ": " + text + "; ask an administrator for access"
               " (setting the bit rate needs administrator rights: set it with ip link and"
               " leave it out of the description)";
    if (!LooksLikeUrl(port.Interface)) {
        const QStringList names = InterfaceNames(plugin);
        if (!names.contains(QString::fromStdString(port.Interface)) &&
            (!names.isEmpty() || code == QCanBusDevice::ConnectionError))
            return "Interface not found: '" + port.Interface + "' (" + text +
                   "); available interfaces: " + JoinOrNone(names);
    }
    if (code == QCanBusDevice::ConfigurationError && port.BitRate != 0)
        return "Bit rate not set: " + where + ": " + text + "; set the bit rate with ip link"
               " (ip link set " + port.Interface + " up type can bitrate " +
               std::to_string(port.BitRate) + ") and leave it out of the description";
    return "Connect failed: " + where + ": " + text;
}

} // namespace

// One device and its port, owned by the thread's loop.
struct TDeviceSlot {
    std::shared_ptr<TQtCanBusPort> Port;
    std::unique_ptr<QCanBusDevice> Device;
    bool Closing = false;
    bool Finished = false;   // the loop deletes the device at its next turn
    // The outcome of an open is held back until the open has finished with Qt and an
    // exit handler is registered after every process-wide object that it may have made
    // (QCanBus's plugin table, the virtualcan bus server): a channel told at once could
    // let the program end, and destroy those objects, while the thread still uses them.
    bool Holding = false;
    bool Connected = false;   // connectDevice was called
    bool Held = false;
    TQtCanBusPort::TState HeldState = TQtCanBusPort::psOpening;
    std::string HeldFailure;
};

struct TQtCanBusThread::TImpl {
    std::unique_ptr<QCoreApplication> App;   // only when the process had none

    // Guards the fields below; the thread and the callers of Open, Wake and Stop meet here.
    std::mutex Mutex;
    std::condition_variable Started;
    std::vector<std::shared_ptr<TQtCanBusPort>> Opening;
    std::vector<std::function<void()>> Tasks;
    bool Running = false;   // the loop has begun (Dispatcher is set)
    bool StopRequested = false;
    bool Stopped = false;
    QAbstractEventDispatcher* Dispatcher = nullptr;   // the thread's, while its loop runs

    std::thread Thread;

    // Only the thread touches these.
    std::list<TDeviceSlot> Slots;
    std::set<std::string> ExitHandlersFor;

    void Run();
    void OpenSlot(const std::shared_ptr<TQtCanBusPort>& port);
    void Serve(TDeviceSlot& slot);
    void Receive(TDeviceSlot& slot);
    void Fail(TDeviceSlot& slot, const std::string& failure);
    void Publish(TDeviceSlot& slot, TQtCanBusPort::TState state, const std::string& failure = {});
    void Release(const std::shared_ptr<TQtCanBusPort>& port);
    void RegisterExitHandler(const std::string& key);
    void Close(TDeviceSlot& slot);
    void DeleteFinished();
    void CloseAll();
};

namespace {

void SetState(TQtCanBusPort& port, TQtCanBusPort::TState state, std::string failure = {})
{
    {
        std::lock_guard lock(port.Mutex);
        port.State = state;
        if (!failure.empty()) port.Failure = std::move(failure);
    }
    port.Changed.notify_all();
}

void ReportError(TQtCanBusPort& port, const std::string& error)
{
    std::lock_guard lock(port.Mutex);
    if (port.Error.empty()) port.Error = error;
}

// The instance while it exists. Exit handlers run on the exiting thread, which is also
// the one that destroys the instance, so a handler registered late (while the program
// was already ending) finds it gone instead of using a destroyed object.
std::atomic<TQtCanBusThread*> g_live{nullptr};

void StopAtExit()
{
    if (TQtCanBusThread* thread = g_live.load()) thread->Stop();
}

} // namespace

TQtCanBusThread& TQtCanBusThread::Instance()
{
    static TQtCanBusThread thread;
    return thread;
}

TQtCanBusThread::TQtCanBusThread() : impl_(std::make_unique<TImpl>())
{
    if (!QCoreApplication::instance())
        impl_->App = std::make_unique<QCoreApplication>(g_argc, g_argv);
    impl_->Thread = std::thread([impl = impl_.get()] { impl->Run(); });
    g_live = this;
    // Without its application object Qt delivers no events, and the thread's socket
    // notifiers would only spin; the thread ends with the object (which a QApplication
    // in main does before the exit handlers run).
    qAddPostRoutine(StopAtExit);
    // Open and Wake need the thread's event dispatcher.
    std::unique_lock lock(impl_->Mutex);
    impl_->Started.wait(lock, [this] { return impl_->Running || impl_->Stopped; });
}

TQtCanBusThread::~TQtCanBusThread()
{
    g_live = nullptr;
    Stop();
    impl_->App.reset();
}

void TQtCanBusThread::Open(std::shared_ptr<TQtCanBusPort> port)
{
    std::lock_guard lock(impl_->Mutex);
    if (impl_->Stopped || impl_->StopRequested)
        throw TBaseError("TQtCanBusThread::Open", "Qt CAN bus thread stopped: the program is ending");
    impl_->Opening.push_back(std::move(port));
    if (impl_->Dispatcher) impl_->Dispatcher->wakeUp();
}

bool TQtCanBusThread::Call(std::function<void()> task, int timeoutMs)
{
    struct TDone {
        std::mutex Mutex;
        std::condition_variable Changed;
        bool Done = false;
    };
    auto done = std::make_shared<TDone>();
    {
        std::lock_guard lock(impl_->Mutex);
        if (impl_->Stopped || impl_->StopRequested) return false;
        impl_->Tasks.push_back([impl = impl_.get(), task = std::move(task), done] {
            task();
            impl->RegisterExitHandler(std::string());
            {
                std::lock_guard doneLock(done->Mutex);
                done->Done = true;
            }
            done->Changed.notify_all();
        });
        if (impl_->Dispatcher) impl_->Dispatcher->wakeUp();
    }
    std::unique_lock lock(done->Mutex);
    return done->Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&done] { return done->Done; });
}

void TQtCanBusThread::Wake()
{
    std::lock_guard lock(impl_->Mutex);
    if (impl_->Dispatcher) impl_->Dispatcher->wakeUp();
}

void TQtCanBusThread::Stop()
{
    {
        std::lock_guard lock(impl_->Mutex);
        impl_->StopRequested = true;
        if (impl_->Dispatcher) impl_->Dispatcher->wakeUp();
    }
    if (impl_->Thread.joinable()) impl_->Thread.join();
}

void TQtCanBusThread::TImpl::Run()
{
    {
        // Makes this thread's event dispatcher, which lives as long as the thread.
        QEventLoop loop;
        {
            std::lock_guard lock(Mutex);
            Dispatcher = QAbstractEventDispatcher::instance();
            Running = true;
        }
        Started.notify_all();
        for (;;) {
            std::vector<std::shared_ptr<TQtCanBusPort>> opening;
            std::vector<std::function<void()>> tasks;
            {
                std::lock_guard lock(Mutex);
                if (StopRequested) break;
                opening.swap(Opening);
                tasks.swap(Tasks);
            }
            // Nothing may escape the loop: a failure ends the one task or open.
            for (const auto& task : tasks) {
                try {
                    task();
                } catch (...) {
                }
            }
            for (const auto& port : opening) {
                try {
                    OpenSlot(port);
                } catch (...) {
                    if (!Slots.empty() && Slots.back().Port == port) {
                        Slots.back().Finished = true;
                        Publish(Slots.back(), TQtCanBusPort::psFailed, "Connect failed: " + port->Plugin + " " +
                                                                           port->Interface + ": unexpected error");
                    }
                }
                Release(port);
            }
            for (auto& slot : Slots) Serve(slot);
            DeleteFinished();
            // Returns after any event, and after every Wake (a wake-up is not lost when
            // it comes before the wait).
            loop.processEvents(QEventLoop::WaitForMoreEvents);
        }
        CloseAll();
        std::lock_guard lock(Mutex);
        Dispatcher = nullptr;
    }
    std::vector<std::shared_ptr<TQtCanBusPort>> leftover;
    {
        std::lock_guard lock(Mutex);
        leftover.swap(Opening);
        Stopped = true;
    }
    Started.notify_all();
    for (const auto& port : leftover)
        SetState(*port, TQtCanBusPort::psFailed, "Connect failed: the program is ending");
}

void TQtCanBusThread::TImpl::OpenSlot(const std::shared_ptr<TQtCanBusPort>& port)
{
    TDeviceSlot& slot = Slots.emplace_back();
    slot.Port = port;
    slot.Holding = true;
    const QString plugin = QString::fromStdString(port->Plugin);
    const QString interface = QString::fromStdString(port->Interface);

    QCanBus* bus = QCanBus::instance();
    const QStringList plugins = bus->plugins();
    if (!plugins.contains(plugin)) {
        Fail(slot, "Plugin unknown: '" + port->Plugin + "'; available plugins: " + JoinOrNone(plugins));
        return;
    }
    QString error;
    slot.Device.reset(bus->createDevice(plugin, interface, &error));
    if (!slot.Device) {
        Fail(slot, "Device not created: " + port->Plugin + " " + port->Interface + ": " +
                       (error.isEmpty() ? std::string("no reason given") : Utf8(error)));
        return;
    }
    QCanBusDevice* device = slot.Device.get();
    // A plugin that rejects the interface name already in its constructor (virtualcan
    // with "can7") would otherwise go on with a channel of its own choosing.
    if (device->error() != QCanBusDevice::NoError) {
        Fail(slot, "Interface not found: '" + port->Interface + "' (" + Utf8(device->errorString()) +
                       "); available interfaces: " + JoinOrNone(InterfaceNames(plugin)));
        return;
    }
    if (port->BitRate != 0)
        device->setConfigurationParameter(QCanBusDevice::BitRateKey, QVariant(port->BitRate));

    TDeviceSlot* self = &slot;   // Slots is a list: the address stays while the slot lives
    QObject::connect(device, &QCanBusDevice::framesReceived, device, [this, self] { Receive(*self); });
    QObject::connect(device, &QCanBusDevice::errorOccurred, device,
                     [this, self](QCanBusDevice::CanBusError code) {
        if (self->Finished) return;
        std::string state;
        {
            std::lock_guard lock(self->Port->Mutex);
            if (self->Port->State == TQtCanBusPort::psOpening) state = "opening";
        }
        const QString text = self->Device->errorString();
        if (!state.empty()) Fail(*self, OpenFailure(*self->Port, code, text));
        else ReportError(*self->Port, "Device error: " + self->Port->Plugin + " " +
                                          self->Port->Interface + ": " + Utf8(text));
    });
    QObject::connect(device, &QCanBusDevice::stateChanged, device,
                     [this, self](QCanBusDevice::CanBusDeviceState state) {
        if (self->Finished) return;
        if (self->Closing) {
            if (state == QCanBusDevice::UnconnectedState) self->Finished = true;
            return;
        }
        TQtCanBusPort& p = *self->Port;
        if (state == QCanBusDevice::ConnectedState) {
            Publish(*self, TQtCanBusPort::psOpen);
        } else if (state == QCanBusDevice::UnconnectedState) {
            bool opening = false;
            {
                std::lock_guard lock(p.Mutex);
                opening = p.State == TQtCanBusPort::psOpening;
            }
            if (opening) Fail(*self, OpenFailure(p, self->Device->error(), self->Device->errorString()));
            else ReportError(p, "Device error: " + p.Plugin + " " + p.Interface + ": connection lost");
        }
    });

    slot.Connected = true;
    const bool connecting = device->connectDevice();
    if (slot.Finished) return;   // failed through a signal inside connectDevice
    if (!connecting) {
        Fail(slot, OpenFailure(*port, device->error(), device->errorString()));
        return;
    }
    if (device->state() == QCanBusDevice::ConnectedState) Publish(slot, TQtCanBusPort::psOpen);
}

void TQtCanBusThread::TImpl::Release(const std::shared_ptr<TQtCanBusPort>& port)
{
    auto it = std::find_if(Slots.rbegin(), Slots.rend(), [&port](const TDeviceSlot& s) { return s.Port == port; });
    if (it == Slots.rend()) return;
    // A plugin may make process-wide objects during its first open (the virtualcan bus
    // server); QCanBus makes its plugin table on first use.
    RegisterExitHandler(it->Connected ? port->Plugin : std::string());
    it->Holding = false;
    if (it->Held) SetState(*port, it->HeldState, it->HeldFailure);
}

void TQtCanBusThread::TImpl::RegisterExitHandler(const std::string& key)
{
    if (ExitHandlersFor.insert(key).second) std::atexit(StopAtExit);
}

void TQtCanBusThread::TImpl::Publish(TDeviceSlot& slot, TQtCanBusPort::TState state, const std::string& failure)
{
    if (!slot.Holding) {
        SetState(*slot.Port, state, failure);
        return;
    }
    slot.Held = true;
    slot.HeldState = state;
    slot.HeldFailure = failure;
}

void TQtCanBusThread::TImpl::Fail(TDeviceSlot& slot, const std::string& failure)
{
    slot.Finished = true;
    Publish(slot, TQtCanBusPort::psFailed, failure);
}

void TQtCanBusThread::TImpl::Receive(TDeviceSlot& slot)
{
    // A closing device refuses to be read (and says so); its frames come too late anyway.
    if (!slot.Device || slot.Device->state() != QCanBusDevice::ConnectedState) return;
    const QList<QCanBusFrame> frames = slot.Device->readAllFrames();
    std::lock_guard lock(slot.Port->Mutex);
    // The channel is closing and has stopped taking frames: the bus's further frames reach
    // this node after its end, as if it had already gone.
    if (slot.Port->ReceiveStopped) return;
    for (const QCanBusFrame& qt : frames) {
        TCanFrame frame;
        if (!FromQt(qt, frame)) continue;
        if (slot.Port->Received.size() >= TQtCanBusPort::ReceiveCapacity) {
            slot.Port->Received.pop_front();
            ++slot.Port->Dropped;
        }
        slot.Port->Received.push_back(frame);
    }
}

void TQtCanBusThread::TImpl::Serve(TDeviceSlot& slot)
{
    if (slot.Finished || slot.Closing) return;
    std::deque<TCanFrame> sending;
    bool closing = false;
    bool open = false;
    {
        std::lock_guard lock(slot.Port->Mutex);
        open = slot.Port->State == TQtCanBusPort::psOpen;
        if (open) sending.swap(slot.Port->Send);
        closing = slot.Port->CloseRequested;
    }
    for (const TCanFrame& frame : sending) {
        if (!slot.Device->writeFrame(ToQt(frame))) {
            const QString text = slot.Device->errorString();
            ReportError(*slot.Port, "Device error: " + slot.Port->Plugin + " " + slot.Port->Interface +
                                        ": frame not sent" + (text.isEmpty() ? "" : ": " + Utf8(text)));
        }
    }
    if (closing) Close(slot);
}

void TQtCanBusThread::TImpl::Close(TDeviceSlot& slot)
{
    slot.Closing = true;
    QCanBusDevice* device = slot.Device.get();
    if (!device) {
        slot.Finished = true;
        return;
    }
    const auto state = device->state();
    if (state == QCanBusDevice::UnconnectedState) {
        slot.Finished = true;
        return;
    }
    if (state != QCanBusDevice::ClosingState) device->disconnectDevice();
    if (device->state() == QCanBusDevice::UnconnectedState) {
        slot.Finished = true;
        return;
    }
    TDeviceSlot* self = &slot;
    QTimer::singleShot(CloseGraceMs, device, [self] { self->Finished = true; });
}

void TQtCanBusThread::TImpl::DeleteFinished()
{
    for (auto it = Slots.begin(); it != Slots.end();) {
        if (!it->Finished) {
            ++it;
            continue;
        }
        // Deleted here, outside the device's own signal handlers.
        it->Device.reset();
        bool failed = false;
        {
            std::lock_guard lock(it->Port->Mutex);
            failed = it->Port->State == TQtCanBusPort::psFailed;
        }
        if (!failed) SetState(*it->Port, TQtCanBusPort::psClosed);
        it = Slots.erase(it);
    }
}

void TQtCanBusThread::TImpl::CloseAll()
{
    for (auto& slot : Slots) {
        slot.Finished = true;
        if (slot.Device && slot.Device->state() != QCanBusDevice::UnconnectedState)
            slot.Device->disconnectDevice();
    }
    DeleteFinished();
}
