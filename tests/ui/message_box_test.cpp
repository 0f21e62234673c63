// SPDX-License-Identifier: GPL-3.0-or-later
// The program's messages shown as Qt message boxes: caption, CP932 text, buttons and answers.
#include "dialog_test_app.h"
#include "ui/message_box.h"

#include "base/message.h"
#include "tests/support/test_support.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

struct Shown {
    QString title, text;
    QStringList buttons;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Shows the box, reads it and presses the button with the given text.
int ShowAndPress(const std::string& text, std::string_view caption, unsigned type,
                 const QString& press, Shown& shown) {
    QObject context;
    QTimer::singleShot(0, &context, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        shown.title = box->windowTitle();
        shown.text = box->text();
        shown.icon = box->icon();
        for (QAbstractButton* b : box->buttons()) {
            shown.buttons << b->text();
            if (b->text() == press)
                b->click();
        }
    });
    return ShowQtMessageBox(text, std::string(caption), type);
}

TEST(MessageBox, QuestionsAnswerYesOrNo) {
    EnsureDialogTestApp();
    const std::string question = Sj("新規音源ファイルを作成しますか？");
    for (const auto& [press, expected] : {std::pair{QString::fromUtf8("はい(&Y)"), IDYES},
                                          {QString::fromUtf8("いいえ(&N)"), IDNO}}) {
        Shown shown;
        EXPECT_EQ(ShowAndPress(question, kAppTitle, MB_YESNO | MB_ICONEXCLAMATION, press, shown),
                  expected);
        EXPECT_EQ(shown.title, QString("Otomaru"));
        EXPECT_EQ(shown.text, QString::fromUtf8("新規音源ファイルを作成しますか？"));
        EXPECT_EQ(shown.icon, QMessageBox::Warning);
        EXPECT_EQ(shown.buttons.size(), 2);
    }
}

TEST(MessageBox, ErrorsHaveOneOkButton) {
    EnsureDialogTestApp();
    Shown shown;
    EXPECT_EQ(ShowAndPress("DirectSoundCreate failed", kErrorCaption, MB_OK, "OK", shown), IDOK);
    EXPECT_EQ(shown.title, QString("Error"));
    EXPECT_EQ(shown.buttons, QStringList{"OK"});
}

} // namespace
