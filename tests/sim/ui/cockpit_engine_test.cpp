// The cockpit window stepped by the run engine's tick: what the user does in the
// window must reach the frames on the bus.
#include "tests/engine/runfakes.h"
#include "engine/tcantransmit.h"
#include "engine/trunengine.h"
#include "engine/ttimesource.h"
#include "can/tcanchannel.h"
#include "sim/tlkw.h"
#include "sim/ui/tfsim_lkw.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QtTest>

#include <cstdint>
#include <string>
#include <vector>

namespace {

// PGN of a frame: identifier bits 8 to 23 (PDU format and PDU specific).
uint32_t Pgn(const TCanFrame& f) { return (f.Id >> 8) & 0xFFFF; }

// EEC1 (PGN F004) engine speed: bytes 3 and 4, little-endian, 0.125 rpm per bit.
double EngineSpeed(const TCanFrame& f) { return (f.Data[3] | (f.Data[4] << 8)) * 0.125; }

}  // namespace

class CockpitEngineTest : public QObject {
    Q_OBJECT

private:
    struct Rig {
        TManualTimeSource clock{1000000};
        TFrameListTransmit transmit;
        TSilentChannel channel;
        TRunEngine engine{clock, transmit};
        TFSim_Lkw cockpit;

        Rig()
        {
            engine.SetCanChannel(&channel);
            engine.SetCockpit(&cockpit);
            cockpit.SetRunControl([this] { engine.Start(); }, [this] { return engine.Running(); });
            cockpit.show();
        }
        ~Rig() { engine.SetCanChannel(nullptr); }

        // Real time moves on in ticks of 50 ms, as the window timer fires.
        void Run(int ms)
        {
            for (int t = 0; t < ms; t += TRunEngine::TickIntervalMs) {
                clock.AdvanceMicros(TRunEngine::TickIntervalMs * 1000);
                engine.TimerSysTimer();
            }
        }
        std::vector<TCanFrame> Eec1From(size_t first) const
        {
            std::vector<TCanFrame> out;
            for (size_t i = first; i < transmit.sent.size(); ++i)
                if (Pgn(transmit.sent[i]) == 0xF004) out.push_back(transmit.sent[i]);
            return out;
        }
        template <class T> T* Get(const char* name) { return cockpit.findChild<T*>(name); }
    };

    static void ClickSliderAt(QSlider* slider, bool top)
    {
        QTest::mouseClick(slider, Qt::MiddleButton, {}, QPoint(slider->width() / 2, top ? 1 : slider->height() - 2));
    }

private slots:
    void StarterStartsARunWhenNoneIsInProgress()
    {
        Rig rig;
        QVERIFY(!rig.engine.Running());
        QTest::mouseClick(rig.Get<QPushButton>("Starter"), Qt::LeftButton);
        QVERIFY(rig.engine.Running());
        QCOMPARE(rig.cockpit.Lkw().GetMV("Drehzahl"), 245.0);
        rig.Run(500);
        QVERIFY(rig.engine.SimTime() >= 450000);
        QVERIFY(!rig.Eec1From(0).empty());

        // During the run the starter only turns the engine over; the run goes on.
        QTest::mouseClick(rig.Get<QPushButton>("Starter"), Qt::LeftButton);
        QVERIFY(rig.engine.SimTime() >= 450000);
    }

    void AcceleratorBarChangesEngineSpeedInEec1()
    {
        Rig rig;
        ClickSliderAt(rig.Get<QSlider>("TB_Gang"), false);    // neutral: the engine revs freely
        ClickSliderAt(rig.Get<QSlider>("TB_Accel"), false);   // 0 %
        QTest::mouseClick(rig.Get<QPushButton>("Starter"), Qt::LeftButton);
        rig.Run(1000);
        // Idling: without pedal the torque crosses zero near 14 % of 3500 rpm.
        const auto before = rig.Eec1From(0);
        QVERIFY(before.size() >= 40);   // every 20 ms
        const double idle = EngineSpeed(before.back());
        QVERIFY(idle > 200.0 && idle < 600.0);

        const size_t mark = rig.transmit.sent.size();
        ClickSliderAt(rig.Get<QSlider>("TB_Accel"), true);    // 100 %
        // Full pedal in neutral gives at least 30 % torque: +36 rpm per 20 ms step.
        rig.Run(200);
        const auto soon = rig.Eec1From(mark);
        QVERIFY(!soon.empty());
        QVERIFY(EngineSpeed(soon.back()) > idle + 100.0);
        rig.Run(1000);
        QVERIFY(EngineSpeed(rig.Eec1From(mark).back()) > 1500.0);
    }

    void DriverIdentificationTypedInTheCockpitIsInTheDiTransfer()
    {
        Rig rig;
        auto* driver = rig.Get<QLineEdit>("E_DID1");
        driver->setFocus();
        driver->selectAll();
        QTest::keyClicks(driver, "QV_DRIVER_4711");
        QTest::keyClick(driver, Qt::Key_Return);
        QTest::mouseClick(rig.Get<QPushButton>("Starter"), Qt::LeftButton);
        // The driver identification group first goes out some 5 s into the run, its five packets
        // 100 ms apart.
        rig.Run(6000);

        // The broadcast announce (TP.CM, control byte 32) names PGN FE6B in bytes 5 to 7;
        // the data packets (TP.DT) that follow carry 7 bytes each after their sequence number.
        std::string data;
        bool inDi = false;
        int packets = 0;
        for (const TCanFrame& f : rig.transmit.sent) {
            const uint32_t pf = (f.Id >> 16) & 0xFF;
            if (pf == 0xEC && f.Data[0] == 32) {
                inDi = (f.Data[5] | (f.Data[6] << 8) | (f.Data[7] << 16)) == 0xFE6B;
                packets = f.Data[3];
            } else if (pf == 0xEB && inDi && packets > 0) {
                for (int i = 1; i < 8; ++i) data += static_cast<char>(f.Data[i]);
                --packets;
            }
        }
        QVERIFY2(data.find("QV_DRIVER_4711*GB_Driver_ID_000002*") == 0, data.c_str());
    }
};

QTEST_MAIN(CockpitEngineTest)
#include "cockpit_engine_test.moc"
