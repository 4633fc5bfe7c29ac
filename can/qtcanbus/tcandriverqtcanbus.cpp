#include "can/qtcanbus/tcandriverqtcanbus.h"

#include "can/qtcanbus/tqtcanbusthread.h"

#include <QCanBus>
#include <QCanBusDeviceInfo>
#include <QStringList>

#include <algorithm>
#include <memory>
#include <utility>

namespace {

constexpr int QueryTimeoutMs = 1000;

// Runs query on the Qt CAN bus thread; its answer, or none when the thread does not answer.
std::vector<std::string> Ask(std::function<std::vector<std::string>()> query)
{
    auto answer = std::make_shared<std::vector<std::string>>();
    const bool done = TQtCanBusThread::Instance().Call([answer, query = std::move(query)] { *answer = query(); },
                                                       QueryTimeoutMs);
    // Not answered: the task may still run later and write into answer, which it holds.
    return done ? *answer : std::vector<std::string>();
}

} // namespace

TCanDriverQtCanBus::TCanDriverQtCanBus() : TCanDriverQtCanBus(TCanChannelQtCanBus::DefaultClock()) {}

TCanDriverQtCanBus::TCanDriverQtCanBus(TCanChannelQtCanBus::Clock clock) : clock_(std::move(clock)) {}

std::unique_ptr<TCanChannel> TCanDriverQtCanBus::CreateChannel(const TAString& text)
{
    return std::make_unique<TCanChannelQtCanBus>(text, clock_);
}

std::vector<std::string> TCanDriverQtCanBus::Plugins()
{
    return Ask([] {
        std::vector<std::string> names;
        for (const QString& name : QCanBus::instance()->plugins()) names.push_back(name.toStdString());
        std::sort(names.begin(), names.end());
        return names;
    });
}

std::vector<std::string> TCanDriverQtCanBus::Interfaces(const std::string& plugin)
{
    return Ask([plugin] {
        std::vector<std::string> names;
        const QString name = QString::fromStdString(plugin);
        if (!QCanBus::instance()->plugins().contains(name)) return names;
        QString error;
        for (const QCanBusDeviceInfo& info : QCanBus::instance()->availableDevices(name, &error))
            names.push_back(info.name().toStdString());
        return names;
    });
}
