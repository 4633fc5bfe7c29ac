#pragma once
// The user as the window tests play it: boxes are recorded, file dialogs answered from
// queues (an empty queue cancels), dialogs recorded and answered with ExecResult.

#include "app/ui/tuserquery.h"

#include <QDialog>

#include <deque>
#include <functional>
#include <optional>
#include <vector>

class TFakeUserQuery final : public TUserQuery {
public:
    struct TBox {
        TAString Caption;
        TAString Text;
        TIcon Icon;
    };
    std::vector<TBox> Boxes;
    std::deque<std::optional<TAString>> OpenAnswers;
    std::deque<std::optional<TAString>> SaveAnswers;
    std::vector<TFileRequest> OpenRequests;
    std::vector<TFileRequest> SaveRequests;
    std::vector<QDialog*> Dialogs;
    int ExecResult = QDialog::Accepted;
    // Plays the user inside a dialog instead of ExecResult.
    std::function<int(QDialog&)> OnExec;

    void Message(QWidget*, const TAString& caption, const TAString& text, TIcon icon) override
    {
        Boxes.push_back({caption, text, icon});
    }
    std::optional<TAString> OpenFileName(QWidget*, const TFileRequest& request) override
    {
        OpenRequests.push_back(request);
        return Next(OpenAnswers);
    }
    std::optional<TAString> SaveFileName(QWidget*, const TFileRequest& request) override
    {
        SaveRequests.push_back(request);
        return Next(SaveAnswers);
    }
    int Exec(QDialog& dialog) override
    {
        Dialogs.push_back(&dialog);
        return OnExec ? OnExec(dialog) : ExecResult;
    }

private:
    static std::optional<TAString> Next(std::deque<std::optional<TAString>>& answers)
    {
        if (answers.empty()) return std::nullopt;
        std::optional<TAString> answer = answers.front();
        answers.pop_front();
        return answer;
    }
};
