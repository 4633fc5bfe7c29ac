#pragma once
// The CAN channel dialog (TFCanChannel) behind the main window's TCanChannelPort: its
// modal run and its OK-time messages go through the user query.

#include "app/ui/tcanchannelport.h"
#include "can/ui/tfcanchannel.h"
#include "can/ui/tusermessage.h"

class TUserQuery;

class TCanChannelDialog final : public TCanChannelPort, private TUserMessage {
public:
    explicit TCanChannelDialog(TUserQuery& query);

    void SetStyle(bool vector, bool vci2, bool vci3, bool simulation, bool qtCanBus) override;
    bool Execute(const TTreeKey& key) override;
    const TTreeKey& ResultKey() const override { return dialog_.ResultKey(); }

    TFCanChannel& Window() { return dialog_; }

private:
    void ShowMessage(const TAString& text, const TAString& caption) override;

    TUserQuery& query_;
    TFCanChannel dialog_;
};
