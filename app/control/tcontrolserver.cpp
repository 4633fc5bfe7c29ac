#include "app/control/tcontrolserver.h"

#include "can/qtcanbus/tqtcanbusthread.h"
#include "engine/tcontrolapi.h"
#include "support/tbaseerror.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpServer>
#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QUrl>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace {

std::string MethodName(QHttpServerRequest::Method method)
{
    switch (method) {
    case QHttpServerRequest::Method::Get: return "GET";
    case QHttpServerRequest::Method::Put: return "PUT";
    case QHttpServerRequest::Method::Delete: return "DELETE";
    case QHttpServerRequest::Method::Post: return "POST";
    case QHttpServerRequest::Method::Head: return "HEAD";
    case QHttpServerRequest::Method::Options: return "OPTIONS";
    case QHttpServerRequest::Method::Patch: return "PATCH";
    case QHttpServerRequest::Method::Connect: return "CONNECT";
    case QHttpServerRequest::Method::Trace: return "TRACE";
    default: return "UNKNOWN";
    }
}

QHostAddress Address(const TAString& text)
{
    if (text == "localhost") return QHostAddress(QHostAddress::LocalHost);
    return QHostAddress(QString::fromStdString(text.str()));
}

}  // namespace

// The server's thread: a std::thread (joined, so a thread checker sees its end) that
// makes, uses and deletes the HTTP server in its own event loop. Start waits for the
// outcome of the bind; Stop sets the flag under the mutex and wakes the loop.
class TControlServer::TThread {
public:
    TThread(const TControlApi& api, QHostAddress address, uint16_t port)
        : api_(api), address_(std::move(address)), port_(port), thread_([this] { Run(); })
    {
    }
    ~TThread()
    {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
            if (dispatcher_) dispatcher_->wakeUp();
        }
        thread_.join();
    }
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // The port bound, or 0 with the reason in Error.
    uint16_t WaitBound()
    {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [this] { return done_; });
        return bound_;
    }
    std::string Error()
    {
        std::lock_guard lock(mutex_);
        return error_;
    }

private:
    void Run()
    {
        QEventLoop loop;   // makes this thread's event dispatcher
        QHttpServer server;
        server.setMissingHandler([this](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
            Answer(request, std::move(responder));
        });
        auto* tcp = new QTcpServer(&server);
        uint16_t bound = 0;
        std::string error;
        if (tcp->listen(address_, port_)) {
            server.bind(tcp);
            bound = tcp->serverPort();
        } else {
            error = tcp->errorString().toStdString();
        }
        {
            std::lock_guard lock(mutex_);
            bound_ = bound;
            error_ = error;
            done_ = true;
            dispatcher_ = QAbstractEventDispatcher::instance();
        }
        ready_.notify_all();
        while (bound != 0) {
            {
                std::lock_guard lock(mutex_);
                if (stop_) break;
            }
            // Returns after any event and after every wake-up (one that comes before the
            // wait is not lost).
            loop.processEvents(QEventLoop::WaitForMoreEvents);
        }
        std::lock_guard lock(mutex_);
        dispatcher_ = nullptr;
    }

    void Answer(const QHttpServerRequest& request, QHttpServerResponder&& responder)
    {
        TControlRequest r;
        r.Method = MethodName(request.method());
        r.Path = request.url().path(QUrl::FullyEncoded).toStdString();
        r.Query = request.url().query(QUrl::FullyEncoded).toStdString();
        for (const auto& [key, value] : request.headers())
            if (key.compare("authorization", Qt::CaseInsensitive) == 0) r.Authorization = value.trimmed().toStdString();
        r.Body = request.body().toStdString();
        TControlResponse answer;
        try {
            answer = api_.Handle(r);
        } catch (const std::exception& e) {
            // Never out of the event loop: the client is told, the server goes on.
            answer = {500, "{\"error\": " + TControlApi::Quoted(std::string("internal error: ") + e.what()) + "}"};
        }
        responder.write(QByteArray::fromStdString(answer.Body + "\n"), "application/json",
                        static_cast<QHttpServerResponder::StatusCode>(answer.Status));
    }

    const TControlApi& api_;
    QHostAddress address_;
    uint16_t port_;
    std::mutex mutex_;
    std::condition_variable ready_;
    bool done_ = false;                                  // guarded by mutex_
    bool stop_ = false;                                  // guarded by mutex_
    QAbstractEventDispatcher* dispatcher_ = nullptr;     // guarded by mutex_, while the loop runs
    uint16_t bound_ = 0;
    std::string error_;
    std::thread thread_;   // last: starts once everything above is made
};

TControlServer::TControlServer(const TControlApi& api) : api_(api) {}

TControlServer::~TControlServer()
{
    Stop();
}

bool TControlServer::IsLoopback(const TAString& address)
{
    return address == "localhost" || Address(address).isLoopback();
}

uint16_t TControlServer::Start(const TAString& address, uint16_t port)
{
    static const char* const op = "TControlServer::Start";
    static const char* const message = "Control API not started";
    Stop();
    const QHostAddress host = Address(address);
    if (host.isNull()) throw TBaseError(op, message, "'" + address + "' is not an IP address");
    // Qt delivers no event in any thread without an application object; the runner has
    // none of its own. The Qt CAN bus thread makes the process's one and keeps it.
    if (!QCoreApplication::instance()) (void)TQtCanBusThread::Instance();
    auto thread = std::make_unique<TThread>(api_, host, port);
    const uint16_t bound = thread->WaitBound();
    if (bound == 0) {
        const std::string why = thread->Error();
        thread.reset();
        throw TBaseError(op, message,
                         "cannot listen on " + address + ":" + TAString(static_cast<int32_t>(port)) + ": " +
                             TAString(why));
    }
    thread_ = std::move(thread);
    return bound;
}

void TControlServer::Stop()
{
    thread_.reset();
}
