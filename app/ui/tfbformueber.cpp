#include "app/ui/tfbformueber.h"

#include "app/ui/tuserquery.h"
#include "support/ui/tscreenfit.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

TFBFormUeber::TFBFormUeber(TUserQuery& query, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      query_(query)
{
    setObjectName("TFBFormUeber");
    setWindowTitle("Tessmar - Info");

    L_ProgName = new QLabel(this);
    L_ProgName->setObjectName("L_ProgName");
    QFont big = L_ProgName->font();
    big.setPixelSize(32);
    big.setBold(true);
    L_ProgName->setFont(big);
    L_ProgName->move(0, 10);

    L_Version = new QLabel(this);
    L_Version->setObjectName("L_Version");
    QFont small = L_Version->font();
    small.setPixelSize(13);
    L_Version->setFont(small);
    L_Version->move(0, 56);

    auto* image = new QLabel(this);
    image->setObjectName("Image1");
    image->setGeometry((ClientWidth - PictureWidth) / 2, 82, PictureWidth, PictureHeight);
    image->setScaledContents(true);
    image->setAttribute(Qt::WA_TranslucentBackground);
    image->setPixmap(ProductPicture());

    auto* line = new QLabel("Bus-FMS interface simulator for SAE J1939", this);
    line->setObjectName("L_Product");
    line->setAlignment(Qt::AlignCenter);

    auto* ok = new QPushButton("&OK", this);
    ok->setObjectName("Button1");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    // The designed box, wider and taller where the line and the button need it in
    // the box's font.
    const QSize lineSize = line->sizeHint();
    const QSize okSize(std::max(84, ok->sizeHint().width()), std::max(28, ok->sizeHint().height()));
    const int width = std::max(ClientWidth, lineSize.width() + 16);
    const int lineTop = 214;
    const int okTop = std::max(252, lineTop + lineSize.height() + 12);
    setFixedSize(width, std::max(ClientHeight, okTop + okSize.height() + 20));
    image->move((width - PictureWidth) / 2, image->y());
    line->setGeometry(0, lineTop, width, std::max(20, lineSize.height()));
    ok->setGeometry((width - okSize.width()) / 2, okTop, okSize.width(), okSize.height());

    TScreenFit::Centre(*this);
    TScreenFit::Keep(*this);
}

void TFBFormUeber::CentreLabel(QLabel* label)
{
    label->adjustSize();
    label->move((width() - label->width()) / 2, label->y());
}

int TFBFormUeber::ShowInfo(const QString& progName, const QString& version)
{
    L_Version->setText(version);
    CentreLabel(L_Version);
    L_ProgName->setText(progName);
    CentreLabel(L_ProgName);
    return query_.Exec(*this);
}

QPixmap TFBFormUeber::ProductPicture()
{
    QPixmap picture(PictureWidth, PictureHeight);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);

    // Road.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(90, 90, 96));
    p.drawRect(0, 96, PictureWidth, 10);
    p.setBrush(QColor(240, 240, 240));
    for (int x = 6; x < PictureWidth; x += 28) p.drawRect(x, 100, 14, 2);

    // Bus body with windows and doors.
    const QRectF body(18, 34, 150, 56);
    p.setBrush(QColor(0, 92, 160));
    p.drawRoundedRect(body, 8, 8);
    p.setBrush(QColor(255, 196, 0));
    p.drawRect(QRectF(18, 74, 150, 5));
    p.setBrush(QColor(200, 228, 250));
    for (int i = 0; i < 5; ++i) p.drawRoundedRect(QRectF(26 + i * 25, 42, 20, 20), 3, 3);
    p.drawRoundedRect(QRectF(152, 42, 12, 26), 3, 3);
    p.setBrush(QColor(0, 60, 110));
    p.drawRect(QRectF(60, 66, 14, 22));
    p.drawRect(QRectF(118, 66, 14, 22));

    // Wheels.
    for (double cx : {48.0, 138.0}) {
        p.setBrush(QColor(30, 30, 30));
        p.drawEllipse(QPointF(cx, 92), 11, 11);
        p.setBrush(QColor(180, 180, 180));
        p.drawEllipse(QPointF(cx, 92), 4.5, 4.5);
    }

    // Telematics unit on the roof and the CAN signal it receives.
    p.setBrush(QColor(60, 60, 60));
    p.drawRoundedRect(QRectF(100, 26, 26, 8), 2, 2);
    p.setPen(QPen(QColor(255, 196, 0), 2));
    p.drawLine(QPointF(113, 26), QPointF(113, 14));
    p.drawArc(QRectF(105, 4, 16, 16), 30 * 16, 120 * 16);

    QPainterPath signal;
    const double y0 = 70;
    const double hi = 44;
    signal.moveTo(176, y0);
    const int bits[] = {1, 0, 1, 1, 0, 0, 1, 0, 1, 1};
    double x = 176;
    double level = y0;
    for (int bit : bits) {
        const double y = bit ? hi : y0;
        if (y != level) signal.lineTo(x, y);
        level = y;
        x += 6.4;
        signal.lineTo(x, level);
    }
    p.setPen(QPen(QColor(0, 150, 70), 2));
    p.setBrush(Qt::NoBrush);
    p.drawPath(signal);
    p.setPen(QColor(0, 92, 160));
    QFont font = p.font();
    font.setPixelSize(11);
    font.setBold(true);
    p.setFont(font);
    p.drawText(QRectF(172, 74, 70, 14), Qt::AlignCenter, "J1939");
    return picture;
}
