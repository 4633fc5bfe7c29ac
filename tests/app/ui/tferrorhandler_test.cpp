// The error dialog's boxes and the about box, through the user query.
#include "app/ui/tfbformueber.h"
#include "app/ui/tferrorhandler.h"
#include "fakeuserquery.h"

#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

class TFErrorHandlerTest : public QObject {
    Q_OBJECT

private slots:
    void tableErrorsShowCategoryAndText_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("box");
        QTest::newRow("buffer overrun") << "TCanBuffer::Write" << "write error" << "CAN error\nSending message failed\n";
        QTest::newRow("log file, empty operation")
            << "" << "Logfile Read Error" << "Log file error\nReading CAN log entry failed\n";
        QTest::newRow("operation only begins with the row's")
            << "TCanHigh::AddFrame" << "multipacket index error" << "CAN packet error\nIndex of CAN multi packet is wrong\n";
        QTest::newRow("Vector code appended")
            << "TCanDrvVector::TCanDrvVector" << "ncdOpenDriver201"
            << "VECTOR initialisation error\nOpening driver failed. Errorcode=201\n";
        QTest::newRow("driver not supported")
            << "TCanAdapters::OpenChannel" << "Driver not supported" << "CAN configuration error\nSelected driver not supported\n";
    }
    void tableErrorsShowCategoryAndText()
    {
        QFETCH(QString, operation);
        QFETCH(QString, message);
        QFETCH(QString, box);
        TFakeUserQuery query;
        TFErrorHandler handler(query);
        QCOMPARE(handler.ShowError(TBaseError(operation.toStdString(), message.toStdString())), 0);
        QCOMPARE(query.Boxes.size(), size_t{1});
        QCOMPARE(QString::fromStdString(query.Boxes[0].Text.str()), box);
        QCOMPARE(QString::fromStdString(query.Boxes[0].Caption.str()), QString("Tessmar - Quorvella"));
        QCOMPARE(query.Boxes[0].Icon, TUserQuery::icError);
        QVERIFY(!handler.isVisible());
    }

    void unknownErrorIsFatalWithBothTexts()
    {
        TFakeUserQuery query;
        TFErrorHandler handler(query);
        QCOMPARE(handler.ShowError(TBaseError("TFQuorvella::InitCan", "CAN: unknown error")), 1);
        QCOMPARE(query.Boxes.size(), size_t{1});
        QCOMPARE(QString::fromStdString(query.Boxes[0].Text.str()),
                 QString("Fatal error occured\nModul: TFQuorvella::InitCan\nMessage: CAN: unknown error"));
        QCOMPARE(query.Boxes[0].Icon, TUserQuery::icError);
    }

    // A run's errors hold nothing up: listed without a box, one row per kind, counted.
    void reportListsErrorsWithoutAModalBox()
    {
        TFakeUserQuery query;
        TFErrorHandler handler(query);
        QCOMPARE(handler.Report(TBaseError("TLogOut::Write", "Output log write error", "'a.asc': No space")), 0);
        QCOMPARE(handler.Report(TBaseError("TCanBuffer::Write", "write error")), 0);
        QCOMPARE(handler.Report(TBaseError("TLogOut::Write", "Output log write error", "'b.asc': File too large")), 0);
        QCOMPARE(handler.Report(TBaseError("TFQuorvella::InitCan", "CAN: unknown error")), 1);
        QVERIFY(query.Boxes.empty());
        QVERIFY(handler.isVisible());
        QCOMPARE(handler.Reported(), 4);
        QCOMPARE(handler.Kinds(), 3);
        auto* list = handler.findChild<QTreeWidget*>("T_Errors");
        QCOMPARE(list->topLevelItem(0)->text(0), QString("2"));
        QCOMPARE(list->topLevelItem(0)->text(1), QString("Log file error: Writing the output log failed"));
        QCOMPARE(list->topLevelItem(0)->text(2), QString("'b.asc': File too large"));
        QCOMPARE(list->topLevelItem(2)->text(1), QString("Fatal error occured: TFQuorvella::InitCan: CAN: unknown error"));
        // The row chosen shows its texts above the list.
        list->setCurrentItem(list->topLevelItem(1));
        QCOMPARE(handler.findChild<QLabel*>("L_Error")->text(), QString("CAN error"));
        QCOMPARE(handler.findChild<QLabel*>("L_Detail")->text(), QString("Sending message failed"));
        handler.Clear();
        QCOMPARE(handler.Reported(), 0);
        QCOMPARE(handler.Kinds(), 0);
    }

    void aboutBoxCentresNameAndVersionAndIsModal()
    {
        TFakeUserQuery query;
        TFBFormUeber about(query);
        QCOMPARE(about.windowTitle(), QString("Tessmar - Info"));
        QCOMPARE(about.ShowInfo("Quorvella", "Version 2.12"), int(QDialog::Accepted));
        QCOMPARE(query.Dialogs.size(), size_t{1});
        QCOMPARE(query.Dialogs[0], static_cast<QDialog*>(&about));

        auto* name = about.findChild<QLabel*>("L_ProgName");
        auto* version = about.findChild<QLabel*>("L_Version");
        QCOMPARE(name->text(), QString("Quorvella"));
        QCOMPARE(version->text(), QString("Version 2.12"));
        QCOMPARE(name->font().pixelSize(), 32);
        QCOMPARE(version->font().pixelSize(), 13);
        QCOMPARE(name->x(), (about.width() - name->width()) / 2);
        QCOMPARE(version->x(), (about.width() - version->width()) / 2);
        // A longer name moves its label left.
        const int before = name->x();
        about.ShowInfo("Quorvella Quorvella", "Version 2.12");
        QVERIFY(name->x() < before);

        auto* image = about.findChild<QLabel*>("Image1");
        QCOMPARE(image->size(), QSize(245, 124));
        QVERIFY(!image->pixmap().isNull());
    }

    void aboutBoxOkClosesWithAccepted()
    {
        TFakeUserQuery query;
        TFBFormUeber about(query);
        about.show();
        auto* ok = about.findChild<QPushButton*>("Button1");
        QCOMPARE(ok->text(), QString("&OK"));
        QTest::mouseClick(ok, Qt::LeftButton);
        QCOMPARE(about.result(), int(QDialog::Accepted));
        QVERIFY(!about.isVisible());
    }
};

QTEST_MAIN(TFErrorHandlerTest)
#include "tferrorhandler_test.moc"
