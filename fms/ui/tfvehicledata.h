#pragma once
// The data monitor window: one row per signal of the catalogue with its name and a
// read-only field showing the text of its current value (TVehicleDataText), and
// "Hide". The main tick refreshes it during a run and empties it when a run starts.
// Modeless; hidden and shown as needed.
//
// Object names: the field of row i is "E_Value<i>" and its label "L_Name<i>";
// "L_ActualData", the scroll box "SB_Rows", the button "B_Hide" and, beside the
// heading, "L_Requests" with the run's J1939 requests ("Requests: 3 received,
// 2 answered, 1 refused").

#include "engine/trunmonitor.h"

#include <QWidget>

#include <vector>

class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class TBusFmsStandard;

class TFVehicleData : public QWidget, public TRunMonitor {
    Q_OBJECT
public:
    // The designed width and height. The window is wider where the names and values
    // need it in its font, and no higher than the usable area of the screen.
    static constexpr int FixedWidth = 386;
    static constexpr int InitialHeight = 484;

    explicit TFVehicleData(QWidget* parent = nullptr);

    // Field i shows Write() of signal i; with nullptr every field is emptied.
    // Passes on Write's TBaseError ("unknown type"), leaving the fields as they were.
    void ShowValues(const TBusFmsStandard* catalogue) override;
    void ShowRequests(const TRequestCounts& counts) override;

    void B_HideClick() { hide(); }

    int RowCount() const { return static_cast<int>(fields_.size()); }
    QLineEdit* ValueField(int row) const { return fields_.at(static_cast<std::size_t>(row)); }

protected:
    void resizeEvent(QResizeEvent* event) override;
    // Escape: Hide.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Layout();

    std::vector<QLineEdit*> fields_;
    QScrollArea* scroll_ = nullptr;
    QLabel* requests_ = nullptr;
    QPushButton* hide_ = nullptr;
    int scrollTop_ = 0;
    int scrollWidth_ = 0;
};
