#pragma once
// The validity manipulation window: one row per signal with an editable combo box of
// the signal's choices (TValidManip), and "Autoapply", "Apply", "OK", "Cancel".
// The window only records the choices; the main tick calls Execute, which forces the
// applied choices onto the catalogue. Modeless; hidden and shown as needed.
//
// A filter field above the rows ("E_Filter") keeps the rows whose signal's name, group,
// PGN or SPN match as the user types (TSignalMonitor::Matches); the choices of the rows
// it hides stay as they are.
//
// Object names: the combo box of row i is "C_Range<i>" and its label "L_Name<i>";
// "CB_Autoapply", "B_Apply", "B_OK", "B_Cancel"; the scroll box "SB_Rows" and the
// button panel "P_Buttons". In the scrolling list the mouse wheel scrolls; a combo box
// takes the wheel only while it has the focus.

#include "engine/trunvalidity.h"
#include "engine/tsignalmonitor.h"
#include "fms/tvalidmanip.h"

#include <QWidget>

#include <vector>

class QCheckBox;
class QComboBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class TBusFmsStandard;
class TErrorReporter;

class TFValidFlagManip : public QWidget, public TRunValidity {
    Q_OBJECT
public:
    // The designed width and height. The window is wider where the names and choices
    // need it in its font, and no higher than the usable area of the screen.
    static constexpr int FixedWidth = 407;
    static constexpr int InitialHeight = 822;

    // Rows from a temporary catalogue of FMS version "00.02".
    explicit TFValidFlagManip(QWidget* parent = nullptr);
    // Rows from the names and bit lengths of catalogue's signals.
    explicit TFValidFlagManip(const TBusFmsStandard& catalogue, QWidget* parent = nullptr);

    // Forces the applied choices onto every signal of catalogue. The name of a row whose
    // value is then out of range ("o", kept under "Valid Signal") turns red, with a tip.
    void Execute(TBusFmsStandard& catalogue) override;
    uint64_t ChoicesVersion() const override { return manip_.Version(); }
    // Whether row's name shows its value out of range.
    bool ShowsOutOfRange(int row) const;

    // The change event of a combo box. Throws TBaseError("TFValidFlagManip::OnRangeChange",
    // "CastError") when sender is not one of the rows' combo boxes.
    void OnRangeChange(QObject* sender);

    // The handlers of the buttons and the check box.
    void B_ApplyClick();
    void B_OKClick();
    void B_CancelClick();
    void CB_AutoapplyClick();

    // Where an error of a change event is shown; nullptr (the default) drops it.
    void SetErrorReporter(TErrorReporter* reporter) { errors_ = reporter; }

    // Shows only the rows that match filter (all for an empty one), one under the other.
    void SetFilter(const QString& filter);
    bool RowShown(int row) const;

    const TValidManip& Manip() const { return manip_; }
    // What a scenario and the control API force through (on the window thread).
    TValidManip& Manip() { return manip_; }
    QComboBox* RangeBox(int row) const { return boxes_.at(static_cast<std::size_t>(row)); }

protected:
    void resizeEvent(QResizeEvent* event) override;
    // Enter: OK; Escape: Cancel.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Build();
    void Layout();
    void ShowPending();

    TValidManip manip_;
    std::vector<QComboBox*> boxes_;
    std::vector<QLabel*> labels_;
    std::vector<bool> outOfRange_;   // what each row's name shows
    std::vector<TSignalRow> signals_;   // what the filter matches, per row
    std::vector<bool> shown_;
    QLineEdit* filter_ = nullptr;
    QWidget* rows_ = nullptr;
    int boxLeft_ = 0;
    int boxWidth_ = 0;
    int boxHeight_ = 0;
    int pitch_ = 0;
    QScrollArea* scroll_ = nullptr;
    QWidget* panel_ = nullptr;
    QCheckBox* autoapply_ = nullptr;
    QPushButton* apply_ = nullptr;
    TErrorReporter* errors_ = nullptr;
    int scrollTop_ = 0;
    int scrollWidth_ = 0;
};
