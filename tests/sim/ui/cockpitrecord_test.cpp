// The cockpit's "Record": what the user does becomes scenario lines with the run's
// times; what a scenario cannot say is told, and the recording is written whole.
#include "engine/terrorreporter.h"
#include "sim/tlkw.h"
#include "sim/ui/tfsim_lkw.h"
#include "support/tbaseerror.h"

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

class TErrors final : public TErrorReporter {
public:
    void ShowError(const TBaseError& error) override { shown.push_back(error); }
    std::vector<TBaseError> shown;
};

struct TRig {
    TFSim_Lkw cockpit;
    TErrors errors;
    int64_t now = 0;   // the run's time, µs
    int runsStarted = 0;
    bool running = false;
    std::vector<std::optional<TAString>> answers;   // the file dialog's answers, in turn
    int asked = 0;

    TRig()
    {
        cockpit.SetErrorReporter(&errors);
        cockpit.SetRunControl(
            [this] {
                ++runsStarted;
                running = true;
                now = 0;
            },
            [this] { return running; });
        cockpit.SetRecording([this] { return now; }, [this]() -> std::optional<TAString> {
            ++asked;
            return asked <= static_cast<int>(answers.size()) ? answers[static_cast<std::size_t>(asked - 1)]
                                                             : std::nullopt;
        });
        cockpit.show();
    }
    template <class T> T* Get(const char* name) { return cockpit.findChild<T*>(name); }
    void Record() { QTest::mouseClick(Get<QPushButton>("B_Record"), Qt::LeftButton); }
};

}  // namespace

class CockpitRecordTest : public QObject {
    Q_OBJECT

private slots:
    // Each action at its time, and the line it gives, worked by hand from the controls:
    // the bars keep 0 at the top (full accelerator, eighth gear), the clutch is engaged
    // at 100.
    void everyActionBecomesItsLineWithItsTime()
    {
        TRig rig;
        rig.Record();
        QCOMPARE(rig.runsStarted, 1);   // no run went: Record started one
        QVERIFY(rig.cockpit.Recording());
        QCOMPARE(rig.Get<QPushButton>("B_Record")->text(), QString("Stop recording"));

        const struct {
            int64_t at;   // µs of the run
            std::function<void(TRig&)> act;
            const char* line;
        } rows[] = {
            {20000, [](TRig& r) { r.Get<QSlider>("TB_Accel")->setValue(75); }, "0.02 set Gaspedal=25"},
            {500000, [](TRig& r) { r.Get<QSlider>("TB_Brake")->setValue(40); }, "0.5 set Bremspedal=60"},
            {1250000, [](TRig& r) { r.Get<QSlider>("TB_Gang")->setValue(5); }, "1.25 set Gang=3"},
            {2000000, [](TRig& r) { r.Get<QSlider>("TB_Clutch")->setValue(30); }, "2 set Kupplungspedal=30"},
            {2500000, [](TRig& r) { r.Get<QCheckBox>("CB_Ignition")->setChecked(false); }, "2.5 set Zuendung=0"},
            {3000000, [](TRig& r) { QTest::mouseClick(r.Get<QPushButton>("Starter"), Qt::LeftButton); }, "3 starter"},
            {3100000, [](TRig& r) { r.Get<QCheckBox>("CB_Ignition")->setChecked(true); }, "3.1 set Zuendung=1"},
            {3200000, [](TRig& r) { QTest::mouseClick(r.Get<QPushButton>("Starter"), Qt::LeftButton); }, "3.2 starter"},
            {4000000, [](TRig& r) { r.Get<QCheckBox>("CB_Tempomat")->setChecked(true); }, "4 set Tempomat=1"},
            {4500000, [](TRig& r) { r.cockpit.ClickTellTale(0); }, "4.5 telltale 1=1"},
            {5000000,
             [](TRig& r) {
                 auto* vin = r.Get<QLineEdit>("E_FzgID");
                 vin->setFocus();
                 vin->selectAll();
                 QTest::keyClicks(vin, "WREC0000000000042");
                 QTest::keyClick(vin, Qt::Key_Return);
             },
             "5 vin WREC0000000000042"},
        };
        for (const auto& r : rows) {
            rig.now = r.at;
            r.act(rig);
        }
        rig.now = 6000000;
        rig.answers.push_back(std::nullopt);   // the file dialog cancelled
        rig.Record();
        QVERIFY(!rig.cockpit.Recording());
        QCOMPARE(rig.Get<QPushButton>("B_Record")->text(), QString("Record"));

        std::string expected = "# recorded in the cockpit: seconds from the start of the recording, then what was done\n";
        for (const auto& r : rows) expected += std::string(r.line) + "\n";
        expected += "6 stop\n";
        // The starter with the ignition off does nothing to the vehicle: no line.
        expected.erase(expected.find("3 starter\n"), std::string("3 starter\n").size());
        QCOMPARE(rig.cockpit.RecordedText().str(), expected);
        QCOMPARE(rig.asked, 1);
        QVERIFY(rig.errors.shown.empty());
    }

