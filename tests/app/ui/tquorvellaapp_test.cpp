// What the program tells the user about its CAN channel's medium: an error that ends a
// channel's thread reaches the error display once, and frames the channel could not
// deliver before it closed are counted there. How it ends: a stop signal closes it as
// Close does (run stopped, output log complete, settings saved), and a save that fails
// is reported. Which vendor library it loaded, and one it would not load.

#include "engine/trunengine.h"
#include "app/ui/tcanchannelport.h"
#include "app/ui/tfquorvella.h"
#include "app/ui/tquorvellaapp.h"
#include "can/tcanchannel.h"
#include "fakeuserquery.h"

#include <QAbstractButton>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <filesystem>
#include <sys/stat.h>

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
        return StartWithSettings(QString("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<Quorvella>\n <CanAdapter>\n"
                                         "  <Simulation>\n   <DriverName>Simulation</DriverName>\n   <Comm>%1</Comm>\n"
                                         "  </Simulation>\n </CanAdapter>\n</Quorvella>\n")
                                     .arg(comm));
    }
    // Starts the program with the Vector adapter and its library at library.
    std::unique_ptr<TQuorvellaApp> StartWithVectorLibrary(const QString& library)
    {
        return StartWithSettings(
            QString("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<Quorvella>\n <FileNameVectorDll>%1</FileNameVectorDll>\n"
                    " <CanAdapter>\n  <Vector3.2>\n   <DriverName>Vector</DriverName>\n   <CardType>CANcaseXL</CardType>\n"
                    "   <CardIndex>1</CardIndex>\n   <Channel>1</Channel>\n  </Vector3.2>\n </CanAdapter>\n</Quorvella>\n")
                .arg(library));
    }
    std::unique_ptr<TQuorvellaApp> StartWithSettings(const QString& settings)
    {
        QFile file(Path("Quorvella.xml"));
        if (!file.open(QIODevice::WriteOnly)) qFatal("settings not written");
        file.write(settings.toUtf8());
        file.close();
        TQuorvellaApp::TSetup setup;
        setup.WorkingDirectory = TAString(dir_->path().toStdString());
        setup.CanChannelDialog = &canDialog_;
        return std::make_unique<TQuorvellaApp>(query_, std::move(setup));
    }

    template <class W> static W* Find(TQuorvellaApp& app, const char* name)
    {
        W* widget = app.MainWindow().findChild<W*>(name);
        if (!widget) qFatal("no widget %s", name);
        return widget;
    }
    static void Click(TQuorvellaApp& app, const char* name)
    {
        QTest::mouseClick(Find<QAbstractButton>(app, name), Qt::LeftButton);
    }
    static QString ReadText(const QString& path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) return QString();
        return QString::fromUtf8(file.readAll());
    }
    // The status line's value: its text, or its hint when the text is shortened.
    static QString StatusValue(TQuorvellaApp& app, const char* name)
    {
        auto* label = Find<QLabel>(app, name);
        return label->toolTip().isEmpty() ? label->text() : label->toolTip();
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

    // SIGTERM, SIGHUP and SIGINT each close the program through its event loop, as Close
    // does: the run stops, every frame logged is in the output log as a whole line, the
    // settings are written, and nobody is asked anything.
    void closeSignalsStopTheRunFinishTheLogAndSaveTheSettings()
    {
        for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
            init();
            auto app = StartWith("RAM 5 5");
            const QString log = Path("out.asc");
            query_.SaveAnswers.push_back(TAString(log.toStdString()));
            Click(*app, "B_FileNameLogOut");
            Click(*app, "CB_LogFile");
            Click(*app, "B_StartStop");
            // More frames than one write of the log holds (4 KB: 117 lines).
            QTRY_VERIFY_WITH_TIMEOUT(app->Engine().FramesLogged() > 300, 10000);
            QTimer::singleShot(0, [signal] { ::raise(signal); });
            QCOMPARE(app->Exec(), 0);
            QVERIFY(app->Terminated());
            QCOMPARE(app->CloseSignal(), signal);
            app->Shutdown();
            QVERIFY(!app->Engine().Running());
            QVERIFY(app->SettingsSaved());
            const QString settings = ReadText(Path("Quorvella.xml"));
            QVERIFY2(settings.contains("<!-- written by TXmlElement -->"), qPrintable(settings));
            QVERIFY(settings.contains("<FzgSim>"));
            QVERIFY(settings.contains("RAM 5 5"));
            const qint64 size = QFileInfo(log).size();
            QCOMPARE(size % 35, qint64{0});
            QCOMPARE(uint64_t(size / 35), app->Engine().FramesLogged());
            // Nothing to answer and no error. A busy machine may hold the run up or send
            // frames late: its timing notices are the truth, not a fault of the close.
            for (const auto& box : query_.Boxes) {
                const QString text = S(box.Text);
                QVERIFY2(text.startsWith("Timing notice\nThe run was held up") ||
                             text.startsWith("Timing notice\nFrames left later than their time"),
                         qPrintable(text));
            }
        }
    }

    // A save that fails at shutdown is not lost silently: a box when the user closed the
    // program, standard error when a signal did (and the status says so either way).
    void failedSaveAtShutdownIsReported()
    {
        for (const bool bySignal : {false, true}) {
            init();
            auto app = StartWith("RAM 5 6");
            // The file is no longer a regular file when the program ends.
            QVERIFY(QFile::remove(Path("Quorvella.xml")));
            QCOMPARE(::mkfifo(Path("Quorvella.xml").toLocal8Bit().constData(), 0644), 0);
            if (bySignal) {
                QTimer::singleShot(0, [] { ::raise(SIGTERM); });
                app->Exec();
            }
            app->Shutdown();
            QVERIFY(!app->SettingsSaved());
            QVERIFY(std::filesystem::is_fifo(Path("Quorvella.xml").toStdString()));
            if (bySignal) {
                QVERIFY(query_.Boxes.empty());
            } else {
                QCOMPARE(query_.Boxes.size(), size_t{1});
                QCOMPARE(S(query_.Boxes[0].Text), "Settings error\nThe settings could not be saved\n\"" +
                                                      Path("Quorvella.xml") +
                                                      "\" is not a regular file and is left as it is\n");
                QCOMPARE(query_.Boxes[0].Icon, TUserQuery::icError);
            }
        }
    }

