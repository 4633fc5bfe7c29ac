// What the program tells the user about its CAN channel's medium: an error that ends a
// channel's thread reaches the error display once, and frames the channel could not
// deliver before it closed are counted there.

#include "app/trunengine.h"
#include "app/ui/tcanchannelport.h"
#include "app/ui/tquorvellaapp.h"
#include "can/tcanchannel.h"
#include "fakeuserquery.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <clocale>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QString S(const TAString& text)
{
    return QString::fromStdString(text.str());
}

// A port on 127.0.0.1 that was free a moment ago.
uint16_t FreePort()
{
    const int handle = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(handle, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    ::getsockname(handle, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(handle);
    return ntohs(address.sin_port);
}

class TNoCanDialog final : public TCanChannelPort {
public:
    void SetStyle(bool, bool, bool, bool, bool) override {}
    bool Execute(const TTreeKey&) override { return false; }
    const TTreeKey& ResultKey() const override { return key_; }

private:
    TTreeKey key_;
};

}  // namespace

class TQuorvellaAppTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    TFakeUserQuery query_;
    TNoCanDialog canDialog_;

    QString Path(const QString& name) const { return dir_->filePath(name); }

    // Starts the program with a simulation channel of one communication description.
    std::unique_ptr<TQuorvellaApp> StartWith(const QString& comm)
    {
        QFile file(Path("Quorvella.xml"));
        if (!file.open(QIODevice::WriteOnly)) qFatal("settings not written");
        file.write(QString("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<Quorvella>\n <CanAdapter>\n  <Simulation>\n"
                           "   <DriverName>Simulation</DriverName>\n   <Comm>%1</Comm>\n  </Simulation>\n"
                           " </CanAdapter>\n</Quorvella>\n")
                       .arg(comm)
                       .toUtf8());
        file.close();
        TQuorvellaApp::TSetup setup;
        setup.WorkingDirectory = TAString(dir_->path().toStdString());
        setup.CanChannelDialog = &canDialog_;
        return std::make_unique<TQuorvellaApp>(query_, std::move(setup));
    }

private slots:
    void initTestCase() { std::setlocale(LC_NUMERIC, "C"); }

    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        query_ = TFakeUserQuery();
    }

    void errorThatEndsAChannelThreadIsShownOnce()
    {
        QVERIFY(QDir(dir_->path()).mkdir("in"));
        auto app = StartWith("HDD " + Path("out") + " " + Path("in"));
        QVERIFY(app->Engine().CanChannel() != nullptr);
        QTRY_COMPARE(query_.Boxes.size(), size_t{1});
        QCOMPARE(S(query_.Boxes[0].Caption), QString("Tessmar - Quorvella"));
        QCOMPARE(S(query_.Boxes[0].Text), "Fatal error occured\nModul: TCommHDD::Receive\nMessage: unknown-Fatal-Error\n"
                                          "HDD read file '" + Path("in") + "' is a directory");
        QCOMPARE(query_.Boxes[0].Icon, TUserQuery::icError);
        QTest::qWait(100);
        QCOMPARE(query_.Boxes.size(), size_t{1});
    }

    void framesTheChannelCouldNotDeliverAreCountedAtShutdown()
    {
        // Nobody listens on the remote port: three frames cannot leave.
        auto app = StartWith(QString("SOC 127.0.0.1 %1 %2 1").arg(FreePort()).arg(FreePort()));
        TCanChannel* channel = app->Engine().CanChannel();
        QVERIFY(channel != nullptr);
        for (uint8_t i = 0; i < 3; ++i) channel->Write(TCanFrame(0x18FEF100u, {i}, 8, 0));
        app->Shutdown();
        QCOMPARE(query_.Boxes.size(), size_t{1});
        QCOMPARE(S(query_.Boxes[0].Text),
                 QString("CAN error\nFrames could not be delivered\n3 frames written to the CAN channel could not be "
                         "delivered: refused by a full send buffer, or still waiting when the channel closed after "
                         "2.0 s\n"));
    }
};

QTEST_MAIN(TQuorvellaAppTest)
#include "tquorvellaapp_test.moc"
