#pragma once
// Wraps a text control (line edit, editable combo box or multi-line edit) and gives
// it a committed value: the user's text is committed on Enter (not in a multi-line
// edit) or when the control loses focus, Escape puts the committed text back, and
// the text is coloured red while invalid, green while valid and changed, black
// otherwise. The notification fires only on a user commit, never on a program Commit.
// A program Commit while the user is typing validates but does not overwrite.
//
// Only text the user changed is committed: Enter or leaving the control commits when
// the text differs from what the control showed when it got the focus (or since the
// last commit, or since the program last put text in). A field that shows values of
// the running model, merely clicked into and left, thus never writes its old value back.

#include "sim/teditrule.h"

#include <QObject>

#include <functional>
#include <memory>

class QWidget;

class TAStringEdit : public QObject {
    Q_OBJECT
public:
    using TNotify = std::function<void(QWidget* sender)>;
    enum class TKind { None, Edit, Combo, Memo };

    TAStringEdit(QWidget* control, TNotify notify, int16_t minLength, int16_t maxLength);
    // A text control whose text rule accepts, committing the control's text as it stands.
    static std::unique_ptr<TAStringEdit> WithRule(QWidget* control, TNotify notify, std::unique_ptr<TEditRule> rule);
    ~TAStringEdit() override;

    virtual bool IsValid(const TAString& text) const { return rule_->IsValid(text); }
    // Stores text as the committed value if the control's text is valid (see above).
    virtual bool Commit(const TAString& text);

    const TAString& Committed() const { return committed_; }
    bool Editing() const { return editing_; }
    QWidget* Control() const { return control_; }
    TKind Kind() const { return kind_; }
    TAString ControlText() const;
    TEditColour Colour() const { return colour_; }

protected:
    TAStringEdit(QWidget* control, TNotify notify, std::unique_ptr<TEditRule> rule);
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Called after a successful Commit stored text.
    virtual void OnCommitted(const TAString&) {}

private:
    void Attach();
    void UserCommit();
    // Enter or leaving the control: UserCommit when the user changed the text.
    void EndEditing();
    void SetControlText(const TAString& text);
    void Paint(TEditColour colour);

    QWidget* control_;
    TKind kind_;
    TNotify notify_;
    std::unique_ptr<TEditRule> rule_;
    TAString committed_;
    TAString unchanged_;   // the text the user has not changed (see above)
    bool editing_ = false;
    TEditColour colour_ = TEditColour::Black;
};

// A numeric field: valid text is a plain decimal number within [min, max].
class TANumEdit : public TAStringEdit {
    Q_OBJECT
public:
    TANumEdit(QWidget* control, TNotify notify, double min, double max, double step);

    virtual double GetNumber() const { return number_; }
    double Step() const { return step_; }

protected:
    void OnCommitted(const TAString& text) override;

private:
    double step_;
    double number_ = 0;
};