#ifdef QV_VECTOR_DOUBLE
    // The status panel names the library the settings made the program load, with its path.
    void windowNamesTheLibraryItLoaded()
    {
        const QString library = QString::fromStdString(std::filesystem::canonical(QV_VECTOR_DOUBLE).string());
        auto app = StartWithVectorLibrary(library);
        QVERIFY(Find<QLabel>(*app, "L_LibraryStatus")->isVisibleTo(&app->MainWindow()));
        QCOMPARE(StatusValue(*app, "L_LibraryStatus"), library);
        QCOMPARE(Find<QLabel>(*app, "L_LibraryCaption")->text(), QString("Library:"));
    }
#endif

    // A library in a folder anyone may write is not loaded: the user is told which and why.
    void libraryOthersCouldHavePutThereIsNotLoaded()
    {
        QVERIFY(QDir(dir_->path()).mkdir("open"));
        ::chmod(Path("open").toLocal8Bit().constData(), 0777);
        QFile evil(Path("open/evil.so"));
        QVERIFY(evil.open(QIODevice::WriteOnly));
        evil.write("code the user never installed");
        evil.close();
        auto app = StartWithVectorLibrary(Path("open/evil.so"));
        QVERIFY(!Find<QLabel>(*app, "L_LibraryStatus")->isVisibleTo(&app->MainWindow()));
        QCOMPARE(query_.Boxes.size(), size_t{1});
        QVERIFY2(S(query_.Boxes[0].Text).contains("the library is not loaded: '" + Path("open/evil.so") + "': its folder '" +
                                                  Path("open") + "' can be written by others"),
                 qPrintable(S(query_.Boxes[0].Text)));
        QVERIFY(query_.OpenRequests.empty());   // it is there: the user is not asked where it is
    }

    // The output log chosen in the window may not be one of the program's inputs: the
    // settings file or the user log loaded. The choice is refused with the reason and the
    // file stays as it was.
    void outputLogThatIsAnInputIsRefused()
    {
        auto app = StartWith("RAM 5 5");
        const QString before = ReadText(Path("Quorvella.xml"));
        QDir(dir_->path()).mkdir("sub");
        for (const QString& name : {Path("Quorvella.xml"), Path("sub/../Quorvella.xml")}) {
            query_.Boxes.clear();
            query_.SaveAnswers.push_back(TAString(name.toStdString()));
            Click(*app, "B_FileNameLogOut");
            QVERIFY(!app->Engine().LogOut().IsOpen());
            QCOMPARE(query_.Boxes.size(), size_t{1});
            QCOMPARE(S(query_.Boxes[0].Text), "Log file error\nOpening the output log failed\n'" + name +
                                                  "' is the settings file; the log would be written into it\n");
        }
        QCOMPARE(ReadText(Path("Quorvella.xml")), before);
    }
};

QTEST_MAIN(TQuorvellaAppTest)
#include "tquorvellaapp_test.moc"
