#pragma once
// The about box "Tessmar - Info": program name, version, the product picture and a line
// about the program. ShowInfo fills in name and version, centres both labels and shows
// the box modally (through the user query); "&OK" closes it.

#include <QDialog>
#include <QPixmap>

class QLabel;
class TUserQuery;

class TFBFormUeber : public QDialog {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 300;
    static constexpr int ClientHeight = 300;
    static constexpr int PictureWidth = 245;
    static constexpr int PictureHeight = 124;

    explicit TFBFormUeber(TUserQuery& query, QWidget* parent = nullptr);

    // Sets and centres the texts, then shows the box modally; returns its result.
    int ShowInfo(const QString& progName, const QString& version);

    // The product picture: a bus on a road with the CAN signal it sends (transparent
    // background).
    static QPixmap ProductPicture();

private:
    void CentreLabel(QLabel* label);

    TUserQuery& query_;
    QLabel* L_ProgName = nullptr;
    QLabel* L_Version = nullptr;
};
