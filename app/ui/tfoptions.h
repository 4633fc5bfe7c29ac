#pragma once
// The options window "Tessmar - Manipulation - Options": source address and priority
// written into every parameter group of the vehicle simulation, and which groups are
// sent at all. Apply (and OK) turns the edits into the applied record, which the run
// engine reads at every request; the rules are TOptionsEditor's. Cancel shows the
// applied record again. Bad text is only coloured red while typing; Apply replaces it.
//
// "Control API" (GB_Control): whether the main window serves the HTTP control API
// (CB_Control, off by default), its port (E_ControlPort), the address it listens on
// (E_ControlAddress, empty: the loopback address) and the file holding the bearer token
// (E_ControlToken, needed for any other address). Apply writes them into the settings
// (TSettingsFile::SetControl) and, when they changed, tells the main window.

#include "engine/tframeoptions.h"

#include <QWidget>

#include <functional>

class QCheckBox;
class QKeyEvent;
class QLineEdit;
class QListWidget;
class QPushButton;
class TBusFmsStandard;
class TUserQuery;
class TXmlElement;

class TFOptions : public QWidget {
    Q_OBJECT
public:
    // The designed client area; larger where the font needs it.
    static constexpr int ClientWidth = 401;
    static constexpr int ClientHeight = 474;

    // applied: the record the engine reads (TRunEngine::Options); it is reset to the
    // defaults here and changed only by Apply.
    TFOptions(const TBusFmsStandard& catalogue, TFrameOptions& applied, TUserQuery& query,
              QWidget* parent = nullptr);

    const TFrameOptions& Applied() const { return applied_; }

    // The settings tree the control API's entries live in (must outlive the window), and
    // what to call once Apply changed them. Until this is called the group is disabled.
    void SetControl(TXmlElement& config, std::function<void()> changed);

    void B_ApplyClick();
    void B_OKClick();
    void B_CancelClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Enter: OK; Escape: Cancel.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void FormCreate(const TBusFmsStandard& catalogue);
    void CB_FormClick();
    void E_PrioChange();
    void E_SourceAdrChange();
    void Apply();
    static void SetTextColour(QLineEdit* edit, bool ok);
    void ShowControl();
    void ApplyControl();

    TFrameOptions& applied_;
    TUserQuery& query_;
    QLineEdit* E_SourceAdr = nullptr;
    QLineEdit* E_Prio = nullptr;
    QListWidget* CLB_Frames = nullptr;
    QPushButton* B_OK = nullptr;
    QPushButton* B_Apply = nullptr;
    QPushButton* B_Cancel = nullptr;
    QCheckBox* CB_Control = nullptr;
    QLineEdit* E_ControlPort = nullptr;
    QLineEdit* E_ControlAddress = nullptr;
    QLineEdit* E_ControlToken = nullptr;
    TXmlElement* config_ = nullptr;
    std::function<void()> controlChanged_;
};