    // What the model does by itself while it steps is no action of the user's.
    void theModelsOwnStepsAreNotRecorded()
    {
        TRig rig;
        rig.running = true;
        rig.now = 1000000;
        rig.Record();
        QCOMPARE(rig.runsStarted, 0);   // a run went: none started
        QTest::mouseClick(rig.Get<QPushButton>("Starter"), Qt::LeftButton);
        for (int i = 0; i < 100; ++i) {
            rig.now += 20000;
            rig.cockpit.Step(0.02, true);
        }
        rig.Record();
        QCOMPARE(rig.cockpit.RecordedText().str(),
                 std::string("# recorded in the cockpit: seconds from the start of the recording, then what was done\n"
                             "0 starter\n"
                             "2 stop\n"));
    }

    // A new run starts its clock at 0 again: the recording's steps stay in order.
    void aRunStartedAnewKeepsTheStepsInOrder()
    {
        TRig rig;
        rig.Record();
        rig.now = 2000000;
        rig.Get<QSlider>("TB_Accel")->setValue(50);
        rig.now = 500000;   // the next run, 0.5 s in
        rig.Get<QSlider>("TB_Accel")->setValue(20);
        rig.now = 700000;
        rig.Record();
        QCOMPARE(rig.cockpit.RecordedText().str(),
                 std::string("# recorded in the cockpit: seconds from the start of the recording, then what was done\n"
                             "2 set Gaspedal=50\n"
                             "2 set Gaspedal=80\n"
                             "2.2 stop\n"));
    }

    void whatAScenarioCannotSayIsToldAndTheRecordingWrittenWhole()
    {
        QTemporaryDir dir;
        TRig rig;
        rig.Record();
        rig.now = 100000;
        rig.Get<QCheckBox>("CBAutoClutch")->setChecked(false);
        rig.Get<QCheckBox>("CB_Manual")->setChecked(true);
        rig.now = 200000;
        const QString file = dir.filePath("drive.txt");
        rig.answers.push_back(TAString(file.toStdString()));
        rig.Record();
        QCOMPARE(rig.errors.shown.size(), std::size_t{1});
        QCOMPARE(rig.errors.shown[0].Message(), TAString("Recording incomplete"));
        const std::string detail = rig.errors.shown[0].Detail().str();
        QVERIFY2(detail.find("auto clutch") != std::string::npos, detail.c_str());
        QVERIFY2(detail.find("No automatic simulation") != std::string::npos, detail.c_str());
        QFile written(file);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll().toStdString(), rig.cockpit.RecordedText().str());

        // A file that cannot be written is told, never passed over.
        rig.Record();
        rig.answers.push_back(TAString(dir.filePath("no/such/folder/drive.txt").toStdString()));
        rig.Record();
        QCOMPARE(rig.errors.shown.size(), std::size_t{2});
        QCOMPARE(rig.errors.shown[1].Message(), TAString("Recording not written"));
    }
};

QTEST_MAIN(CockpitRecordTest)
#include "cockpitrecord_test.moc"
