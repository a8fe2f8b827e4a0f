#include "access/AddUserDialog.h"
#include "demo/FakeNetManagement.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QtTest>

using namespace vantor;

class AddUserDialogTest : public QObject {
    Q_OBJECT
private:
    static QStringList items(QComboBox* box)
    {
        QStringList texts;
        for (int i = 0; i < box->count(); ++i)
            texts << box->itemText(i);
        return texts;
    }
    static void clickOk(AddUserDialog& dialog)
    {
        dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    }

private slots:
    void offersAnyThenTheAccountsInServiceOrder()
    {
        FakeNetManagement net;
        net.setUsers({"zoe", "Alice", "bob"});
        AddUserDialog dialog(&net);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Add user"));
        auto* user = dialog.findChild<QComboBox*>(QStringLiteral("userBox"));
        auto* computer = dialog.findChild<QComboBox*>(QStringLiteral("computerBox"));
        QCOMPARE(items(user), (QStringList{QStringLiteral("<Any>"), QStringLiteral("zoe"), QStringLiteral("Alice"),
                                           QStringLiteral("bob")}));
        QCOMPARE(items(computer), QStringList{QStringLiteral("<Any>")});
        // Nothing is preselected and both fields start empty.
        QCOMPARE(user->currentIndex(), -1);
        QCOMPARE(computer->currentIndex(), -1);
        QVERIFY(user->currentText().isEmpty());
        QVERIFY(computer->currentText().isEmpty());
    }

    void aFailedEnumerationLeavesOnlyAny()
    {
        FakeNetManagement net;
        net.setUsers({"alice"});
        net.setStatus(FakeNetManagement::Op::EnumUsers, {5, "Access is denied."});
        AddUserDialog dialog(&net);
        QCOMPARE(items(dialog.findChild<QComboBox*>(QStringLiteral("userBox"))), QStringList{QStringLiteral("<Any>")});
    }

    void okTakesTheTextsAsTheyStandWithoutChecks()
    {
        FakeNetManagement net;
        net.setUsers({"alice"});
        AddUserDialog dialog(&net);
        auto* user = dialog.findChild<QComboBox*>(QStringLiteral("userBox"));
        user->setCurrentIndex(1);
        dialog.show();
        clickOk(dialog);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.user(), std::string("alice"));
        QCOMPARE(dialog.computer(), std::string());  // an empty computer is taken

        AddUserDialog typed(&net);
        typed.findChild<QComboBox*>(QStringLiteral("userBox"))->setEditText(QString(300, QLatin1Char('u')));
        typed.findChild<QComboBox*>(QStringLiteral("computerBox"))->setEditText(QStringLiteral("PC 7"));
        typed.show();
        clickOk(typed);
        QCOMPARE(typed.user().size(), std::size_t(255));
        QCOMPARE(typed.computer(), std::string("PC 7"));
        // Typed names do not become items.
        QCOMPARE(typed.findChild<QComboBox*>(QStringLiteral("computerBox"))->count(), 1);
    }
};

QTEST_MAIN(AddUserDialogTest)
#include "AddUserDialogTest.moc"
