#pragma once
// The CAN channel configuration dialog: the driver, and for the simulation driver up to
// eight communication descriptions, for the Vector and IXXAT drivers the card type,
// index, channel and optionally the bit rate with the controller's bit timing, which
// the dialog proposes for a rate, recomputes as the user edits (BitTiming), marks red
// when out of range and checks on OK.
//
// It works on an adapter settings key (a key named after the driver identifier whose
// children hold texts): Execute fills the controls from it; OK builds a new key,
// ResultKey, which the application stores and turns into a channel description.
//
// Settings key written on OK: DriverName always; Comm[i] for each non-empty
// simulation field i; CardType ("-" when empty), CardIndex, Channel for a card driver;
// Baudrate, sjw, tseg1, tseg2, sam, presc when "init access" is ticked, each field a
// whole number and the timing consistent; Plugin, Interface and (when given) Baudrate for the Qt CAN bus driver.
// Missing children read as empty.
//
// Object names are the controls' names (CB_Driver, P_Simulation, E_SimComm1..8,
// P_SJA1000, CB_VectorCard, CB_Vci2Card, CB_Vci3Card, CB_VectorIndex,
// CB_VectorChannel, C_initaccess, P_VectorInitAccess, CB_Baudrate, E_sjw, E_tseg1,
// E_tseg2, E_sam, E_presc, B_OK, B_Cancel, and for the Qt CAN bus driver P_QtCanBus,
// CB_QtPlugin, CB_QtInterface, CB_QtBaudrate); labels are "L_" and the field's role.

#include "support/tastring.h"
#include "support/txmlelement.h"

#include <QDialog>

#include <array>
#include <memory>
#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QWidget;
class TTreeKey;
class TUserMessage;

class TFCanChannel : public QDialog {
    Q_OBJECT
public:
    // Modal results of Execute.
    static constexpr int mrNone = 0;
    static constexpr int mrOk = 1;
    static constexpr int mrCancel = 2;
    static constexpr int SimChannels = 8;

    // Offers all four drivers. messages: where the OK checks speak (not owned);
    // nullptr shows message boxes.
    explicit TFCanChannel(TUserMessage* messages = nullptr, QWidget* parent = nullptr);
    ~TFCanChannel() override;

    // Offers, in this order and only where set, the drivers "Vector3.2", "Vci2.0",
    // "Vci3.0", "Simulation" and "QtCanBus" under their captions in the driver table
    // (QtCanBusDriverTable): "Vector Informatik GmbH (VCANL 3.2)", "IXXAT GmbH (VCI 2.x)",
    // "IXXAT GmbH (VCI 3.x)", "Simulation", "Qt CAN bus (SocketCAN, PEAK, virtual CAN)".
    void SetStyle(bool vector, bool vci2, bool vci3, bool simulation, bool qtCanBus = false);

    // Fill(key), then shows the dialog modally; mrOk or mrCancel.
    int Execute(const TTreeKey& key);
    // Execute without showing: the key becomes the result key and the working copy and
    // the controls are filled from it. The modal result is back to mrNone.
    void Fill(const TTreeKey& key);

    // The key built by the last OK; before any OK the key given to Execute.
    const TTreeKey& ResultKey() const { return result_; }
    // mrNone until OK or Cancel closed the dialog after the last Fill.
    int ModalResult() const { return modalResult_; }
    // The channel description of a settings key (TCanAdapters::ChannelDescription).
    static TAString ChannelDescription(const TTreeKey& key);

    // The identifier of the selected driver; empty when the combo's text is no caption.
    const TAString& SelectedDriver() const { return selected_; }

    // The handlers, as the controls call them.
    void SelectDriver();
    void ProposeTiming();
    void RecomputePresc();
    void CheckSjw();
    void CheckSam();
    void B_OKClick();
    void B_CancelClick();

    // Where the OK checks speak from now on (not owned); nullptr: message boxes.
    void SetMessages(TUserMessage* messages);

public slots:
    // Cancel, Escape and the close box: mrCancel, the result key stays as it was.
    void reject() override;

private:
    void Build();
    void BuildQtCanBus(QWidget* group);
    void PlaceControls(QWidget* group, QPushButton* ok, QPushButton* cancel);
    void FillQtPlugins();
    void FillQtInterfaces();
    QComboBox* CardBox() const;

    std::unique_ptr<TUserMessage> ownMessages_;
    TUserMessage* messages_;

    std::vector<TAString> ids_;
    TAString selected_;
    TXmlElement working_;
    TXmlElement result_;
    int modalResult_ = mrNone;

    QComboBox* driver_ = nullptr;
    QWidget* simulation_ = nullptr;
    std::array<QLineEdit*, SimChannels> comm_{};
    QWidget* sja1000_ = nullptr;
    QComboBox* vectorCard_ = nullptr;
    QComboBox* vci2Card_ = nullptr;
    QComboBox* vci3Card_ = nullptr;
    QComboBox* index_ = nullptr;
    QComboBox* channel_ = nullptr;
    QCheckBox* initAccess_ = nullptr;
    QWidget* initPanel_ = nullptr;
    QComboBox* baudrate_ = nullptr;
    QLineEdit* sjw_ = nullptr;
    QLineEdit* tseg1_ = nullptr;
    QLineEdit* tseg2_ = nullptr;
    QLineEdit* sam_ = nullptr;
    QLineEdit* presc_ = nullptr;
    QWidget* qtCanBus_ = nullptr;
    QComboBox* qtPlugin_ = nullptr;
    QComboBox* qtInterface_ = nullptr;
    QComboBox* qtBaudrate_ = nullptr;
};
