#include "support/Communication/tacommunication.h"

#include "support/Communication/tacommunicationerror.h"
#include "support/Communication/tcommhdd.h"
#include "support/Communication/tcommram.h"
#include "support/Communication/tcommrs232.h"
#include "support/Communication/tcommsocket.h"

namespace {

void NeedWords(const TAString& description, int count)
{
    if (description.WordCount() < count)
        throw TACommunicationError("TACommunication::New", "ConfigError");
}

} // namespace

std::unique_ptr<TACommunication> TACommunication::New(const TAString& description)
{
    const TAString kind = description.Word(0);
    if (kind == "HDD") {
        NeedWords(description, 3);
        return std::make_unique<TCommHDD>(description.Word(1), description.Word(2));
    }
    if (kind == "SOC") {
        NeedWords(description, 5);
        return std::make_unique<TCommSocket>(description.Word(1),
                                             description.Word(2).AsWord(TAString::nmDec),
                                             description.Word(3).AsWord(TAString::nmDec),
                                             description.Word(4).AsInt32(TAString::nmDec) != 0);
    }
    if (kind == "RAM") {
        NeedWords(description, 3);
        return std::make_unique<TCommRam>(description.Word(1).AsByte(TAString::nmDec),
                                          description.Word(2).AsByte(TAString::nmDec));
    }
    if (kind == "COM") {
        NeedWords(description, 5);
        return std::make_unique<TCommRs232>(description.Word(1),
                                            description.Word(2).AsUInt32(TAString::nmDec),
                                            description.Word(3).AsByte(TAString::nmDec),
                                            description.Word(4)[0]);
    }
    throw TACommunicationError("TACommunication::New", "ConfigError");
}

TACommunication::TACommunication(TPause sendIdle, TPause receiveIdle)
    : sendThread_(TAThread::Send, [this] { return Send(); }, sendIdle),
      receiveThread_(TAThread::Receive, [this] { return Receive(); }, receiveIdle)
{
}

TACommunication::~TACommunication()
{
    StopThreads();
}

void TACommunication::StartThreads(const TAThread::TLauncher& receiveLauncher)
{
    receiveThread_.Start(receiveLauncher);
    sendThread_.Start();
}

void TACommunication::StopThreads()
{
    stopping_ = true;
    receiveThread_.RequestStop();
    sendThread_.RequestStop();
    Unblock();
    receiveThread_.Join();
    sendThread_.Join();
}

int TACommunication::Write(const void* bytes, int count)
{
    if (count <= 0)
        return 0;
    sendBuffer_.Write(bytes, count);
    NotifySendData();
    return count;
}

int TACommunication::Read(void* destination, int count)
{
    const int taken = receiveBuffer_.Read(destination, count);
    if (taken > 0)
        WakeReceive();
    return taken;
}
