#include "app/ui/tcanchanneldialog.h"

#include "app/ui/tuserquery.h"

TCanChannelDialog::TCanChannelDialog(TUserQuery& query) : query_(query), dialog_(this)
{
    dialog_.setObjectName("TFCanChannel");
}

void TCanChannelDialog::SetStyle(bool vector, bool vci2, bool vci3, bool simulation, bool qtCanBus)
{
    dialog_.SetStyle(vector, vci2, vci3, simulation, qtCanBus);
}

bool TCanChannelDialog::Execute(const TTreeKey& key)
{
    dialog_.Fill(key);
    query_.Exec(dialog_);
    return dialog_.ModalResult() == TFCanChannel::mrOk;
}

void TCanChannelDialog::ShowMessage(const TAString& text, const TAString& caption)
{
    query_.Message(&dialog_, caption, text, TUserQuery::icNone);
}
